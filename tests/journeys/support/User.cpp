#include "User.h"

namespace {

// The menu bar's first item: a little right of the left edge, half way down the bar.
constexpr int kFileMenuX = 18;
constexpr int kFileMenuY = 11;

} // namespace

bool User::fail(const QString& why)
{
    m_error = why;
    return false;
}

bool User::tool(const QStringList& arguments)
{
    QString output;
    const int code = m_program.desktop().RunTool(QStringLiteral("xdotool"), arguments, &output);
    if (code != 0)
        return fail(QStringLiteral("xdotool %1: exit %2 %3").arg(arguments.join(u' ')).arg(code).arg(output.trimmed()));
    return true;
}

bool User::Keys(const QString& keys)
{
    return tool(QStringList{QStringLiteral("key"), QStringLiteral("--clearmodifiers")} +
                keys.split(u' ', Qt::SkipEmptyParts));
}

bool User::KeysTo(const XWindow& window, const QString& keys)
{
    // --sync would wait for ever on a program that does not answer; the wait below gives up.
    if (!tool({QStringLiteral("windowactivate"), QString::number(window.id)}))
        return false;
    QString active;
    WaitUntil(
        [&] {
            m_program.desktop().RunTool(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")}, &active);
            return active.trimmed() == QString::number(window.id);
        },
        1000, 10);
    return Keys(keys);
}

bool User::Click(const XWindow& window, int x, int y, int button, int repeat)
{
    return tool({QStringLiteral("mousemove"), QStringLiteral("--window"), QString::number(window.id),
                 QString::number(x), QString::number(y), QStringLiteral("click"), QStringLiteral("--repeat"),
                 QString::number(repeat), QStringLiteral("--delay"), QStringLiteral("80"), QString::number(button)});
}

bool User::Move(const XWindow& window, int x, int y)
{
    return tool({QStringLiteral("windowmove"), QString::number(window.id), QString::number(x), QString::number(y)});
}

bool User::DoubleClickTitle(const XWindow& window)
{
    const quint32 frame = m_program.desktop().X().FrameOf(window.id);
    if (frame == window.id)
        return fail(QStringLiteral("the window has no frame to click"));
    XWindow titleBar;
    titleBar.id = frame;
    return Click(titleBar, window.geometry.width() / 2, 8, 1, 2);
}

bool User::OpenTrayMenu(int timeoutMs)
{
    XWindow icon;
    if (!m_program.WaitForTrayIcon(2000, &icon))
        return fail(QStringLiteral("no tray icon"));
    // A right-click that comes within moments of a closing menu or dialog is at times not answered by
    // the toolkit's tray icon; a user then clicks again, and so does the test, once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!Click(icon, icon.geometry.width() / 2, icon.geometry.height() / 2, 3))
            return false;
        if (m_program.WaitForWindow(WindowKind::Menu, timeoutMs))
            return true;
    }
    return fail(QStringLiteral("the tray menu did not open within %1 ms, twice").arg(timeoutMs));
}

bool User::OpenFileMenu(int timeoutMs)
{
    const std::optional<XWindow> main = m_program.Find(WindowKind::Main);
    if (!main)
        return fail(QStringLiteral("the main window is not shown"));
    if (!Click(*main, kFileMenuX, kFileMenuY))
        return false;
    if (!m_program.WaitForWindow(WindowKind::Menu, timeoutMs))
        return fail(QStringLiteral("the File menu did not open within %1 ms").arg(timeoutMs));
    return true;
}

bool User::ChooseLastItem()
{
    // Up from no highlighted item lands on the last one, as it does in every menu of the toolkit.
    return Keys(QStringLiteral("Up Return"));
}

bool User::ChooseFirstItem()
{
    return Keys(QStringLiteral("Down Return"));
}

bool User::OpenMainWindowFromTray(XWindow* main)
{
    if (!OpenTrayMenu() || !ChooseFirstItem())
        return false;
    if (!m_program.WaitForWindow(WindowKind::Main, 3000, main))
        return fail(QStringLiteral("the tray menu's Open did not show the main window"));
    return true;
}
