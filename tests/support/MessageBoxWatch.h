#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

/** Answers every message box with OK while it lives, and keeps their texts in the order they came. */
class MessageBoxWatch final
{
public:
    MessageBoxWatch()
    {
        m_poll.setInterval(10);
        QObject::connect(&m_poll, &QTimer::timeout, &m_poll, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                m_texts.append(box->text());
                box->button(QMessageBox::Ok)->click();
            }
        });
        m_poll.start();
    }
    const QStringList& Texts() const { return m_texts; }

private:
    QTimer m_poll;
    QStringList m_texts;
};
