#pragma once

#include <QFrame>
#include <QStringList>

class QLabel;
class QPushButton;
class TMgLang;

/**
 * The strip above the alarm list that lists the alarms missed while the computer was off, one line
 * each, until the user acknowledges them with its button. Hidden while there is nothing to show.
 */
class TMissedAlarmsBar final : public QFrame
{
    Q_OBJECT

public:
    /** Lines shown before the rest are counted in one line of their own. */
    static constexpr int kShownLines = 4;

    explicit TMissedAlarmsBar(QWidget* parent = nullptr);

    /** Entries as MissedEntry writes them, oldest first; none hides the bar. */
    void SetEntries(const QStringList& entries);
    void ApplyLanguage(const TMgLang& lang);
    /** The text the bar shows, one line per missed occurrence. */
    QString Text() const;

    QLabel* lblMissed;
    QPushButton* btnGotIt;

signals:
    void acknowledged();

private:
    void refresh();

    QStringList m_entries;
    const TMgLang* m_lang = nullptr;
};
