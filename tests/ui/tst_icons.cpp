// The program's icons, rendered at build time and read size by size as they are painted.
#include "ui/Icons.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTest>

namespace {

int opaquePixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 128 ? 1 : 0;
    return count;
}

} // namespace

class TestIcons : public QObject
{
    Q_OBJECT

private slots:
    void everyIconIsDrawnAtTheSizesDesktopsAskFor_data();
    void everyIconIsDrawnAtTheSizesDesktopsAskFor();
    void disabledCommandsShowAPaleIcon();
    void aHighResolutionScreenGetsTheLargerRendering();
    void anUnknownNameIsANullIcon();
};

void TestIcons::everyIconIsDrawnAtTheSizesDesktopsAskFor_data()
{
    QTest::addColumn<QString>("name");
    for (const char* name :
         {"larkbell", "tray-normal", "tray-empty", "tray-ringing", "add",    "edit",          "delete",
          "clone",    "www",         "help",       "exit",         "donate", "cockcrow",      "cancel-snooze",
          "load",     "save",        "open",       "play",         "stop",   "floating-alarm"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestIcons::everyIconIsDrawnAtTheSizesDesktopsAskFor()
{
    QFETCH(QString, name);
    const QIcon icon = AppIcon(name);
    QVERIFY(!icon.isNull());
    QVERIFY(icon.availableSizes().contains(QSize(22, 22)));
    // Rendered sizes, sizes in between (scaled from the next larger) and one beyond the largest.
    for (const int size : {16, 22, 24, 20, 40, 300}) {
        const QPixmap pixmap = icon.pixmap(QSize(size, size));
        QCOMPARE(pixmap.size(), QSize(size, size));
        QVERIFY2(opaquePixels(pixmap.toImage()) > size * size / 10, qPrintable(QString::number(size)));
    }
}

void TestIcons::disabledCommandsShowAPaleIcon()
{
    const QIcon icon = AppIcon(u"add");
    const QImage normal = icon.pixmap(QSize(24, 24)).toImage();
    const QImage disabled = icon.pixmap(QSize(24, 24), QIcon::Disabled).toImage();
    QCOMPARE(disabled.size(), normal.size());
    QVERIFY(disabled != normal);
}

void TestIcons::aHighResolutionScreenGetsTheLargerRendering()
{
    // Painted at twice the resolution, the 48-pixel rendering fills what a 24-pixel icon covers.
    QImage canvas(48, 48, QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(2.0);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    AppIcon(u"tray-normal").paint(&painter, QRect(0, 0, 24, 24));
    painter.end();
    const QImage direct = AppIcon(u"tray-normal").pixmap(QSize(48, 48)).toImage().convertToFormat(canvas.format());
    QImage drawn = canvas;
    drawn.setDevicePixelRatio(1.0);
    QCOMPARE(drawn, direct);
}

void TestIcons::anUnknownNameIsANullIcon()
{
    const QIcon icon = AppIcon(u"no-such-icon");
    QVERIFY(icon.isNull());
    QVERIFY(icon.pixmap(QSize(16, 16)).isNull());
}

QTEST_MAIN(TestIcons)
#include "tst_icons.moc"
