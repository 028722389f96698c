#pragma once

#include "platform/SleepTrial.h"
#include "platform/linux/LinuxWakeTimer.h"

#include <QDBusConnection>
#include <QObject>

#include <memory>

/**
 * The sleep trial through logind on the system bus: the wake timer is armed first, then Manager.Suspend is
 * asked for, and PrepareForSleep(true/false) tell when the computer went down and came back. How long it
 * slept is CLOCK_BOOTTIME's lead over CLOCK_MONOTONIC, which stops while the computer is suspended.
 */
class LinuxSleepTrial final : public QObject, public SleepTrial
{
    Q_OBJECT

public:
    /** busConnection: name of an open QDBusConnection standing for the system bus; empty for the real one. */
    LinuxSleepTrial(WallTime wakeAt, SleepTrialEvents events, const WakeOptions& wake = {},
                    const QString& busConnection = {});
    ~LinuxSleepTrial() override;

    /** The wake timer the trial armed; for tests. */
    const LinuxWakeTimer& Wake() const { return *m_wake; }

private slots:
    void onPrepareForSleep(bool start);

private:
    void fail(const QString& why);

    SleepTrialEvents m_events;
    std::unique_ptr<LinuxWakeTimer> m_wake;
    QDBusConnection m_bus;
    bool m_listening = false;
    bool m_asleep = false;
    bool m_done = false;
    std::chrono::nanoseconds m_suspendedBefore{0}; // CLOCK_BOOTTIME - CLOCK_MONOTONIC when sleep was announced
};
