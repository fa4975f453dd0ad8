// Writes the program's icon as PNG files in the hicolor theme's layout:
// OUTDIR/hicolor/NxN/apps/dxfkonv.png. Run by the build for installing.
//
// With --windows, writes instead the pictures of the Windows program's
// resources: OUTDIR/dxfkonv.ico (the icon in the sizes Windows asks for)
// and OUTDIR/logo.bmp (the main window's logo, 32 bits with premultiplied
// alpha, as AlphaBlend takes it). scripts/make-windows-art.sh keeps the
// copies in app/win32/ up to date.
#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "ui/qt/Artwork.h"

namespace {

void put16(QByteArray& out, std::uint16_t value)
{
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>(value >> 8));
}

void put32(QByteArray& out, std::uint32_t value)
{
    put16(out, static_cast<std::uint16_t>(value & 0xFFFF));
    put16(out, static_cast<std::uint16_t>(value >> 16));
}

// A BITMAPINFOHEADER and the pixels bottom up, 32 bits each (B, G, R, A
// in memory, as QImage keeps ARGB32 on a little-endian machine);
// `heightFactor` 2 for an icon, whose header counts its mask too.
QByteArray dib(const QImage& image, int heightFactor)
{
    QByteArray out;
    put32(out, 40);
    put32(out, static_cast<std::uint32_t>(image.width()));
    put32(out, static_cast<std::uint32_t>(image.height() * heightFactor));
    put16(out, 1);
    put16(out, 32);
    put32(out, 0);  // BI_RGB
    put32(out, static_cast<std::uint32_t>(image.width() * image.height() * 4));
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    for (int y = image.height() - 1; y >= 0; --y)
        out.append(reinterpret_cast<const char*>(image.constScanLine(y)), image.width() * 4);
    return out;
}

// Icon entries up to 64 pixels as bitmaps with an empty mask (their alpha
// says what is transparent), the 256-pixel one as PNG.
QByteArray icoFile()
{
    const int sizes[] = {16, 20, 24, 32, 40, 48, 64, 256};
    std::vector<QByteArray> images;
    for (const int size : sizes) {
        const QImage image = dxfkonv::DrawIcon(size).convertToFormat(QImage::Format_ARGB32);
        QByteArray data;
        if (size == 256) {
            QBuffer buffer(&data);
            buffer.open(QIODevice::WriteOnly);
            image.save(&buffer, "PNG");
        } else {
            data = dib(image, 2);
            const int maskRow = ((size + 31) / 32) * 4;
            data.append(QByteArray(maskRow * size, '\0'));
        }
        images.push_back(data);
    }
    QByteArray out;
    put16(out, 0);
    put16(out, 1);  // an icon
    put16(out, static_cast<std::uint16_t>(images.size()));
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        const int size = sizes[i];
        out.append(static_cast<char>(size == 256 ? 0 : size));
        out.append(static_cast<char>(size == 256 ? 0 : size));
        out.append('\0');  // colours in a palette: none
        out.append('\0');
        put16(out, 1);
        put16(out, 32);
        put32(out, static_cast<std::uint32_t>(images[i].size()));
        put32(out, offset);
        offset += static_cast<std::uint32_t>(images[i].size());
    }
    for (const QByteArray& image : images)
        out.append(image);
    return out;
}

QByteArray bmpFile(const QImage& picture)
{
    const QByteArray info = dib(picture.convertToFormat(QImage::Format_ARGB32_Premultiplied), 1);
    QByteArray out("BM");
    put32(out, static_cast<std::uint32_t>(14 + info.size()));
    put32(out, 0);
    put32(out, 14 + 40);
    return out + info;
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

}  // namespace

int main(int argc, char** argv)
{
    const bool windows = argc == 3 && std::strcmp(argv[1], "--windows") == 0;
    if (argc != 2 && !windows) {
        std::fprintf(stderr, "usage: %s [--windows] OUTDIR\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[argc - 1]);
    if (windows) {
        if (!QDir().mkpath(out) || !writeFile(out + QStringLiteral("/dxfkonv.ico"), icoFile())
            || !writeFile(out + QStringLiteral("/logo.bmp"), bmpFile(dxfkonv::DrawLogo()))) {
            std::fprintf(stderr, "cannot write the Windows pictures into %s\n", qPrintable(out));
            return 1;
        }
        return 0;
    }
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString dir = QStringLiteral("%1/hicolor/%2x%2/apps").arg(out).arg(size);
        if (!QDir().mkpath(dir) || !dxfkonv::DrawIcon(size).save(dir + QStringLiteral("/dxfkonv.png"))) {
            std::fprintf(stderr, "cannot write the icon into %s\n", qPrintable(dir));
            return 1;
        }
    }
    return 0;
}
