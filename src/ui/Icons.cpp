#include "ui/Icons.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>
#include <cstring>

namespace {

/**
 * Reads a size only when it is first painted. The toolkit's own engine for image files decodes every
 * size of every icon when the icon is made, and a program hidden in the tray would hold them all, with
 * every image plug-in its format probe loads.
 */
class RenderedIconEngine final : public QIconEngine
{
public:
    RenderedIconEngine(QString folder, QList<int> sizes)
        : m_folder(std::move(folder))
        , m_sizes(std::move(sizes))
    {}

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override
    {
        if (size.isEmpty() || m_sizes.isEmpty())
            return {};
        const quint64 key = (quint64(size.width()) << 32) | (quint64(size.height()) << 8) | quint64(mode);
        if (const auto found = m_made.constFind(key); found != m_made.cend())
            return *found;
        QPixmap made = QPixmap::fromImage(readRendering(size));
        if (!made.isNull() && made.size() != size)
            made = made.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        if (!made.isNull() && mode != QIcon::Normal && mode != QIcon::Active) {
            QStyleOption option;
            option.palette = QApplication::palette();
            made = QApplication::style()->generatedIconPixmap(mode, made, &option);
        }
        m_made.insert(key, made);
        return made;
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
        QPixmap drawn = pixmap(rect.size() * ratio, mode, state);
        drawn.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect, drawn);
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        QList<QSize> sizes;
        for (const int size : m_sizes)
            sizes.append(QSize(size, size));
        return sizes;
    }

    bool isNull() override { return m_sizes.isEmpty(); }
    QString key() const override { return QStringLiteral("RenderedIconEngine"); }
    QIconEngine* clone() const override { return new RenderedIconEngine(m_folder, m_sizes); }

private:
    /** The smallest rendering at least as large as asked for, else the largest: scaled down, not up. */
    QImage readRendering(const QSize& size) const
    {
        const int wanted = std::max(size.width(), size.height());
        const auto bigEnough = std::find_if(m_sizes.cbegin(), m_sizes.cend(), [&](int s) { return s >= wanted; });
        const int chosen = bigEnough != m_sizes.cend() ? *bigEnough : m_sizes.last();
        // Raw pixels, as the build rendered them: no image decoder is loaded for them.
        QFile file(m_folder + QStringLiteral("/%1.argb").arg(chosen));
        QImage image(chosen, chosen, QImage::Format_ARGB32_Premultiplied);
        if (!file.open(QIODevice::ReadOnly) || file.size() != image.sizeInBytes())
            return {};
        const QByteArray pixels = file.readAll();
        if (pixels.size() != image.sizeInBytes())
            return {};
        std::memcpy(image.bits(), pixels.constData(), size_t(pixels.size()));
        return image;
    }

    QString m_folder;
    QList<int> m_sizes; // ascending
    QHash<quint64, QPixmap> m_made;
};

} // namespace

QIcon AppIcon(QAnyStringView name)
{
    const QString folder = QStringLiteral(":/icons/") + name.toString();
    QList<int> sizes;
    for (const QString& file : QDir(folder).entryList(QDir::Files)) {
        const int size = QStringView(file).chopped(5).toInt(); // "48.argb"
        if (size > 0)
            sizes.append(size);
    }
    std::sort(sizes.begin(), sizes.end());
    return QIcon(new RenderedIconEngine(folder, sizes));
}
