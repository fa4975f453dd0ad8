// Start-up: the application with its title, the main window, the hidden
// progress window, then the event loop until the main window is closed.
// `dxfkonv PATH...` starts in the first path's directory with the drawings
// named selected (a "--" first lets a path begin with "-").
#include <QByteArray>
#include <QList>

#include "engine/replace/Convert.h"
#include "ui/qt/Application.h"
#include "ui/qt/Artwork.h"
#include "ui/qt/FileLists.h"
#include "ui/qt/Main_f.h"
#include "ui/qt/PBar_f.h"

int main(int argc, char** argv)
{
    // The arguments are paths, the toolkit's options among them none: Qt
    // gets no command line to read them from.
    const QList<QByteArray> paths = dxfkonv::CommandLinePaths(argc, argv, dxfkonv::CurrentDirectory());
    int argumentCount = 1;
    dxfkonv::TApplication application(argumentCount, argv);
    dxfkonv::RemoveWorkFilesOnSignals();
    // A write past the file-size limit is "Disk full." in a message box,
    // not the end of the program in the middle of a pass.
    dxfkonv::IgnoreSignalsOfFailedWrites();
    application.SetTitle(QString::fromLatin1(dxfkonv::kApplicationTitle));
    application.setWindowIcon(dxfkonv::AppIcon());
    application.setDesktopFileName(QStringLiteral("dxfkonv"));

    dxfkonv::TMainForm MainForm(dxfkonv::SystemFileSystem());
    dxfkonv::TPBarForm PBarForm;
    MainForm.SetPBarForm(&PBarForm);

    MainForm.show();
    if (!paths.isEmpty())
        dxfkonv::RunHandler([&] { MainForm.HandOver(paths); });
    return application.exec();
}
