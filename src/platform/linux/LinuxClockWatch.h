#pragma once

#include "platform/ClockWatch.h"

#include <QByteArray>

#include <functional>
#include <memory>

class QSocketNotifier;

/**
 * Clock and zone changes on Linux. Setting the clock is seen through a CLOCK_REALTIME timerfd parked far
 * in the future with cancel-on-set, so notices arrive whether or not the alarm timer is armed. The zone
 * is the zone file (normally /etc/localtime, a symbolic link into the zone database): its folder is
 * watched for the link being replaced and the target's folder for the zone data being updated; a notice
 * is given only when what the link resolves to actually changed.
 */
class LinuxClockWatch final : public ClockWatch
{
public:
    /** nullptr when neither the clock nor the zone file can be watched. */
    static std::unique_ptr<LinuxClockWatch> Create(std::function<void(ClockChange)> onChanged,
                                                   const QByteArray& zoneFile = QByteArrayLiteral("/etc/localtime"));
    ~LinuxClockWatch() override;

private:
    LinuxClockWatch(std::function<void(ClockChange)> onChanged, const QByteArray& zoneFile);
    bool parkClockTimer();
    void onClockReadable();
    void onZoneReadable();
    void watchZoneTarget();
    QByteArray zoneIdentity() const;

    std::function<void(ClockChange)> m_onChanged;
    QByteArray m_zoneFile;
    QByteArray m_zoneFolder;
    QByteArray m_zoneName;   // file name of the zone file inside its folder
    QByteArray m_targetName; // file name of what the zone file resolves to, inside its own folder
    QByteArray m_identity;   // what the zone file resolved to at the last notice
    int m_clockFd = -1;
    int m_inotifyFd = -1;
    int m_folderWatch = -1;
    int m_targetWatch = -1;
    std::unique_ptr<QSocketNotifier> m_clockNotifier;
    std::unique_ptr<QSocketNotifier> m_zoneNotifier;
};
