#pragma once

#include "ui/MgForm.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <functional>

struct AlarmRecord;
class QLabel;
class QMenu;
class QPushButton;
class QToolButton;

/** What the notification window asks of the rest of the program while an alarm rings. */
struct WakeupHooks {
    // and start the play-duration timer; the sound rises from silence over rampSeconds (0: none)
    std::function<void(const QString& sound, bool loop, int rampSeconds)> playSound;
    std::function<void()> stopSound; // restores the volume too
    std::function<void()> saveSystemVolume;
    std::function<void(int percent)> setSystemVolume; // unmutes, then sets
    std::function<void()> monitorOn;
    std::function<void(int index)> setTrayIcon; // 0 normal, 1 no alarms, 2 ringing
    std::function<int()> normalTrayIcon;
    std::function<void(const QString& title, const QString& text, int ms)> showBalloon;
    std::function<void()> cancelBalloon;
    // An alarm's notification: critical, with Snooze (when snooze is true) and Dismiss on it; showBalloon without it.
    std::function<void(const QString& title, const QString& text, int ms, bool snooze)> showAlarmNotification;
    std::function<void(bool visible)> showCancelSnooze; // actCancelSnooze and its separator
    std::function<void(bool on)> highlightFloatingClock;
};

/**
 * The large always-on-top window of a ringing alarm, with Snooze and OK; or, for an alarm that shows
 * no message, only a tray balloon. Alarms due at the same minute ring together in one window; a later
 * firing replaces what rings. Only the user's answer, the play-duration limit or exit ends an alarm:
 * the window being hidden by someone else does not.
 */
class TWakeupForm final : public QDialog, public TMgForm
{
    Q_OBJECT

public:
    static constexpr int kTrayBlinkMs = 150;
    static constexpr int kMonitorOnIntervalMs = 5000;
    static constexpr int kMonitorOnRepeats = 5; // after the first command: six in all
    static constexpr int kLongLabelCharacters = 80;
    static constexpr int kPaintWaitMs = 50; // longest wait for the window system to show the window

    TWakeupForm(TMgLang& lang, WakeupHooks hooks, QWidget* parent = nullptr);

    void ShowAlarm(const QString& alarmString) { ShowAlarms({alarmString}); }
    /** Rings alarms due together: every label, the first one's sound, volume and snooze. */
    void ShowAlarms(const QStringList& alarmStrings);
    /** Rings alarms that were due earlier, at dueTimes, saying so in the window and the notification. */
    void ShowLateAlarms(const QStringList& alarmStrings, const QList<QTime>& dueTimes);
    /** How late, in minutes, a snooze whose end the computer slept through may still ring. */
    void SetMissedLimit(int minutes) { m_missedLimitMinutes = minutes; }
    /** The clock moved or the computer resumed: a snooze whose end has passed ends now. */
    void CheckSnoozeClock();
    void DismissAlarm();
    /** No output could play the ringing alarm's sound: error is its last AudioError code (0 hides the line). */
    void ShowSoundFailure(int error);
    /** What the Snooze button does; false when nothing rings or the ringing alarm has no snooze. */
    bool SnoozeAlarm();
    void ResetSnooze();
    void SetSnoozeTime(int seconds);
    int SnoozeTime() const { return m_snoozeSeconds; }
    /** The lengths, in minutes, the Snooze button's menu offers while an alarm rings. */
    static constexpr int kSnoozeChoices[] = {5, 9, 10, 15, 30};
    /** What a plain Snooze does for the ringing alarm: its own length when it has one, else the global one. */
    int ConfiguredSnoozeSeconds() const;
    /** Snoozes the ringing alarm for minutes instead of the configured length. */
    void SnoozeFor(int minutes);

    bool AlarmActive() const { return m_alarmActive; }
    /** Visible, or about to be: the ringing alarm's window is on its way to the screen. */
    bool ShownOrComing() const { return isVisible() || m_windowComing; }
    /** Milliseconds since the alarm was shown; a balloon that closes sooner belongs to an older alarm. */
    qint64 MsSinceShown() const { return m_shownTick.isValid() ? m_shownTick.elapsed() : -1; }
    QString ActiveAlarm() const { return m_alarmStrings.value(0); }
    const QStringList& ActiveAlarms() const { return m_alarmStrings; }
    bool SnoozePending() const { return tmrSnooze.isActive(); }
    /** Label font size for a label: small for long or many-line texts. */
    static int LabelFontSize(const QString& label);
    /**
     * The lines a label of this window shows of text in room: one line, or with wrap as many as fit,
     * broken between words. Where text is left out (a word or a line too wide, lines below the last that
     * fits) the line ends in an ellipsis.
     */
    static QStringList FittedLines(const QString& text, const QFont& font, const QSize& room, bool wrap);

    QLabel* lblTime;
    QLabel* lblInfo;
    QLabel* lblSoundError; // "No sound could be played: ...", shown only then
    QPushButton* btnSnooze;
    QToolButton* btnSnoozeLength; // beside Snooze: the menu of other lengths
    QMenu* pmSnoozeLength;
    QPushButton* btnOK;
    QTimer tmrClock;
    QTimer tmrSnooze;
    QTimer tmrTray;
    QTimer tmrMonitorOn;

signals:
    /** An alarm started ringing (again, after a snooze); labels of alarms due together one per line. */
    void alarmRinging(const QString& labels);
    /** The ringing stopped: answered, snoozed, or ended by the play-duration limit or exit. */
    void alarmStopped();

protected:
    void DoLanguageChanged() override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void layoutButtons(bool snooze);
    /** Names and descriptions for screen readers, in the current language. */
    void applyAccessibleTexts();
    void updateSoundError();
    void btnSnoozeClick();
    /** Opens the snooze lengths below their button; from the keyboard with the first length active. */
    void openSnoozeLengths(bool byKeyboard);
    void startSnooze(int seconds);
    void tmrClockTimer();
    void tmrTrayTimer();
    void tmrMonitorOnTimer();
    void updateTime();
    void waitUntilPainted();
    void startSound(const AlarmRecord& alarm);

    void snoozeEnded();

    WakeupHooks m_hooks;
    QString m_dueNote;        // the next showing says when its alarms were due
    qint64 m_snoozeDueMs = 0; // the program clock's reading at which the snooze ends
    int m_missedLimitMinutes = 15;
    int m_soundFailure = 0; // the AudioError the sound line tells of; 0: none
    QStringList m_alarmStrings;
    bool m_alarmActive = false;
    bool m_windowComing = false; // the sound starts before the window's show
    QElapsedTimer m_shownTick;
    int m_monitorOnRepeats = 0;
    int m_snoozeSeconds = 540;
    int m_alarmSnoozeSeconds = 0; // the ringing alarm's own snooze length; 0: the global one
    bool m_trayRinging = false;
    bool m_notifiedBesideWindow = false; // the notification that doubles the window goes with it
};
