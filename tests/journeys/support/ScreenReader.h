#pragma once

#include <QList>
#include <QString>

/** One object a screen reader finds in a window: its role ("push button", "label") and its name. */
struct SpokenItem {
    QString role;
    QString name;
};

/**
 * Reads the program's windows the way a screen reader does, over the session's accessibility bus
 * (AT-SPI): the only way to see the captions and texts the toolkit draws inside a window. The
 * program must run with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1.
 */
class ScreenReader final
{
public:
    ScreenReader() = default;
    ~ScreenReader();
    ScreenReader(const ScreenReader&) = delete;
    ScreenReader& operator=(const ScreenReader&) = delete;

    /** Finds the accessibility bus of the session; false (with why) when the session has none. */
    bool Connect(const QByteArray& sessionBusAddress, QString* why);
    /** Everything inside the top-level windows named `window` of every program on the bus. */
    QList<SpokenItem> Read(const QString& window);
    /** The names of the items with this role in those windows. */
    QStringList Names(const QString& window, const QString& role);

private:
    QString m_sessionName;
    QString m_a11yName;
};
