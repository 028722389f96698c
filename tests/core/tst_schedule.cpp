#include "core/alarms/AlarmRecord.h"
#include "core/alarms/AlarmScheduler.h"
#include "core/alarms/LocalTime.h"
#include "core/alarms/Schedule.h"
#include "core/app/AppIni.h"
#include "core/mglib/MgLib.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QLocale kLocale(QLocale::English, QLocale::UnitedStates);

struct AlarmShape {
    int minutes;
    QString days = QStringLiteral("0000000"); // Sunday first
    bool wake = false;
    bool enabled = true;
    QString label = QStringLiteral("Alarm");
};

QString makeAlarm(const AlarmShape& shape)
{
    AlarmRecord a;
    a.Time = MinutesToTime(shape.minutes);
    for (int i = 0; i < 7; ++i)
        a.Days[i] = shape.days.at(i) == u'1';
    a.WakeUp = shape.wake;
    a.Enabled = shape.enabled;
    a.Label = shape.label;
    return BuildAlarmString(a);
}

const QString kDaily = QStringLiteral("1111111");

LocalDateTime at(int y, int m, int d, int h, int min, int s = 0)
{
    return {QDate(y, m, d), QTime(h, min, s)};
}

QList<int> panelIndexes(const ScheduleResult& r)
{
    QList<int> indexes;
    for (const PanelLine& line : r.panel)
        indexes.append(line.listIndex);
    return indexes;
}

// The order a selection sort that exchanges items produces, written the slow, obvious way.
QStringList selectionSorted(QStringList alarms, int offset, int* selected)
{
    for (int i = 0; i < alarms.size(); ++i) {
        int best = i;
        for (int j = i + 1; j < alarms.size(); ++j) {
            if (AlarmSortKey(alarms.at(j), offset) < AlarmSortKey(alarms.at(best), offset))
                best = j;
        }
        if (best != i) {
            alarms.swapItemsAt(i, best);
            if (*selected == i)
                *selected = best;
            else if (*selected == best)
                *selected = i;
        }
    }
    return alarms;
}

QDateTime utc(int y, int m, int d, int h, int min)
{
    return QDateTime(QDate(y, m, d), QTime(h, min), Qt::UTC);
}

} // namespace

class TestSchedule : public QObject
{
    Q_OBJECT

private slots:
    void threeDailyAlarmsAndAWakeAlarmBeyondThePanel();
    void oneTimeAlarmAtTheCurrentMinuteGoesToTomorrow();
    void alarmOneMinuteAheadIsToday();
    void nothingEnabledParksBothTimers_data();
    void nothingEnabledParksBothTimers();
    void saturdayOnlyAlarmSeenOnSunday();
    void horizonIsThirtyDays();
    void oneTimeAlarmIsListedOnce();
    void occurrencesCrossMonthAndYearEnds_data();
    void occurrencesCrossMonthAndYearEnds();
    void wakeTimerBeforeMidnightAlarm();
    void panelLineText();
    void panelLineInALocaleWithTheDesignatorFirst();
    void schedulerRedoesThePanelInANewLocale();
    void sortOrdersByTimeThenFirstDayOfTheLocaleWeek();
    void sortMatchesASelectionSortOnRandomLists();
    void localToUtc_data();
    void localToUtc();
    void localToUtcFromAnOffsetFunction_data();
    void localToUtcFromAnOffsetFunction();
    void offsetFunctionOfAZoneAgreesWithTheZone();
    void utcToLocal();
    void everyAlarmOfTheMinuteIsDue_data();
    void everyAlarmOfTheMinuteIsDue();
    void afterTheMinuteRangRepeatingAlarmsKeepTheirNextDay();
    void aRungAlarmIsNotDueAgainWithTheOthersOfItsMinute();
};

void TestSchedule::threeDailyAlarmsAndAWakeAlarmBeyondThePanel()
{
    const QStringList alarms = {makeAlarm({360, kDaily}), makeAlarm({370, kDaily}), makeAlarm({380, kDaily}),
                                makeAlarm({420, QStringLiteral("0000000"), true})};
    const ScheduleResult r = RebuildSchedule(alarms, at(2026, 12, 8, 5, 0), kLocale);
    QCOMPARE(panelIndexes(r), (QList<int>{0, 1, 2}));
    QCOMPARE(r.nextAlarmIndex, 0);
    QCOMPARE(r.alarmAt, at(2026, 12, 8, 6, 0));
    QCOMPARE(r.wakeAt, at(2026, 12, 8, 6, 59, 50));
    QCOMPARE(r.trayIconIndex, 0);
    QCOMPARE(r.trayHint, r.panel.first().text);
    QVERIFY(r.floatingIndicatorVisible);
}

void TestSchedule::oneTimeAlarmAtTheCurrentMinuteGoesToTomorrow()
{
    const ScheduleResult r = RebuildSchedule(QStringList{makeAlarm({420})}, at(2026, 12, 8, 7, 0, 30), kLocale);
    QCOMPARE(r.alarmAt, at(2026, 12, 9, 7, 0));
    QCOMPARE(r.panel.size(), 1);
}

void TestSchedule::alarmOneMinuteAheadIsToday()
{
    const ScheduleResult r =
        RebuildSchedule(QStringList{makeAlarm({421, kDaily, true})}, at(2026, 12, 8, 7, 0, 59), kLocale);
    QCOMPARE(r.alarmAt, at(2026, 12, 8, 7, 1));
    QCOMPARE(r.wakeAt, at(2026, 12, 8, 7, 0, 50));
}

void TestSchedule::nothingEnabledParksBothTimers_data()
{
    QTest::addColumn<QStringList>("alarms");
    QTest::newRow("empty list") << QStringList();
    QTest::newRow("every alarm disabled")
        << QStringList{makeAlarm({60, kDaily, true, false}), makeAlarm({90, QStringLiteral("0000000"), true, false})};
}

void TestSchedule::nothingEnabledParksBothTimers()
{
    QFETCH(QStringList, alarms);
    const ScheduleResult r = RebuildSchedule(alarms, at(2026, 12, 8, 5, 0), kLocale);
    QVERIFY(r.panel.isEmpty());
    QVERIFY(!r.alarmAt);
    QVERIFY(!r.wakeAt);
    QCOMPARE(r.nextAlarmIndex, -1);
    QCOMPARE(r.trayHint, QStringLiteral("Larkbell"));
    QCOMPARE(r.trayIconIndex, 1);
    QVERIFY(!r.floatingIndicatorVisible);
}

void TestSchedule::saturdayOnlyAlarmSeenOnSunday()
{
    const ScheduleResult r =
        RebuildSchedule(QStringList{makeAlarm({480, QStringLiteral("0000001")})}, at(2026, 12, 6, 12, 0), kLocale);
    QCOMPARE(r.alarmAt, at(2026, 12, 12, 8, 0));
    QCOMPARE(r.panel.size(), 3); // the next three Saturdays
    QVERIFY(r.panel.at(2).text.startsWith(QStringLiteral("12/26/26")));
}

void TestSchedule::horizonIsThirtyDays()
{
    // A wake alarm is never found here, so all 30 days are examined, and no further.
    const ScheduleResult r =
        RebuildSchedule(QStringList{makeAlarm({480, QStringLiteral("0000001")})}, at(2027, 1, 2, 9, 0), kLocale);
    QCOMPARE(r.panel.size(), 3);
    QCOMPARE(r.alarmAt, at(2027, 1, 9, 8, 0));
    const ScheduleResult none = RebuildSchedule(QStringList{makeAlarm({480, QStringLiteral("0000001"), false, true})},
                                                at(2027, 1, 2, 9, 0), kLocale);
    QCOMPARE(none.panel.size(), 3);
    QVERIFY(!none.wakeAt);
}

void TestSchedule::oneTimeAlarmIsListedOnce()
{
    const ScheduleResult r =
        RebuildSchedule(QStringList{makeAlarm({300}), makeAlarm({600, kDaily})}, at(2026, 12, 8, 8, 0), kLocale);
    // 05:00 one-time is past: tomorrow; the daily 10:00 fills the other lines.
    QCOMPARE(panelIndexes(r), (QList<int>{1, 0, 1}));
    QCOMPARE(r.alarmAt, at(2026, 12, 8, 10, 0));
}

void TestSchedule::occurrencesCrossMonthAndYearEnds_data()
{
    QTest::addColumn<LocalDateTime>("now");
    QTest::addColumn<LocalDateTime>("expected");
    QTest::newRow("New Year's Eve to 1 January") << at(2026, 12, 31, 23, 59, 59) << at(2027, 1, 1, 0, 0);
    QTest::newRow("28 February to 29 February") << at(2028, 2, 28, 23, 30) << at(2028, 2, 29, 0, 0);
    QTest::newRow("29 February to 1 March") << at(2028, 2, 29, 23, 30) << at(2028, 3, 1, 0, 0);
    QTest::newRow("30 April to 1 May") << at(2026, 4, 30, 12, 0) << at(2026, 5, 1, 0, 0);
}

void TestSchedule::occurrencesCrossMonthAndYearEnds()
{
    QFETCH(LocalDateTime, now);
    QFETCH(LocalDateTime, expected);
    const ScheduleResult r = RebuildSchedule(QStringList{makeAlarm({0, kDaily})}, now, kLocale);
    QCOMPARE(r.alarmAt, expected);
}

void TestSchedule::wakeTimerBeforeMidnightAlarm()
{
    const ScheduleResult r =
        RebuildSchedule(QStringList{makeAlarm({0, kDaily, true})}, at(2026, 12, 31, 12, 0), kLocale);
    QCOMPARE(r.alarmAt, at(2027, 1, 1, 0, 0));
    QCOMPARE(r.wakeAt, at(2026, 12, 31, 23, 59, 50));
}

void TestSchedule::panelLineText()
{
    AlarmRecord a;
    a.Time = QTime(9, 5);
    a.Label = QStringLiteral("Call\r\nMum");
    a.Sound = QStringLiteral("Birds");
    const ScheduleResult r = RebuildSchedule(QStringList{BuildAlarmString(a)}, at(2026, 12, 8, 8, 0), kLocale);
    // The time's own form (and its narrow space before AM) is the locale's business.
    const QString time = kLocale.toString(QTime(9, 5), QLocale::ShortFormat);
    QCOMPARE(r.panel.first().text, QStringLiteral("12/8/26 ") + time + QStringLiteral(" Tue - Call||Mum / Birds"));
    a.Sound.clear();
    const ScheduleResult silent = RebuildSchedule(QStringList{BuildAlarmString(a)}, at(2026, 12, 8, 8, 0), kLocale);
    QVERIFY(silent.panel.first().text.endsWith(QStringLiteral(" - Call||Mum")));
}

void TestSchedule::panelLineInALocaleWithTheDesignatorFirst()
{
    const QLocale taiwan(QStringLiteral("zh_TW"));
    AlarmRecord a;
    a.Time = QTime(21, 5);
    a.Label = QStringLiteral("x");
    const ScheduleResult r = RebuildSchedule(QStringList{BuildAlarmString(a)}, at(2026, 12, 8, 8, 0), taiwan);
    const QString text = r.panel.first().text;
    // Evening in a 12-hour day, not the hour of a 24-hour one behind a stray letter.
    QVERIFY2(text.contains(taiwan.pmText() + QStringLiteral("9:05")), qPrintable(text));
    QVERIFY2(!text.contains(QStringLiteral("21")), qPrintable(text));
}

void TestSchedule::schedulerRedoesThePanelInANewLocale()
{
    struct Timers final : ScheduleTimers {
        int armed = 0;
        bool ArmAlarm(const QDateTime&) override { return ++armed > 0; }
        WakeArming ArmWake(const QDateTime&, bool) override { return {}; }
    } timers;
    QTemporaryDir dir;
    TAppIni ini(dir.path(), QString());
    ini.SetFileName(dir.filePath(QStringLiteral("Data.ini")));
    SchedulerClock clock;
    clock.now = [] { return QDateTime(QDate(2026, 12, 8), QTime(8, 0), Qt::UTC); };
    clock.offsetAt = [](qint64) { return 0; };
    AlarmScheduler scheduler(ini, timers, clock);
    scheduler.SetLocale(kLocale);
    QCOMPARE(timers.armed, 0); // nothing built yet: the list may not even be loaded
    scheduler.SetAlarms({makeAlarm({540, kDaily})});
    scheduler.Rebuild();
    QVERIFY2(scheduler.Schedule().panel.first().text.contains(QStringLiteral("Tue")),
             qPrintable(scheduler.Schedule().panel.first().text));

    QSignalSpy changed(&scheduler, &AlarmScheduler::scheduleChanged);
    const QLocale german(QLocale::German, QLocale::Germany);
    scheduler.SetLocale(german);
    QCOMPARE(changed.count(), 1);
    const QString text = scheduler.Schedule().panel.first().text;
    QVERIFY2(text.startsWith(german.toString(QDate(2026, 12, 8), QLocale::ShortFormat) + QStringLiteral(" 09:00 ") +
                             german.dayName(2, QLocale::ShortFormat)),
             qPrintable(text));
    scheduler.SetLocale(german);
    QCOMPARE(changed.count(), 1); // the same locale again changes nothing
}

void TestSchedule::sortOrdersByTimeThenFirstDayOfTheLocaleWeek()
{
    const QString sunday = makeAlarm({480, QStringLiteral("1000000"), false, true, QStringLiteral("sun")});
    const QString monday = makeAlarm({480, QStringLiteral("0100000"), false, true, QStringLiteral("mon")});
    const QString once = makeAlarm({480, QStringLiteral("0000000"), false, true, QStringLiteral("once")});
    const QString early = makeAlarm({479, QStringLiteral("0000000"), false, true, QStringLiteral("early")});
    QStringList list = {once, sunday, monday, early};
    int selected = 0;               // "once" is selected and must stay selected
    SortAlarms(list, 1, &selected); // Monday-first: Monday before Sunday
    QCOMPARE(list, (QStringList{early, monday, sunday, once}));
    QCOMPARE(list.at(selected), once);
    list = {once, sunday, monday, early};
    SortAlarms(list, 0); // Sunday-first
    QCOMPARE(list, (QStringList{early, sunday, monday, once}));
}

void TestSchedule::sortMatchesASelectionSortOnRandomLists()
{
    QRandomGenerator random(20261208);
    for (int round = 0; round < 200; ++round) {
        QStringList list;
        const int n = int(random.bounded(1, 40));
        for (int i = 0; i < n; ++i) {
            QString days;
            for (int d = 0; d < 7; ++d)
                days += random.bounded(4) == 0 ? u'1' : u'0';
            // Few distinct times, so ties are common and the exchange order matters.
            list.append(makeAlarm({int(random.bounded(3)) * 60, days, false, true, QString::number(i)}));
        }
        const int offset = int(random.bounded(7));
        int expectedSelected = int(random.bounded(n));
        int selected = expectedSelected;
        const QStringList expected = selectionSorted(list, offset, &expectedSelected);
        SortAlarms(list, offset, &selected);
        QCOMPARE(list, expected);
        QCOMPARE(selected, expectedSelected);
    }
}

void TestSchedule::localToUtc_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<LocalDateTime>("local");
    QTest::addColumn<QDateTime>("expected");
    QTest::newRow("Berlin winter") << QByteArray("Europe/Berlin") << at(2026, 12, 8, 9, 0) << utc(2026, 12, 8, 8, 0);
    QTest::newRow("Berlin summer") << QByteArray("Europe/Berlin") << at(2026, 7, 1, 9, 0) << utc(2026, 7, 1, 7, 0);
    QTest::newRow("Berlin gap rings when the clock jumps")
        << QByteArray("Europe/Berlin") << at(2026, 3, 29, 2, 30) << utc(2026, 3, 29, 1, 0);
    QTest::newRow("Berlin time after the gap")
        << QByteArray("Europe/Berlin") << at(2026, 3, 29, 3, 0) << utc(2026, 3, 29, 1, 0);
    QTest::newRow("Berlin overlap rings the first time")
        << QByteArray("Europe/Berlin") << at(2026, 10, 25, 2, 30) << utc(2026, 10, 25, 0, 30);
    QTest::newRow("New York gap") << QByteArray("America/New_York") << at(2026, 3, 8, 2, 30) << utc(2026, 3, 8, 7, 0);
    QTest::newRow("New York overlap") << QByteArray("America/New_York") << at(2026, 11, 1, 1, 30)
                                      << utc(2026, 11, 1, 5, 30);
    QTest::newRow("Lord Howe half-hour gap")
        << QByteArray("Australia/Lord_Howe") << at(2026, 10, 4, 2, 15) << utc(2026, 10, 3, 15, 30);
    QTest::newRow("Lord Howe half-hour overlap")
        << QByteArray("Australia/Lord_Howe") << at(2026, 4, 5, 1, 45) << utc(2026, 4, 4, 14, 45);
    QTest::newRow("Tokyo has no transitions")
        << QByteArray("Asia/Tokyo") << at(2026, 3, 29, 2, 30) << utc(2026, 3, 28, 17, 30);
}

void TestSchedule::localToUtc()
{
    QFETCH(QByteArray, zone);
    QFETCH(LocalDateTime, local);
    QFETCH(QDateTime, expected);
    const QTimeZone tz(zone);
    QVERIFY2(tz.isValid(), zone.constData());
    QCOMPARE(LocalToUtc(local, tz), expected);
}

namespace {

// A made-up zone two hours ahead of UTC that goes to three hours ahead, and back, at instants that are
// not on a minute, so nothing but the offsets can tell where its gap and its repeated hour lie.
const QDateTime kForward = QDateTime(QDate(2026, 5, 10), QTime(0, 59, 30), Qt::UTC);
const QDateTime kBack = QDateTime(QDate(2026, 9, 20), QTime(0, 0, 15), Qt::UTC);

int madeUpOffset(qint64 utcSecs)
{
    return utcSecs >= kForward.toSecsSinceEpoch() && utcSecs < kBack.toSecsSinceEpoch() ? 3 * 3600 : 2 * 3600;
}

} // namespace

void TestSchedule::localToUtcFromAnOffsetFunction_data()
{
    QTest::addColumn<LocalDateTime>("local");
    QTest::addColumn<QDateTime>("expected");
    // The clock jumps from 02:59:29 to 03:59:30 and falls back from 03:00:14 to 02:00:15.
    QTest::newRow("before the gap") << at(2026, 5, 10, 2, 59) << utc(2026, 5, 10, 0, 59);
    QTest::newRow("in the gap: the second the clock jumps") << at(2026, 5, 10, 3, 30) << kForward;
    QTest::newRow("the gap's first second") << LocalDateTime{QDate(2026, 5, 10), QTime(2, 59, 30)} << kForward;
    QTest::newRow("the first minute after the gap") << at(2026, 5, 10, 4, 0) << utc(2026, 5, 10, 1, 0);
    QTest::newRow("repeated: the first time") << at(2026, 9, 20, 2, 30) << utc(2026, 9, 19, 23, 30);
    QTest::newRow("after the repeated hour") << at(2026, 9, 20, 3, 1) << utc(2026, 9, 20, 1, 1);
    QTest::newRow("milliseconds are kept") << LocalDateTime{QDate(2026, 7, 1), QTime(12, 0, 0, 250)}
                                           << QDateTime(QDate(2026, 7, 1), QTime(9, 0, 0, 250), Qt::UTC);
}

void TestSchedule::localToUtcFromAnOffsetFunction()
{
    QFETCH(LocalDateTime, local);
    QFETCH(QDateTime, expected);
    QCOMPARE(LocalToUtc(local, madeUpOffset), expected);
}

void TestSchedule::offsetFunctionOfAZoneAgreesWithTheZone()
{
    // Every quarter hour of 2026 in zones with whole-hour, half-hour and 45-minute changes.
    for (const char* id : {"Europe/Berlin", "America/New_York", "Australia/Lord_Howe", "Asia/Kathmandu"}) {
        const QTimeZone zone(id);
        QVERIFY2(zone.isValid(), id);
        const UtcOffsetAt offsets = ZoneOffsets(zone);
        for (LocalDateTime local = at(2026, 1, 1, 0, 0); local.date.year() == 2026; local = local.addSecs(15 * 60)) {
            const QDateTime instant = LocalToUtc(local, offsets);
            QCOMPARE(LocalToUtc(local, zone), instant);
            const LocalDateTime shown = UtcToLocal(instant, offsets);
            // The clock shows the time itself, or, in a gap, the first time after it.
            QVERIFY2(shown == local || (shown.date == local.date && shown.time > local.time &&
                                        UtcToLocal(instant.addSecs(-1), offsets).time < local.time),
                     qPrintable(QString::fromLatin1(id) + u' ' + local.toString()));
        }
    }
    // No zone: the system's local time.
    const QDateTime instant = utc(2026, 7, 1, 12, 0);
    QCOMPARE(ZoneOffsets(QTimeZone())(instant.toSecsSinceEpoch()), SystemUtcOffset(instant.toSecsSinceEpoch()));
}

void TestSchedule::utcToLocal()
{
    const UtcOffsetAt offsets = ZoneOffsets(QTimeZone("Asia/Kathmandu"));
    QCOMPARE(UtcToLocal(QDateTime(QDate(2026, 12, 31), QTime(18, 15, 0, 999), Qt::UTC), offsets),
             (LocalDateTime{QDate(2027, 1, 1), QTime(0, 0, 0, 999)}));
    QCOMPARE(UtcToLocal(kForward, madeUpOffset), (LocalDateTime{QDate(2026, 5, 10), QTime(3, 59, 30)}));
    QCOMPARE(UtcToLocal(kForward.addMSecs(-1), madeUpOffset),
             (LocalDateTime{QDate(2026, 5, 10), QTime(2, 59, 29, 999)}));
    QCOMPARE(UtcToLocal(QDateTime::fromMSecsSinceEpoch(-1, Qt::UTC), madeUpOffset),
             (LocalDateTime{QDate(1970, 1, 1), QTime(1, 59, 59, 999)}));
}

void TestSchedule::everyAlarmOfTheMinuteIsDue_data()
{
    QTest::addColumn<QStringList>("alarms");
    QTest::addColumn<LocalDateTime>("now");
    QTest::addColumn<LocalDateTime>("alarmAt");
    QTest::addColumn<QList<int>>("due");
    const QString once = QStringLiteral("0000000");
    const QString weekend = QStringLiteral("1000001");
    const QString tuesday = QStringLiteral("0010000");
    // 8 December 2026 is a Tuesday.
    QTest::newRow("two one-time and two repeating alarms at 07:00")
        << QStringList{makeAlarm({420, once}), makeAlarm({420, kDaily}), makeAlarm({420, once}),
                       makeAlarm({420, tuesday}), makeAlarm({421, kDaily})}
        << at(2026, 12, 8, 6, 0) << at(2026, 12, 8, 7, 0) << QList<int>{0, 1, 2, 3};
    QTest::newRow("three at one minute") << QStringList{makeAlarm({420, kDaily}), makeAlarm({420, kDaily}),
                                                        makeAlarm({420, once})}
                                         << at(2026, 12, 8, 6, 0) << at(2026, 12, 8, 7, 0) << QList<int>{0, 1, 2};
    QTest::newRow("four at one minute, more than the panel shows")
        << QStringList{makeAlarm({420, once}), makeAlarm({420, once}), makeAlarm({420, once}), makeAlarm({420, once})}
        << at(2026, 12, 8, 6, 0) << at(2026, 12, 8, 7, 0) << QList<int>{0, 1, 2, 3};
    QTest::newRow("one alone at its minute") << QStringList{makeAlarm({419, kDaily}), makeAlarm({420, kDaily})}
                                             << at(2026, 12, 8, 6, 0) << at(2026, 12, 8, 6, 59) << QList<int>{0};
    QTest::newRow("the weekend alarm of the minute waits for its day")
        << QStringList{makeAlarm({420, weekend}), makeAlarm({420, kDaily}), makeAlarm({420, once})}
        << at(2026, 12, 8, 7, 30) << at(2026, 12, 9, 7, 0) << QList<int>{1, 2};
    QTest::newRow("disabled ones stay silent")
        << QStringList{makeAlarm({420, kDaily, false, false}), makeAlarm({420, kDaily}),
                       makeAlarm({420, once, false, false})}
        << at(2026, 12, 8, 6, 0) << at(2026, 12, 8, 7, 0) << QList<int>{1};
    QTest::newRow("an unsorted list rings the minute it found first, all of it")
        << QStringList{makeAlarm({480, kDaily}), makeAlarm({420, kDaily}), makeAlarm({480, once})}
        << at(2026, 12, 8, 6, 0) << at(2026, 12, 8, 8, 0) << QList<int>{0, 2};
    QTest::newRow("nothing enabled") << QStringList{makeAlarm({420, kDaily, false, false})} << at(2026, 12, 8, 6, 0)
                                     << LocalDateTime() << QList<int>{};
}

void TestSchedule::everyAlarmOfTheMinuteIsDue()
{
    QFETCH(QStringList, alarms);
    QFETCH(LocalDateTime, now);
    QFETCH(LocalDateTime, alarmAt);
    QFETCH(QList<int>, due);
    const ScheduleResult r = RebuildSchedule(alarms, now, kLocale);
    QCOMPARE(r.alarmAt.value_or(LocalDateTime()), alarmAt);
    QCOMPARE(r.dueIndexes, due);
    QCOMPARE(r.nextAlarmIndex, due.value(0, -1));
}

void TestSchedule::afterTheMinuteRangRepeatingAlarmsKeepTheirNextDay()
{
    // As the scheduler leaves things after the firing at 07:00: the one-time alarms switched off, the
    // clock a moment past the minute. The repeating ones are due on their next day, not the day after.
    const QString weekdays = QStringLiteral("0111110");
    const QStringList alarms = {makeAlarm({420, kDaily}), makeAlarm({420, QStringLiteral("0000000"), false, false}),
                                makeAlarm({420, weekdays}), makeAlarm({420, QStringLiteral("0000000"), false, false})};
    const QList<RungOccurrence> rung = {{alarms.at(0), at(2026, 12, 11, 7, 0)}, {alarms.at(2), at(2026, 12, 11, 7, 0)}};
    // Friday 11 December: the daily alarm is due on Saturday, the weekday one on Monday.
    const ScheduleResult r = RebuildSchedule(alarms, at(2026, 12, 11, 7, 0, 0), kLocale, rung);
    QCOMPARE(r.alarmAt, at(2026, 12, 12, 7, 0));
    QCOMPARE(r.dueIndexes, QList<int>{0});
    QCOMPARE(panelIndexes(r), (QList<int>{0, 0, 0}));
    const ScheduleResult monday = RebuildSchedule(alarms, at(2026, 12, 13, 7, 0, 30), kLocale, rung);
    QCOMPARE(monday.alarmAt, at(2026, 12, 14, 7, 0));
    QCOMPARE(monday.dueIndexes, (QList<int>{0, 2}));
}

void TestSchedule::aRungAlarmIsNotDueAgainWithTheOthersOfItsMinute()
{
    // A clock set back to before the minute: what rang is passed over, an alarm added since rings alone.
    const QStringList alarms = {makeAlarm({420, kDaily, false, true, QStringLiteral("rang")}),
                                makeAlarm({420, kDaily, false, true, QStringLiteral("added")})};
    const ScheduleResult r =
        RebuildSchedule(alarms, at(2026, 12, 8, 6, 30), kLocale, {{alarms.at(0), at(2026, 12, 8, 7, 0)}});
    QCOMPARE(r.alarmAt, at(2026, 12, 8, 7, 0));
    QCOMPARE(r.dueIndexes, QList<int>{1});
    QCOMPARE(r.nextAlarmIndex, 1);
}

QTEST_GUILESS_MAIN(TestSchedule)
#include "tst_schedule.moc"
