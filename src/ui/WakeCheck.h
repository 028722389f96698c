#pragma once

#include "platform/Platform.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QThread;
class QWidget;
class TMgLang;

/** The user's words for why the computer can or cannot be woken. */
QString WakeReasonUserText(const TMgLang& lang, WakeReason reason);
/** What the alarm editor says beside "Wake up computer": whether this computer wakes for the alarm, and why not. */
QString WakeBoxText(const TMgLang& lang, const WakeStatus& status);

/**
 * Finds out once per run, on a thread of its own, whether alarms can wake this computer (the platform may
 * wait seconds on a power daemon), and runs the user's wake-up test: a real sleep with a wake-up one minute
 * later, judged by when the computer came back.
 */
class WakeCheck final : public QObject
{
    Q_OBJECT

public:
    WakeCheck(Platform& platform, const TMgLang& lang, QObject* parent = nullptr);
    /** Waits for the detection to end; it gives up on a silent power daemon within seconds. */
    ~WakeCheck() override;

    /** Starts the detection; known() follows on this object's thread. */
    void Start();
    /** nullopt until known. */
    const std::optional<WakeStatus>& Status() const { return m_status; }

    /** Asks the user, then sends the computer to sleep with a wake-up armed a minute later. */
    void RunTest(QWidget* parent);
    bool TestRunning() const { return m_trial != nullptr; }
    /** The wake-up the running test asked for; invalid when none runs. */
    QDateTime TestWakeAt() const { return m_trial ? m_testWakeAt : QDateTime(); }

    // Seams for tests; the defaults are the program's question box and a box that does not wait.
    std::function<bool(QWidget* parent, const QString& question)> confirm;
    std::function<void(const QString& text)> report;

signals:
    void known();

private:
    void testEnded(const QString& text);

    Platform& m_platform;
    const TMgLang& m_lang;
    QThread* m_worker = nullptr;
    std::optional<WakeStatus> m_status;
    std::unique_ptr<SleepTrial> m_trial;
    QDateTime m_testWakeAt;
};
