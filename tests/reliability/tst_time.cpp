// Time as the user's clock shows it: daylight-saving nights, a clock set back or forward, a long
// suspend. The scheduler runs on the fake platform's timers with a clock and a time zone the test
// moves; every expected instant comes from walking the zone's clock minute by minute.
#include "TestScheduler.h"
#include "TimeZoneScope.h"
#include "core/alarms/AlarmRecord.h"
#include "core/alarms/AlarmScheduler.h"
#include "core/app/AppIni.h"
#include "core/mglib/MgLib.h"
#include "platform/fake/FakePlatform.h"

#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <ctime>

namespace {

constexpr int kDeliveryMs = 137; // how late the kernel hands a timer's expiry to the program

struct AlarmShape {
    int minutes;
    QString days = QStringLiteral("1111111"); // Sunday first; seven "0": one time
    bool wake = false;
};

QString alarmString(const AlarmShape& shape, const QString& label)
{
    AlarmRecord a;
    a.Time = MinutesToTime(shape.minutes);
    for (int i = 0; i < 7; ++i)
        a.Days[i] = shape.days.at(i) == u'1';
    a.WakeUp = shape.wake;
    a.Label = label;
    return BuildAlarmString(a);
}

struct Firing {
    QString label;
    QDateTime utc;
    bool operator==(const Firing&) const = default;
};

QString describe(const QList<Firing>& firings)
{
    QStringList lines;
    for (const Firing& f : firings)
        lines.append(f.label + u' ' + f.utc.toString(Qt::ISODate));
    return lines.join(u'\n');
}

bool earlier(const Firing& a, const Firing& b)
{
    return a.utc != b.utc ? a.utc < b.utc : a.label < b.label;
}

// The wall clock of a zone, minute by minute from `from` to `to` (UTC): an oracle that knows nothing of
// the code under test but the zone's offsets.
class WallClock
{
public:
    WallClock(const QTimeZone& zone, const QDateTime& from, const QDateTime& to)
    {
        for (QDateTime u = from; u <= to; u = u.addSecs(60))
            m_minutes.append({u, QDateTime(u.date(), u.time(), Qt::UTC).addSecs(zone.offsetFromUtc(u))});
    }

    /** The first instant at or after `after` at which the clock shows `wall` or later. */
    std::optional<QDateTime> FirstShowing(const QDateTime& wall, const QDateTime& after) const
    {
        for (const auto& [utc, shown] : m_minutes) {
            if (utc >= after && shown >= wall)
                return utc;
        }
        return std::nullopt;
    }

private:
    QList<std::pair<QDateTime, QDateTime>> m_minutes; // UTC instant, wall reading as a UTC-less date-time
};

QDateTime naive(const QDate& date, const QTime& time)
{
    return QDateTime(date, time, Qt::UTC);
}

// A scheduler on the fake platform, with the test's clock and zone and a real settings file.
struct Rig {
    QTemporaryDir dir;
    FakePlatform platform;
    TAppIni ini{dir.path(), dir.path()};
    QTimeZone zone;
    QDateTime now;
    TestScheduler scheduler{platform, ini, now, zone};
    std::unique_ptr<ClockWatch> watch;
    QList<Firing> fired;
    QList<QStringList> together; // the labels of each firing

    explicit Rig(const QByteArray& zoneId)
        : zone(zoneId)
    {
        ini.SetFileName(dir.filePath(QStringLiteral("Data.ini")));
        scheduler->SetClockChangeDelay(1);
        watch = platform.WatchClock([this](ClockChange) { scheduler->ClockChanged(); });
        QObject::connect(scheduler.get(), &AlarmScheduler::alarmsDue, scheduler.get(), [this](const QStringList& due) {
            together.append(QStringList());
            for (const QString& s : due) {
                fired.append({AlarmField::Label(s), now.toUTC()});
                together.last().append(AlarmField::Label(s));
            }
        });
    }

    void setWall(const QDate& date, const QTime& time) { now = QDateTime(date, time, zone); }
    void setUtc(const QDateTime& utc) { now = utc.toTimeZone(zone); }

    static QDateTime toUtc(const WallTime& t)
    {
        return QDateTime::fromMSecsSinceEpoch(
            std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count(), Qt::UTC);
    }

    // The clock runs to `until`: whenever the alarm timer's instant comes (at once when it lies in the
    // past), the clock shows it plus the delivery delay and the timer fires.
    void runUntil(const QDateTime& until)
    {
        for (int guard = 0; guard < 100000; ++guard) {
            const std::optional<WallTime> due = platform.AlarmDue();
            if (!due || toUtc(*due) > until)
                break;
            setUtc(std::max(now.toUTC(), toUtc(*due).addMSecs(kDeliveryMs)));
            QVERIFY(platform.AdvanceTo(ToWallTime(now.toUTC())));
        }
        if (until > now.toUTC())
            setUtc(until);
    }

    // The clock is set to another reading, as the user or time synchronisation does; the timer behaves
    // as the kernel's wall-clock timer does (an instant now in the past fires at once), then the notice
    // of the change rebuilds the schedule.
    void setClock(const QDateTime& newNow)
    {
        now = newNow;
        const std::optional<WallTime> due = platform.AlarmDue();
        if (due && toUtc(*due) <= now.toUTC())
            platform.AdvanceTo(ToWallTime(now.toUTC()));
        platform.ChangeClock(ClockChange::TimeSet);
        QTRY_VERIFY_WITH_TIMEOUT(!scheduler->ClockChangePending(), 5000);
    }
};

struct Transition {
    QDateTime atUtc;
    bool springForward;
};

// The zone's two changes of 2026, found from the zone itself.
QList<Transition> transitions2026(const QTimeZone& zone)
{
    QList<Transition> found;
    const auto list = zone.transitions(QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC),
                                       QDateTime(QDate(2026, 12, 31), QTime(0, 0), Qt::UTC));
    for (const QTimeZone::OffsetData& t : list) {
        const int before = zone.offsetFromUtc(t.atUtc.addSecs(-1));
        found.append({t.atUtc, t.offsetFromUtc > before});
    }
    return found;
}

// The first instant, at or after `from`, at which the C library's local time shows `wall` (a UTC-less date-time)
// or later. The zones tested change their offsets on whole minutes, so minutes are fine enough.
QDateTime libcFirstShowing(const QDateTime& wall, const QDateTime& from)
{
    for (qint64 t = from.toSecsSinceEpoch(); t < from.toSecsSinceEpoch() + 3 * 86400; t += 60) {
        const std::time_t instant = std::time_t(t);
        const std::tm* shown = std::localtime(&instant);
        const QDateTime reading(QDate(shown->tm_year + 1900, shown->tm_mon + 1, shown->tm_mday),
                                QTime(shown->tm_hour, shown->tm_min, shown->tm_sec), Qt::UTC);
        if (reading >= wall)
            return QDateTime::fromSecsSinceEpoch(t, Qt::UTC);
    }
    return {};
}

QDateTime libcLocal(const QDateTime& utc)
{
    const std::time_t instant = std::time_t(utc.toSecsSinceEpoch());
    const std::tm* shown = std::localtime(&instant);
    return QDateTime(QDate(shown->tm_year + 1900, shown->tm_mon + 1, shown->tm_mday),
                     QTime(shown->tm_hour, shown->tm_min, shown->tm_sec), Qt::UTC);
}

} // namespace

class TestTime : public QObject
{
    Q_OBJECT

private slots:
    void everyAlarmOfADaylightSavingWeekRingsOnce_data();
    void everyAlarmOfADaylightSavingWeekRingsOnce();
    void alarmsOfOneMinuteRingTogetherOnADaylightSavingNight_data();
    void alarmsOfOneMinuteRingTogetherOnADaylightSavingNight();
    void aClockSetBackDoesNotRingAgain();
    void aClockSetBackByDaysRingsTheNewDaysAlarms();
    void aRebuildInTheRepeatedHourRingsNothingTwice();
    void aClockSetForwardRingsTheSkippedAlarmsAtTheirNextTimes();
    void resumingFromALongSuspendRingsTheDueAlarmOnce();
    void aDueTimeInThePastFiresTheRealTimerOnce();
    void theProgramsClockAndItsAlarmsShareTheSystemZone_data();
    void theProgramsClockAndItsAlarmsShareTheSystemZone();
};

void TestTime::everyAlarmOfADaylightSavingWeekRingsOnce_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<bool>("springForward");
    for (const char* zone : {"Europe/Berlin", "America/New_York", "Australia/Lord_Howe"}) {
        QTest::addRow("%s, the week of the spring-forward night", zone) << QByteArray(zone) << true;
        QTest::addRow("%s, the week of the fall-back night", zone) << QByteArray(zone) << false;
    }
}

void TestTime::everyAlarmOfADaylightSavingWeekRingsOnce()
{
    QFETCH(QByteArray, zone);
    QFETCH(bool, springForward);
    Rig rig(zone);
    QVERIFY(rig.zone.isValid());
    const QList<Transition> changes = transitions2026(rig.zone);
    QCOMPARE(changes.size(), 2);
    const auto change = std::find_if(changes.begin(), changes.end(),
                                     [&](const Transition& t) { return t.springForward == springForward; });
    QVERIFY(change != changes.end());

    // Every quarter hour of the night, on every day, plus weekday, weekend and one-time alarms, some
    // of them waking the computer, and some sharing their minute with another.
    QList<AlarmShape> shapes;
    for (int minutes = 0; minutes <= 4 * 60; minutes += 15)
        shapes.append({minutes, QStringLiteral("1111111"), minutes % 30 == 0});
    shapes.append({7 * 60, QStringLiteral("1111111"), true});
    shapes.append(AlarmShape{23 * 60 + 59});
    shapes.append({2 * 60 + 20, QStringLiteral("0111110")});
    shapes.append({60 + 50, QStringLiteral("1000001"), true});
    shapes.append({2 * 60 + 40, QStringLiteral("0000000")});
    shapes.append({60 + 40, QStringLiteral("0000000"), true});
    shapes.append({2 * 60 + 30, QStringLiteral("1111111")});
    shapes.append({2 * 60 + 30, QStringLiteral("0000000"), true});
    shapes.append({60 + 40, QStringLiteral("0000000")});
    QStringList alarms;
    for (qsizetype i = 0; i < shapes.size(); ++i)
        alarms.append(alarmString(shapes.at(i), QStringLiteral("alarm %1").arg(i)));
    SortAlarms(alarms, 1);

    // From noon three days before the night to noon four days after it.
    const QDateTime changeWall = change->atUtc.toTimeZone(rig.zone);
    rig.setWall(changeWall.date().addDays(-3), QTime(12, 0));
    const QDateTime start = rig.now.toUTC();
    const QDateTime end = QDateTime(changeWall.date().addDays(4), QTime(12, 0), rig.zone).toUTC();
    rig.scheduler->SetAlarms(alarms);
    rig.scheduler->SaveAndRebuild();
    rig.runUntil(end);

    const WallClock clock(rig.zone, start.addDays(-1), end.addDays(9));
    const QDateTime firstWall = naive(start.toTimeZone(rig.zone).date(), start.toTimeZone(rig.zone).time());
    QList<Firing> expected;
    QSet<qint64> wakeInstants;
    for (qsizetype i = 0; i < shapes.size(); ++i) {
        const AlarmShape& shape = shapes.at(i);
        const QString label = QStringLiteral("alarm %1").arg(i);
        const bool once = shape.days == u"0000000";
        for (QDate day = firstWall.date(); day <= end.date().addDays(8); day = day.addDays(1)) {
            if (!once && shape.days.at(WeekdayIndex(day) - 1) != u'1')
                continue;
            const QDateTime wall = naive(day, MinutesToTime(shape.minutes));
            if (wall <= firstWall)
                continue;
            const std::optional<QDateTime> at = clock.FirstShowing(wall, start);
            QVERIFY(at);
            if (shape.wake)
                wakeInstants.insert(at->addSecs(-ScheduleResult::kWakeLeadSeconds).toMSecsSinceEpoch());
            if (*at <= end)
                expected.append({label, at->addMSecs(kDeliveryMs)});
            if (once)
                break;
        }
    }
    std::sort(expected.begin(), expected.end(), earlier);
    QList<Firing> fired = rig.fired;
    std::sort(fired.begin(), fired.end(), earlier);
    QVERIFY2(fired == expected,
             qPrintable(QStringLiteral("rang:\n%1\nexpected:\n%2").arg(describe(fired), describe(expected))));
    qInfo("%lld alarms rang, each once, at its instant", qlonglong(fired.size()));

    // The wake timer only ever stood ten seconds before an alarm that wakes the computer.
    for (const FakePlatform::ArmCall& call : rig.platform.ArmCalls()) {
        if (call.timer == FakePlatform::Timer::Wake && call.due)
            QVERIFY2(wakeInstants.contains(Rig::toUtc(*call.due).toMSecsSinceEpoch()),
                     qPrintable(Rig::toUtc(*call.due).toString(Qt::ISODate)));
    }
}

void TestTime::alarmsOfOneMinuteRingTogetherOnADaylightSavingNight_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<bool>("springForward");
    for (const char* zone : {"Europe/Berlin", "America/New_York"}) {
        QTest::addRow("%s, the spring-forward night", zone) << QByteArray(zone) << true;
        QTest::addRow("%s, the fall-back night", zone) << QByteArray(zone) << false;
    }
}

void TestTime::alarmsOfOneMinuteRingTogetherOnADaylightSavingNight()
{
    // :30 and :45 of the hour the zone skips or shows twice. The three alarms of :30 ring in one firing:
    // where the clock skips them, when it jumps over the hour, with :45 right after, skipped along with
    // them; where the clock shows them twice, in the first pass only.
    QFETCH(QByteArray, zone);
    QFETCH(bool, springForward);
    Rig rig(zone);
    const QList<Transition> changes = transitions2026(rig.zone);
    const auto change = std::find_if(changes.begin(), changes.end(),
                                     [&](const Transition& t) { return t.springForward == springForward; });
    QVERIFY(change != changes.end());
    const QDate night = change->atUtc.toTimeZone(rig.zone).date();
    // The hour after the last second before the change, or the hour the clock shows again after it.
    const int hour = (springForward ? change->atUtc.addSecs(-1).toTimeZone(rig.zone).time().hour() + 1
                                    : change->atUtc.toTimeZone(rig.zone).time().hour()) *
                     60;
    rig.setWall(night, QTime(0, 0));
    rig.scheduler->SetAlarms({alarmString({hour + 30}, QStringLiteral("A")),
                              alarmString({hour + 30, QStringLiteral("0000000")}, QStringLiteral("B")),
                              alarmString({hour + 30, QStringLiteral("1111111"), true}, QStringLiteral("C")),
                              alarmString({hour + 45}, QStringLiteral("D"))});
    rig.scheduler->SaveAndRebuild();
    QVERIFY(rig.platform.WakeDue());
    rig.runUntil(change->atUtc.addSecs(3 * 3600));

    const QDateTime firstAt = springForward ? change->atUtc : change->atUtc.addSecs(-30 * 60);
    const QDateTime secondAt = springForward ? change->atUtc : change->atUtc.addSecs(-15 * 60);
    const QList<QStringList> expectedTogether = {{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")},
                                                 {QStringLiteral("D")}};
    QCOMPARE(rig.together, expectedTogether);
    const QList<Firing> expected = {{QStringLiteral("A"), firstAt.addMSecs(kDeliveryMs)},
                                    {QStringLiteral("B"), firstAt.addMSecs(kDeliveryMs)},
                                    {QStringLiteral("C"), firstAt.addMSecs(kDeliveryMs)},
                                    {QStringLiteral("D"), secondAt.addMSecs(kDeliveryMs)}};
    QVERIFY2(rig.fired == expected, qPrintable(describe(rig.fired)));
    QVERIFY(!AlarmField::Enabled(rig.ini.ReadList(Settings::Alarms).value(1)));

    // The next night the repeating ones ring together again, at their own minute.
    const QDate next = night.addDays(1);
    rig.runUntil(QDateTime(next, QTime(4, 0), rig.zone).toUTC());
    QCOMPARE(rig.together.size(), 4);
    QCOMPARE(rig.together.at(2), (QStringList{QStringLiteral("A"), QStringLiteral("C")}));
    QCOMPARE(rig.fired.at(4).utc, QDateTime(next, MinutesToTime(hour + 30), rig.zone).toUTC().addMSecs(kDeliveryMs));
}

void TestTime::aClockSetBackDoesNotRingAgain()
{
    Rig rig("Europe/Berlin");
    const QDate day(2026, 12, 8);
    rig.setWall(day, QTime(6, 55));
    rig.scheduler->SetAlarms({alarmString({7 * 60}, QStringLiteral("A")),
                              alarmString({7 * 60 + 10}, QStringLiteral("B")),
                              alarmString({8 * 60}, QStringLiteral("C"))});
    rig.scheduler->Rebuild();
    rig.runUntil(QDateTime(day, QTime(7, 30), rig.zone).toUTC());
    QCOMPARE(rig.fired.size(), 2);

    rig.setClock(QDateTime(day, QTime(6, 30), rig.zone)); // an hour back, before A and B
    rig.runUntil(QDateTime(day.addDays(1), QTime(7, 5), rig.zone).toUTC());
    const QList<Firing> expected = {
        {QStringLiteral("A"), QDateTime(day, QTime(7, 0), rig.zone).toUTC().addMSecs(kDeliveryMs)},
        {QStringLiteral("B"), QDateTime(day, QTime(7, 10), rig.zone).toUTC().addMSecs(kDeliveryMs)},
        {QStringLiteral("C"), QDateTime(day, QTime(8, 0), rig.zone).toUTC().addMSecs(kDeliveryMs)},
        {QStringLiteral("A"), QDateTime(day.addDays(1), QTime(7, 0), rig.zone).toUTC().addMSecs(kDeliveryMs)}};
    QVERIFY2(rig.fired == expected, qPrintable(describe(rig.fired)));
}

void TestTime::aClockSetBackByDaysRingsTheNewDaysAlarms()
{
    // A jump far beyond a correction (a wrong date put right) starts over: every alarm of the days the
    // clock now shows rings, rather than staying silent for days.
    Rig rig("Europe/Berlin");
    const QDate day(2026, 12, 8);
    rig.setWall(day, QTime(6, 55));
    rig.scheduler->SetAlarms({alarmString({7 * 60}, QStringLiteral("A"))});
    rig.scheduler->Rebuild();
    rig.runUntil(QDateTime(day, QTime(7, 30), rig.zone).toUTC());
    rig.setClock(QDateTime(day.addDays(-2), QTime(6, 30), rig.zone));
    rig.runUntil(QDateTime(day, QTime(7, 30), rig.zone).toUTC());
    QCOMPARE(rig.fired.size(), 4);
    QCOMPARE(rig.fired.at(1).utc, QDateTime(day.addDays(-2), QTime(7, 0), rig.zone).toUTC().addMSecs(kDeliveryMs));
    QCOMPARE(rig.fired.at(3).utc, QDateTime(day, QTime(7, 0), rig.zone).toUTC().addMSecs(kDeliveryMs));
}

void TestTime::aRebuildInTheRepeatedHourRingsNothingTwice()
{
    // The fall-back night shows 02:00-02:59 twice. Alarms of that hour ring in its first pass; a rebuild in
    // the second pass (a clock correction, an edit) rings none of them again, and an alarm added then for
    // a minute still ahead rings in the second pass, when the clock shows it.
    Rig rig("Europe/Berlin");
    const QList<Transition> changes = transitions2026(rig.zone);
    const Transition fallBack = changes.at(changes.at(0).springForward ? 1 : 0);
    const QDate night = fallBack.atUtc.toTimeZone(rig.zone).date();
    rig.setWall(night, QTime(1, 50));
    rig.scheduler->SetAlarms(
        {alarmString({2 * 60 + 15}, QStringLiteral("A")), alarmString({2 * 60 + 45}, QStringLiteral("B"))});
    rig.scheduler->Rebuild();
    rig.runUntil(fallBack.atUtc.addSecs(10 * 60)); // 02:10, second pass
    QCOMPARE(rig.fired.size(), 2);
    QVERIFY(rig.fired.at(1).utc < fallBack.atUtc);

    rig.setClock(rig.now.addMSecs(-300)); // a small step back by time synchronisation
    PutAlarm(*rig.scheduler.get(), 2, alarmString({2 * 60 + 30, QStringLiteral("0000000")}, QStringLiteral("C")));
    rig.runUntil(fallBack.atUtc.addSecs(3 * 3600));
    QCOMPARE(rig.fired.size(), 3);
    QCOMPARE(rig.fired.at(2).label, QStringLiteral("C"));
    QCOMPARE(rig.fired.at(2).utc, fallBack.atUtc.addSecs(30 * 60).addMSecs(kDeliveryMs));
}

void TestTime::aClockSetForwardRingsTheSkippedAlarmsAtTheirNextTimes()
{
    Rig rig("America/New_York");
    const QDate day(2026, 12, 8);
    rig.setWall(day, QTime(6, 50));
    rig.scheduler->SetAlarms({alarmString({7 * 60}, QStringLiteral("A")),
                              alarmString({7 * 60 + 30}, QStringLiteral("B")),
                              alarmString({7 * 60 + 45, QStringLiteral("0000000")}, QStringLiteral("once")),
                              alarmString({8 * 60}, QStringLiteral("C")), alarmString({9 * 60}, QStringLiteral("D"))});
    rig.scheduler->Rebuild();

    // Set forward past A, B, the one-time alarm and C: the timer armed for A is overtaken and fires at
    // once, as an absolute timer does; the others ring at their next times, the one-time one tomorrow.
    const QDateTime jumped(day, QTime(8, 30), rig.zone);
    rig.setClock(jumped);
    rig.runUntil(QDateTime(day.addDays(1), QTime(10, 0), rig.zone).toUTC());
    const auto at = [&](int dayOffset, int h, int m) {
        return QDateTime(day.addDays(dayOffset), QTime(h, m), rig.zone).toUTC().addMSecs(kDeliveryMs);
    };
    const QList<Firing> expected = {{QStringLiteral("A"), jumped.toUTC()},  {QStringLiteral("D"), at(0, 9, 0)},
                                    {QStringLiteral("A"), at(1, 7, 0)},     {QStringLiteral("B"), at(1, 7, 30)},
                                    {QStringLiteral("once"), at(1, 7, 45)}, {QStringLiteral("C"), at(1, 8, 0)},
                                    {QStringLiteral("D"), at(1, 9, 0)}};
    QVERIFY2(rig.fired == expected, qPrintable(describe(rig.fired)));
}

void TestTime::resumingFromALongSuspendRingsTheDueAlarmOnce()
{
    Rig rig("Australia/Lord_Howe");
    const QDate day(2026, 12, 8);
    rig.setWall(day, QTime(6, 0));
    rig.scheduler->SetAlarms({alarmString({7 * 60}, QStringLiteral("A")),
                              alarmString({8 * 60, QStringLiteral("0000000")}, QStringLiteral("once")),
                              alarmString({10 * 60}, QStringLiteral("B"))});
    rig.scheduler->Rebuild();

    // Asleep from 06:00 to 09:30: on waking, the timer's instant lies in the past, so it fires at once.
    const QDateTime resumed(day, QTime(9, 30), rig.zone);
    rig.now = resumed;
    QVERIFY(rig.platform.AdvanceTo(ToWallTime(resumed.toUTC())));
    QVERIFY(!rig.platform.AdvanceTo(ToWallTime(resumed.toUTC()))); // once
    rig.setClock(resumed.addSecs(5));                              // the resume notice rebuilds
    QCOMPARE(rig.fired.size(), 1);
    QCOMPARE(rig.fired.at(0).label, QStringLiteral("A"));
    QCOMPARE(rig.fired.at(0).utc, resumed.toUTC());

    rig.runUntil(QDateTime(day.addDays(1), QTime(9, 0), rig.zone).toUTC());
    QStringList labels;
    for (const Firing& f : std::as_const(rig.fired))
        labels.append(f.label);
    QCOMPARE(labels,
             (QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("A"), QStringLiteral("once")}));
}

void TestTime::aDueTimeInThePastFiresTheRealTimerOnce()
{
    // The same on the system's own wall-clock timer: the schedule's clock says it is three hours earlier
    // than it is (as before a suspend), so the timer is armed for an instant the real clock has passed.
    std::unique_ptr<Platform> platform = CreatePlatform();
    QTemporaryDir dir;
    TAppIni ini(dir.path(), dir.path());
    ini.SetFileName(dir.filePath(QStringLiteral("Data.ini")));
    const QTimeZone zone = QTimeZone::systemTimeZone();
    QDateTime now = QDateTime::currentDateTime().toTimeZone(zone).addSecs(-3 * 3600);
    TestScheduler scheduler(*platform, ini, now, zone);
    QVERIFY(scheduler.timers);
    QSignalSpy due(scheduler.get(), &AlarmScheduler::alarmsDue);
    const QTime in = now.time().addSecs(120);
    if (in < now.time())
        QSKIP("the alarm would fall on the next day; the day change is covered above");
    scheduler->SetAlarms({alarmString({in.hour() * 60 + in.minute()}, QStringLiteral("A"))});
    scheduler->Rebuild();
    now = QDateTime::currentDateTime().toTimeZone(zone); // the computer woke up
    QTRY_COMPARE_WITH_TIMEOUT(due.size(), 1, 5000);
    QTest::qWait(300); // a second firing would come as promptly as the first
    QCOMPARE(due.size(), 1);
    QVERIFY(scheduler->AlarmDueUtc() > QDateTime::currentDateTimeUtc());
    scheduler.timers->Stop();
}

void TestTime::theProgramsClockAndItsAlarmsShareTheSystemZone_data()
{
    QTest::addColumn<bool>("set");
    QTest::addColumn<QByteArray>("tz");
    QTest::newRow("TZ=UTC+3, three hours behind UTC") << true << QByteArray("UTC+3");
    QTest::newRow("TZ=EST5EDT with its rules") << true << QByteArray("EST5EDT,M3.2.0,M11.1.0");
    QTest::newRow("TZ=<+0530>-5:30") << true << QByteArray("<+0530>-5:30");
    QTest::newRow("TZ=:Europe/Berlin") << true << QByteArray(":Europe/Berlin");
    QTest::newRow("TZ unset, the system setting") << false << QByteArray();
}

void TestTime::theProgramsClockAndItsAlarmsShareTheSystemZone()
{
    // The program shows the time in the system's local time as the C library reads it. An alarm at a local
    // time is armed for the instant at which that local time shows it, whatever the zone's rules, and
    // the clock the schedule starts from is the one the windows show.
    QFETCH(bool, set);
    QFETCH(QByteArray, tz);
    const TimeZoneScope scope(set ? std::optional<QByteArray>(tz) : std::nullopt);
    if (tz == "UTC+3") {
        QCOMPARE(libcFirstShowing(naive(QDate(2026, 12, 8), QTime(15, 23)),
                                  QDateTime(QDate(2026, 12, 8), QTime(0, 0), Qt::UTC)),
                 QDateTime(QDate(2026, 12, 8), QTime(18, 23), Qt::UTC));
    }

    QTemporaryDir dir;
    FakePlatform platform;
    TAppIni ini(dir.path(), dir.path());
    ini.SetFileName(dir.filePath(QStringLiteral("Data.ini")));
    QDateTime now;
    std::unique_ptr<TTimerThread> timers = TTimerThread::Create(platform, [] {});
    SchedulerClock clock; // the program's own zone
    clock.now = [&now] { return now; };
    AlarmScheduler scheduler(ini, *timers, clock);

    // Ordinary days in winter and summer, and the nights on which these zones' clocks change.
    const QList<QDateTime> walls = {naive(QDate(2026, 1, 15), QTime(15, 23)), naive(QDate(2026, 7, 1), QTime(6, 5)),
                                    naive(QDate(2026, 3, 8), QTime(2, 30)),   naive(QDate(2026, 11, 1), QTime(1, 30)),
                                    naive(QDate(2026, 3, 29), QTime(2, 30)),  naive(QDate(2026, 10, 25), QTime(2, 30))};
    for (const QDateTime& wall : walls) {
        const QString where = QString::fromLatin1(tz) + u' ' + wall.toString(Qt::ISODate);
        const QDateTime scanFrom = wall.addSecs(-15 * 3600);
        const QDateTime due = libcFirstShowing(wall, scanFrom);
        QVERIFY2(due.isValid(), qPrintable(where));
        scheduler.SetAlarms({alarmString({wall.time().hour() * 60 + wall.time().minute(), QStringLiteral("0000000")},
                                         QStringLiteral("A"))});

        // A minute and a half before: today, at that instant.
        now = due.addSecs(-90);
        const LocalDateTime shown = UtcToLocal(now, clock.offsetAt);
        QCOMPARE(naive(shown.date, shown.time), libcLocal(now));
        const QDateTime windows = QDateTime::fromMSecsSinceEpoch(now.toMSecsSinceEpoch(), Qt::LocalTime);
        QCOMPARE(naive(windows.date(), windows.time()), libcLocal(now));
        scheduler.Rebuild();
        QVERIFY2(platform.AlarmDue() == ToWallTime(due),
                 qPrintable(where + QStringLiteral(": armed for ") + scheduler.AlarmDueUtc().toString(Qt::ISODate) +
                            QStringLiteral(", expected ") + due.toString(Qt::ISODate)));

        // Half a minute after: the minute has come, so tomorrow.
        now = due.addSecs(30);
        scheduler.Rebuild();
        const QDateTime tomorrow = libcFirstShowing(wall.addDays(1), scanFrom.addDays(1));
        QVERIFY2(platform.AlarmDue() == ToWallTime(tomorrow),
                 qPrintable(where + QStringLiteral(": armed for ") + scheduler.AlarmDueUtc().toString(Qt::ISODate) +
                            QStringLiteral(", expected ") + tomorrow.toString(Qt::ISODate)));
    }
}

QTEST_GUILESS_MAIN(TestTime)
#include "tst_time.moc"
