#include "ui/WindowPlacement.h"

#include "core/app/AppIni.h"
#include "ui/MgForm.h"

#include <QApplication>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

bool ProgramPlacesWindows()
{
    // "wayland", "wayland-egl", "wayland-xcomposite-glx": every Wayland back end of Qt.
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

QPoint PositionToStore(const QWidget* form, const TAppIni& ini, QPoint fallback)
{
    if (ProgramPlacesWindows())
        return form->pos();
    // What Qt reports here is the last position it was asked for or the frame's offset, never the real one.
    const FormGeometry none{fallback.y(), fallback.x(), 0, 0, false};
    const FormGeometry stored = ini.RestoreFormGeometry(FormClassName(form), none, true, false);
    return {stored.left, stored.top};
}

bool StartSystemMove(QWidget* window)
{
    if (ProgramPlacesWindows() || !window->windowHandle())
        return false;
    return window->windowHandle()->startSystemMove();
}

void DemandAttention(QWidget* window)
{
    window->raise();
    window->activateWindow();
    // A window manager or compositor that refuses the focus shows the urgency instead (a flashing
    // task bar entry, a highlighted workspace); where the focus was given it is no-op.
    QApplication::alert(window);
}
