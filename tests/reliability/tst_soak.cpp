// Many alarms in one run: each one-time alarm rings once, in order, through the notification window
// (sound on a stand-in back end), its switching off is saved, and the memory the program holds stays
// flat from the first alarms to the last. LARKBELL_SOAK_ALARMS sets how many (scripts/soak: 500).
#include "Rss.h"
#include "TestScheduler.h"
#include "core/alarms/AlarmRecord.h"
#include "core/alarms/AlarmScheduler.h"
#include "core/app/AppIni.h"
#include "core/mglib/MgLanguages.h"
#include "core/mglib/MgLib.h"
#include "platform/fake/FakePlatform.h"
#include "ui/WakeupForm.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int kDefaultAlarms = 500;
constexpr int kWarmUp = 40;          // the first alarms fill caches (fonts, images, the window); RSS counts after
constexpr qint64 kFlatKb = 8 * 1024; // growth allowed from the end of the warm-up to the last alarm

QString oneTimeAlarm(int minutes, int number)
{
    AlarmRecord a;
    a.Time = MinutesToTime(minutes);
    a.Label = QStringLiteral("Soak alarm %1").arg(number);
    a.Sound = QStringLiteral("Birds");
    a.WakeUp = number % 2 == 0;
    return BuildAlarmString(a);
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void manyAlarmsRingOnceEachWithFlatMemory();
};

void TestSoak::manyAlarmsRingOnceEachWithFlatMemory()
{
    const int count = qEnvironmentVariableIsSet("LARKBELL_SOAK_ALARMS")
                          ? qEnvironmentVariableIntValue("LARKBELL_SOAK_ALARMS")
                          : kDefaultAlarms;
    QVERIFY(count > kWarmUp && count < 24 * 60); // each alarm has a minute of its own
    QTemporaryDir dir;
    FakePlatform platform;
    TAppIni ini(dir.path(), dir.path());
    ini.SetFileName(dir.filePath(QStringLiteral("Data.ini")));
    TMgLang lang(QString(), 9);
    const QTimeZone zone("Europe/Berlin");
    const QDate first(2026, 11, 2);
    QDateTime now(first, QTime(0, 0), zone);

    int plays = 0;
    int stops = 0;
    WakeupHooks hooks;
    hooks.playSound = [&](const QString&, bool, int) { ++plays; };
    hooks.stopSound = [&] { ++stops; };
    TWakeupForm wakeup(lang, hooks);

    TestScheduler scheduler(platform, ini, now, zone);
    QStringList rang;
    QObject::connect(scheduler.get(), &AlarmScheduler::alarmsDue, &wakeup, [&](const QStringList& due) {
        for (const QString& s : due)
            rang.append(AlarmField::Label(s));
        wakeup.ShowAlarms(due);
    });
    QSignalSpy saveFailed(scheduler.get(), &AlarmScheduler::saveFailed);

    // One alarm a minute, in list order, from one minute past midnight on.
    QStringList alarms;
    for (int i = 0; i < count; ++i)
        alarms.append(oneTimeAlarm((i + 1) % 1440, i));
    SortAlarms(alarms, 1);
    scheduler->SetAlarms(alarms);
    scheduler->SaveAndRebuild();
    // Only the program's copy of the list may count: each alarm switched off after ringing is a new
    // string there, which the test's copy would otherwise keep a twin of.
    alarms.clear();

    QElapsedTimer elapsed;
    elapsed.start();
    qint64 rssAfterFirst = -1;
    qint64 rssAfterWarmUp = -1;
    for (int i = 0; i < count; ++i) {
        const QDateTime due = scheduler->AlarmDueUtc();
        QVERIFY2(due < QDateTime(first.addDays(8), QTime(0, 0), zone).toUTC(), qPrintable(QString::number(i)));
        now = due.addMSecs(137).toTimeZone(zone);
        QVERIFY(platform.AdvanceTo(ToWallTime(now.toUTC())));
        QCOMPARE(rang.size(), i + 1);
        QVERIFY(wakeup.AlarmActive());
        QCoreApplication::processEvents();
        wakeup.DismissAlarm(); // OK
        QCoreApplication::processEvents();
        if (i == 0)
            rssAfterFirst = ResidentKb();
        if (i + 1 == kWarmUp)
            rssAfterWarmUp = ResidentKb();
    }
    const qint64 rssLast = ResidentKb();
    QVERIFY(rssAfterWarmUp > 0 && rssLast > 0);

    QStringList expected;
    for (int i = 0; i < count; ++i)
        expected.append(QStringLiteral("Soak alarm %1").arg(i));
    QCOMPARE(rang, expected);
    QCOMPARE(plays, count);
    QVERIFY(stops >= count);
    QCOMPARE(saveFailed.size(), 0);
    const QStringList saved = ini.ReadList(Settings::Alarms);
    QCOMPARE(saved.size(), count);
    QVERIFY(std::none_of(saved.begin(), saved.end(), [](const QString& s) { return AlarmField::Enabled(s); }));
    QVERIFY(!platform.AdvanceTo(ToWallTime(now.addDays(30).toUTC()))); // nothing left to ring
    qInfo("%d alarms rang once each in %lld ms; RSS after the first alarm %lld kB, after alarm %d %lld kB, after "
          "the last %lld kB (%+lld kB since alarm %d)",
          count, elapsed.elapsed(), rssAfterFirst, kWarmUp, rssAfterWarmUp, rssLast, rssLast - rssAfterWarmUp, kWarmUp);
    QVERIFY2(rssLast - rssAfterWarmUp < kFlatKb, "memory grew while alarms rang");
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
