// Builds the program's two windows in the current directory and saves
// what they show as OUTDIR/main-window.png and OUTDIR/progress-window.png.
//
//   dxfkonv_grab_windows OUTDIR [PERCENT [NAME...]]
//
// NAMEs are selected in the file list; the progress window names the first
// of them, its gauge at PERCENT. Run by scripts/screenshots.sh.
#include <QDir>
#include <QStringList>
#include <QtGlobal>

#include <cstdio>

#include "ui/qt/Application.h"
#include "ui/qt/Artwork.h"
#include "ui/qt/Main_f.h"
#include "ui/qt/PBar_f.h"

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    dxfkonv::TApplication application(argc, argv);
    application.setWindowIcon(dxfkonv::AppIcon());
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: dxfkonv_grab_windows OUTDIR [PERCENT [NAME...]]\n");
        return 2;
    }
    const QDir out(args[1]);
    const int percent = args.size() > 2 ? args[2].toInt() : 50;
    const QStringList selected = args.mid(3);

    dxfkonv::TMainForm MainForm(dxfkonv::SystemFileSystem());
    dxfkonv::TPBarForm PBarForm;
    MainForm.SetPBarForm(&PBarForm);
    for (int i = 0; i < MainForm.FileBox->count(); ++i)
        MainForm.FileBox->item(i)->setSelected(selected.contains(MainForm.FileBox->item(i)->text()));
    MainForm.show();
    MainForm.activateWindow();
    QCoreApplication::processEvents();
    if (!MainForm.grab().save(out.filePath(QStringLiteral("main-window.png")))) {
        std::fprintf(stderr, "cannot write into %s\n", qPrintable(out.path()));
        return 1;
    }

    const QString shown = selected.isEmpty() ? QStringLiteral("PLAN.DXF") : selected.first();
    PBarForm.setWindowTitle(QStringLiteral("Konvertuje se soubor ") + shown);
    PBarForm.Gauge1->SetProgress(percent);
    PBarForm.ShowDrawn();
    if (!PBarForm.grab().save(out.filePath(QStringLiteral("progress-window.png")))) {
        std::fprintf(stderr, "cannot write into %s\n", qPrintable(out.path()));
        return 1;
    }
    std::printf("%s\n%s\n", qPrintable(out.filePath(QStringLiteral("main-window.png"))),
                qPrintable(out.filePath(QStringLiteral("progress-window.png"))));
    return 0;
}
