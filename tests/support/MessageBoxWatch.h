#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

/**
 * Answers every message box with OK while it lives, modal or not (warnings on the alarm path do not
 * wait for an answer), and keeps their texts in the order they came.
 */
class MessageBoxWatch final
{
public:
    MessageBoxWatch()
    {
        m_poll.setInterval(10);
        QObject::connect(&m_poll, &QTimer::timeout, &m_poll, [this] {
            for (QWidget* window : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(window);
                if (!box || !box->isVisible())
                    continue;
                m_texts.append(box->text());
                if (box->isModal() || box->windowModality() != Qt::NonModal)
                    ++m_modal;
                if (QAbstractButton* ok = box->button(QMessageBox::Ok))
                    ok->click();
                else
                    box->reject();
            }
        });
        m_poll.start();
    }
    const QStringList& Texts() const { return m_texts; }
    /** How many of them waited for an answer. */
    int ModalCount() const { return m_modal; }

private:
    QTimer m_poll;
    QStringList m_texts;
    int m_modal = 0;
};
