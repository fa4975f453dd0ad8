// Writes the program's icon as PNG files in the hicolor theme's layout:
// OUTDIR/hicolor/NxN/apps/dxfkonv.png. Run by the build for installing.
#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>

#include "ui/Artwork.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString dir = QStringLiteral("%1/hicolor/%2x%2/apps").arg(out).arg(size);
        if (!QDir().mkpath(dir) || !dxfkonv::DrawIcon(size).save(dir + QStringLiteral("/dxfkonv.png"))) {
            std::fprintf(stderr, "cannot write the icon into %s\n", qPrintable(dir));
            return 1;
        }
    }
    return 0;
}
