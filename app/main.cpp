// Start-up: the application with its title, the main window, the hidden
// progress window, then the event loop until the main window is closed.
#include "engine/replace/Convert.h"
#include "ui/Application.h"
#include "ui/Artwork.h"
#include "ui/Main_f.h"
#include "ui/PBar_f.h"

int main(int, char** argv)
{
    // The program takes no command line: not even the toolkit gets to read one.
    int argumentCount = 1;
    dxfkonv::TApplication application(argumentCount, argv);
    dxfkonv::RemoveWorkFilesOnSignals();
    // A write past the file-size limit is "Disk full." in a message box,
    // not the end of the program in the middle of a pass.
    dxfkonv::IgnoreSignalsOfFailedWrites();
    application.SetTitle(QString::fromLatin1(dxfkonv::kApplicationTitle));
    application.setWindowIcon(dxfkonv::AppIcon());
    application.setDesktopFileName(QStringLiteral("dxfkonv"));

    dxfkonv::TMainForm MainForm;
    dxfkonv::TPBarForm PBarForm;
    MainForm.SetPBarForm(&PBarForm);

    MainForm.show();
    return application.exec();
}
