#pragma once

#include "core/alarms/LocalTime.h"
#include "core/alarms/RemoteAlarms.h"

#include <QDBusArgument>
#include <QDBusVirtualObject>
#include <QMetaType>
#include <QString>

class AlarmScheduler;
class QDBusConnection;
class QDBusMessage;
class TMainForm;
class TWakeupForm;

Q_DECLARE_METATYPE(RemoteAlarm)

// An alarm of ListAlarms on the bus: (isssb), its fields in declaration order.
QDBusArgument& operator<<(QDBusArgument& argument, const RemoteAlarm& alarm);
const QDBusArgument& operator>>(const QDBusArgument& argument, RemoteAlarm& alarm);
/** Makes RemoteAlarm and lists of it known to the bus; idempotent. */
void RegisterBusTypes();

/**
 * The running program on the session bus (org.larkbell.Larkbell, see org.larkbell.Larkbell.xml): other
 * programs of the same user dismiss or snooze a ringing alarm, read the next alarm and the list, switch
 * alarms on and off, and hear when an alarm rings. Every call acts through what the windows' own
 * buttons do. Connecting and claiming the name never wait on the GUI thread, so a missing or frozen bus
 * costs the program nothing but the service.
 */
class BusService final : public QDBusVirtualObject
{
    Q_OBJECT

public:
    static constexpr const char* kName = "org.larkbell.Larkbell";
    static constexpr const char* kPath = "/org/larkbell/Larkbell";
    static constexpr const char* kInterface = "org.larkbell.Larkbell";

    BusService(AlarmScheduler& scheduler, TWakeupForm& wakeup, TMainForm& mainForm, UtcOffsetAt offsetAt,
               QObject* parent = nullptr);
    ~BusService() override;

    /** Connects to the session bus on another thread, then exports the object and asks for the name. */
    void Start();

    /** The interface element of the shipped introspection document. */
    static QString InterfaceXml();

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    void onConnected();
    void answer(const QDBusMessage& message);
    void sendSignal(const QString& name, const QVariantList& arguments);
    void nextAlarmMayHaveChanged();
    QString nextDue() const;

    AlarmScheduler& m_scheduler;
    TWakeupForm& m_wakeup;
    TMainForm& m_mainForm;
    UtcOffsetAt m_offsetAt;
    QString m_announcedDue;
    bool m_exported = false;
};
