#include "app/BusService.h"

#include "core/alarms/AlarmScheduler.h"
#include "core/alarms/RemoteAlarms.h"
#include "core/mglib/DebugLog.h"
#include "ui/MainForm.h"
#include "ui/WakeupForm.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFile>
#include <QThread>

namespace {

const QString kNotRinging = QStringLiteral("org.larkbell.Larkbell.Error.NotRinging");
const QString kNoSnooze = QStringLiteral("org.larkbell.Larkbell.Error.NoSnooze");
constexpr uint kNameQueued = 2; // RequestName: another owner has it, this connection is next in line

QString text(const char* latin1)
{
    return QString::fromLatin1(latin1);
}

} // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const RemoteAlarm& alarm)
{
    argument.beginStructure();
    argument << alarm.index << alarm.time << alarm.days << alarm.label << alarm.enabled;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, RemoteAlarm& alarm)
{
    argument.beginStructure();
    argument >> alarm.index >> alarm.time >> alarm.days >> alarm.label >> alarm.enabled;
    argument.endStructure();
    return argument;
}

void RegisterBusTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<RemoteAlarm>();
        qDBusRegisterMetaType<QList<RemoteAlarm>>();
        return true;
    }();
    Q_UNUSED(registered);
}

BusService::BusService(AlarmScheduler& scheduler, TWakeupForm& wakeup, TMainForm& mainForm, UtcOffsetAt offsetAt,
                       QObject* parent)
    : QDBusVirtualObject(parent)
    , m_scheduler(scheduler)
    , m_wakeup(wakeup)
    , m_mainForm(mainForm)
    , m_offsetAt(std::move(offsetAt))
{
    RegisterBusTypes();
    m_announcedDue = nextDue();
    connect(&m_wakeup, &TWakeupForm::alarmRinging, this,
            [this](const QString& labels) { sendSignal(QStringLiteral("Ringing"), {labels}); });
    connect(&m_wakeup, &TWakeupForm::alarmStopped, this, [this] { sendSignal(QStringLiteral("Dismissed"), {}); });
    connect(&m_scheduler, &AlarmScheduler::scheduleChanged, this, &BusService::nextAlarmMayHaveChanged);
}

BusService::~BusService()
{
    if (!m_exported)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(text(kPath));
    // The name goes with the connection anyway; giving it back now lets a new start take it at once.
    QDBusMessage release =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ReleaseName"));
    release << text(kName);
    bus.call(release, QDBus::NoBlock);
}

void BusService::Start()
{
    // Without an address Qt would try to start a bus of its own; a program without one runs as before.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        WriteLog(QStringLiteral("Bus service: no session bus"));
        return;
    }
    // Connecting waits for the bus's answer, so it happens on a thread of its own; the connection is
    // made once per process, and on this thread sessionBus() then only hands it out.
    QThread* connector = QThread::create([] { QDBusConnection::sessionBus().isConnected(); });
    connect(connector, &QThread::finished, this, &BusService::onConnected);
    connect(connector, &QThread::finished, connector, &QObject::deleteLater);
    connector->start();
}

void BusService::onConnected()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        WriteLog(QStringLiteral("Bus service: the session bus did not answer: ") + bus.lastError().message());
        return;
    }
    if (!bus.registerVirtualObject(text(kPath), this)) {
        WriteLog(QStringLiteral("Bus service: the object path is taken"));
        return;
    }
    m_exported = true;
    QDBusMessage request =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"));
    request << text(kName) << 0u; // queued behind another copy's claim, so the name passes on when it ends
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(request), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [](QDBusPendingCallWatcher* done) {
        done->deleteLater();
        const QDBusPendingReply<uint> reply = *done;
        if (!reply.isValid())
            WriteLog(QStringLiteral("Bus service: name refused: ") + reply.error().message());
        else if (reply.value() == kNameQueued)
            WriteLog(QStringLiteral("Bus service: name queued behind another copy"));
        else
            WriteLog(QStringLiteral("Bus service: name %1 taken").arg(text(kName)));
    });
}

QString BusService::InterfaceXml()
{
    QFile file(QStringLiteral(":/dbus/org.larkbell.Larkbell.xml"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString document = QString::fromUtf8(file.readAll());
    const QString end = QStringLiteral("</interface>");
    const qsizetype from = document.indexOf(QStringLiteral("<interface"));
    const qsizetype to = document.lastIndexOf(end);
    return from < 0 || to < from ? QString() : document.mid(from, to + end.size() - from) + u'\n';
}

QString BusService::introspect(const QString&) const
{
    static const QString xml = InterfaceXml();
    return xml;
}

bool BusService::handleMessage(const QDBusMessage& message, const QDBusConnection&)
{
    if (message.type() != QDBusMessage::MethodCallMessage)
        return false;
    if (!message.interface().isEmpty() && message.interface() != text(kInterface))
        return false; // introspection and the standard interfaces: Qt answers them
    // The bus's thread may deliver the call; the answer is made where the windows live.
    QMetaObject::invokeMethod(
        this, [this, message] { answer(message); }, Qt::QueuedConnection);
    return true;
}

void BusService::answer(const QDBusMessage& message)
{
    const QString member = message.member();
    const QString signature = message.signature();
    QDBusMessage reply;
    WriteLog(QStringLiteral("Bus call: ") + member);
    if (member == u"Dismiss" && signature.isEmpty()) {
        if (m_wakeup.AlarmActive()) {
            m_wakeup.DismissAlarm();
            reply = message.createReply();
        } else {
            reply = message.createErrorReply(kNotRinging, QStringLiteral("No alarm is ringing."));
        }
    } else if (member == u"Snooze" && signature.isEmpty()) {
        if (!m_wakeup.AlarmActive())
            reply = message.createErrorReply(kNotRinging, QStringLiteral("No alarm is ringing."));
        else if (!m_wakeup.SnoozeAlarm())
            reply = message.createErrorReply(kNoSnooze, QStringLiteral("The ringing alarm has no snooze."));
        else
            reply = message.createReply();
    } else if (member == u"NextAlarm" && signature.isEmpty()) {
        const ScheduleResult& schedule = m_scheduler.Schedule();
        const QString due = nextDue();
        reply = message.createReply(
            QVariantList{due, due.isEmpty() ? QString() : DueLabels(m_scheduler.Alarms(), schedule.dueIndexes)});
    } else if (member == u"ListAlarms" && signature.isEmpty()) {
        reply = message.createReply(QVariant::fromValue(RemoteAlarms(m_scheduler.Alarms())));
    } else if (member == u"SetEnabled" && signature == u"ib") {
        const int index = message.arguments().at(0).toInt();
        if (m_mainForm.SetAlarmEnabled(index, message.arguments().at(1).toBool()))
            reply = message.createReply();
        else
            reply = message.createErrorReply(QDBusError::InvalidArgs,
                                             QStringLiteral("The list has no alarm %1.").arg(index));
    } else {
        reply = message.createErrorReply(QDBusError::UnknownMethod,
                                         QStringLiteral("No method %1 with arguments \"%2\".").arg(member, signature));
    }
    QDBusConnection::sessionBus().send(reply);
}

void BusService::sendSignal(const QString& name, const QVariantList& arguments)
{
    if (!m_exported)
        return;
    QDBusMessage signal = QDBusMessage::createSignal(text(kPath), text(kInterface), name);
    signal.setArguments(arguments);
    QDBusConnection::sessionBus().send(signal);
}

void BusService::nextAlarmMayHaveChanged()
{
    const QString due = nextDue();
    if (due == m_announcedDue)
        return;
    m_announcedDue = due;
    sendSignal(QStringLiteral("NextAlarmChanged"), {due});
}

QString BusService::nextDue() const
{
    return m_scheduler.Schedule().alarmAt ? DueText(m_scheduler.AlarmDueUtc(), m_offsetAt) : QString();
}
