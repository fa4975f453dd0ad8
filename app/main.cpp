// Start-up: the application with its title, the main window, the hidden
// progress window, then the event loop until the main window is closed.
#include "ui/Application.h"
#include "ui/Artwork.h"
#include "ui/Main_f.h"
#include "ui/PBar_f.h"

int main(int argc, char** argv)
{
    dxfkonv::TApplication application(argc, argv);
    application.SetTitle(QString::fromLatin1(dxfkonv::kApplicationTitle));
    application.setWindowIcon(dxfkonv::AppIcon());
    application.setDesktopFileName(QStringLiteral("dxfkonv"));

    dxfkonv::TMainForm MainForm;
    dxfkonv::TPBarForm PBarForm;
    MainForm.SetPBarForm(&PBarForm);

    MainForm.show();
    return application.exec();
}
