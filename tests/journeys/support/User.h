#pragma once

#include "Program.h"

#include <QString>

/**
 * The person at the keyboard: keys and clicks go through the X server's test extension (xdotool), to
 * whatever window is where the pointer is or has the focus, exactly as real input would. Each step
 * returns false when the tool failed or the program did not react as the step needs.
 */
class User final
{
public:
    explicit User(Program& program)
        : m_program(program)
    {}

    /** Presses keys ("ctrl+n", "Escape", "Up Return") on whatever has the focus. */
    bool Keys(const QString& keys);
    /** Gives a window the focus through the window manager, then presses keys. */
    bool KeysTo(const XWindow& window, const QString& keys);
    /** Clicks at a point of a window's client area (button 1 left, 3 right). */
    bool Click(const XWindow& window, int x, int y, int button = 1, int repeat = 1);
    /** Drags a window to a new place of the screen (the window manager moves its frame). */
    bool Move(const XWindow& window, int x, int y);
    /** Double-clicks the title bar of a window's frame: the window manager maximizes it. */
    bool DoubleClickTitle(const XWindow& window);

    /** Right-clicks the tray icon and waits for the menu; false when no menu came within timeoutMs. */
    bool OpenTrayMenu(int timeoutMs = 1500);
    /** Clicks the first menu of the main window's menu bar (File) and waits for it to open. */
    bool OpenFileMenu(int timeoutMs = 1500);
    /** In an open menu: the last item (Exit in the File and the tray menu). */
    bool ChooseLastItem();
    /** In an open menu: the first item (the tray menu's Open). */
    bool ChooseFirstItem();
    /** Shows the main window through the tray menu's first item and waits for it. */
    bool OpenMainWindowFromTray(XWindow* main = nullptr);

    /** The last step that failed, and why. */
    QString LastError() const { return m_error; }

private:
    bool tool(const QStringList& arguments);
    bool fail(const QString& why);

    Program& m_program;
    QString m_error;
};
