#include "ui/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QWindow>

namespace {

// Stay-on-top windows would cover the box; they lose the flag for as long as it is open.
class SuspendTopmostForms final
{
public:
    SuspendTopmostForms()
    {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->isVisible() && window->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) {
                m_suspended.append(window);
                setOnTop(window, false);
            }
        }
    }
    ~SuspendTopmostForms()
    {
        for (const QPointer<QWidget>& window : std::as_const(m_suspended)) {
            if (window)
                setOnTop(window, true);
        }
    }
    SuspendTopmostForms(const SuspendTopmostForms&) = delete;
    SuspendTopmostForms& operator=(const SuspendTopmostForms&) = delete;

private:
    // Through the native window: QWidget::setWindowFlag would hide and re-show it, and a hidden
    // notification window must not look to anyone as if its alarm had been answered.
    static void setOnTop(QWidget* window, bool on)
    {
        if (QWindow* handle = window->windowHandle())
            handle->setFlag(Qt::WindowStaysOnTopHint, on);
    }

    QList<QPointer<QWidget>> m_suspended;
};

QMessageBox::StandardButton showBox(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                    QMessageBox::StandardButtons buttons)
{
    SuspendTopmostForms suspended;
    QMessageBox box(icon, QStringLiteral("Larkbell"), text, buttons, parent ? parent : QApplication::activeWindow());
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    return QMessageBox::StandardButton(box.exec());
}

} // namespace

void ShowError(QWidget* parent, const QString& text)
{
    showBox(parent, QMessageBox::Critical, text, QMessageBox::Ok);
}

void ShowWarning(QWidget* parent, const QString& text)
{
    showBox(parent, QMessageBox::Warning, text, QMessageBox::Ok);
}

bool AskYesNo(QWidget* parent, const QString& text)
{
    return showBox(parent, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void ShowWarningNonModal(const QString& text)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Larkbell"), text, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box->setModal(false);
    box->show();
}
