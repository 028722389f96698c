#pragma once

#include <QPoint>

class QWidget;
class TAppIni;

// What the window system lets the program decide about its windows. On X11 and Windows the program
// places its windows and raises them; a Wayland compositor places every window itself, never tells a
// program where a window is, and decides on its own whether a window may come to the front.

/** Whether windows go where the program moves them and report where they are. */
bool ProgramPlacesWindows();

/**
 * The position to store for form: where it is, or, where the window system does not tell, the stored
 * one, so that a place chosen on X11 or Windows survives a session on Wayland; fallback when none is stored.
 */
QPoint PositionToStore(const QWidget* form, const TAppIni& ini, QPoint fallback);

/**
 * Lets the window system move a window with the pointer that holds it (the only way a Wayland window
 * moves); false where the program moves its windows itself.
 */
bool StartSystemMove(QWidget* window);

/** Asks to bring a shown window to the front with the focus, and to mark it urgent until the user looks. */
void DemandAttention(QWidget* window);
