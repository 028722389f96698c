// Renders the program's SVG icons at build time, so that the program itself never loads the SVG
// renderer nor an image decoder: hidden in the tray it would hold them for its whole life.
//
// Usage: render_icons SOURCE_FOLDER OUTPUT_FOLDER SIZES NAMES
//   SIZES is a comma-separated list of pixel sizes, NAMES one of icon names (SOURCE_FOLDER/NAME.svg).
//   Each icon is written as OUTPUT_FOLDER/NAME/SIZE.argb: the pixels of a SIZE x SIZE image in the
//   toolkit's premultiplied 32-bit format, row by row, as this machine holds them in memory. The
//   resource compiler compresses them.

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

namespace {

bool renderIcon(const QString& svgPath, const QString& folder, const QList<int>& sizes)
{
    QSvgRenderer renderer(svgPath);
    if (!renderer.isValid()) {
        std::fprintf(stderr, "render_icons: cannot read %s\n", qPrintable(svgPath));
        return false;
    }
    if (!QDir().mkpath(folder))
        return false;
    for (const int size : sizes) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        renderer.render(&painter);
        painter.end();
        const QString path = folder + QStringLiteral("/%1.argb").arg(size);
        QFile file(path);
        const auto bytes = qint64(image.sizeInBytes());
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(reinterpret_cast<const char*>(image.constBits()), bytes) != bytes) {
            std::fprintf(stderr, "render_icons: cannot write %s\n", qPrintable(path));
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    // A build machine may have no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 5) {
        std::fprintf(stderr, "usage: render_icons SOURCE_FOLDER OUTPUT_FOLDER SIZES NAMES\n");
        return 2;
    }
    QList<int> sizes;
    for (const QString& size : args.at(3).split(u',', Qt::SkipEmptyParts))
        sizes.append(size.toInt());
    for (const QString& name : args.at(4).split(u',', Qt::SkipEmptyParts)) {
        if (!renderIcon(args.at(1) + u'/' + name + QStringLiteral(".svg"), args.at(2) + u'/' + name, sizes))
            return 1;
    }
    return 0;
}
