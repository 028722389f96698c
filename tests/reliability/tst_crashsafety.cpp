// A save interrupted by a crash or a power cut never costs the alarm list. A helper saves the list
// through the settings store in a loop (the program's own save path) and is killed with SIGKILL at
// random moments; afterwards Data.ini must always read, with either the list it held before the save
// or the one being saved, and every other setting intact. The real program is also killed while it
// saves on CLOSE.
#include "PrivateCopy.h"
#include "PulseTestServer.h"
#include "SaveLists.h"
#include "core/app/AppIni.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <thread>

namespace {

constexpr int kKills = 200;
constexpr int kItemsA = 300;
constexpr int kItemsB = 120; // shorter, so a half-written shrink would show as a list cut short
constexpr int kStartTimeoutMs = 15000;
// The name every temporary file of a save of Data.ini has.
const QString kTempFiles = QStringLiteral(".Data.ini.larkbell-??????.tmp");

QStringList readList(const QString& path)
{
    TAppIni ini(QFileInfo(path).absolutePath(), QString());
    ini.SetFileName(path);
    return ini.ReadList(Settings::Alarms);
}

int leftoverTempFiles(const QString& folder)
{
    return int(QDir(folder).entryList({kTempFiles}, QDir::Files | QDir::Hidden).size());
}

QByteArray logOf(const QString& folder)
{
    QFile file(folder + QStringLiteral("/Log.txt"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void killNow(QProcess& process)
{
    ::kill(pid_t(process.processId()), SIGKILL);
    process.waitForFinished(5000);
}

} // namespace

class TestCrashSafety : public QObject
{
    Q_OBJECT

private slots:
    void killedWhileSavingLeavesTheOldOrTheNewList();
    void theProgramKilledWhileSavingOnCloseKeepsItsList();
    void aDataIniThatIsALinkStaysALink();
};

void TestCrashSafety::killedWhileSavingLeavesTheOldOrTheNewList()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Data.ini"));
    const QStringList listA = SaveTestList(u'A', kItemsA);
    const QStringList listB = SaveTestList(u'B', kItemsB);
    {
        TAppIni ini(dir.path(), dir.path());
        ini.SetFileName(path);
        ini.WriteList(Settings::Alarms, listA);
        ini.Write(Settings::FirstStarted, true);
        ini.Write(Settings::SnoozeTime, 600);
    }

    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    int heldA = 0;
    int heldB = 0;
    QElapsedTimer elapsed;
    elapsed.start();
    for (int round = 0; round < kKills; ++round) {
        QProcess helper;
        helper.start(QStringLiteral(SAVE_HELPER), {path, QString::number(kItemsA), QString::number(kItemsB)});
        QVERIFY(helper.waitForReadyRead(10000));
        const QList<QByteArray> said = helper.readLine().trimmed().split(' ');
        QCOMPARE(said.value(0), QByteArray("saving"));
        // A random moment within the next few saves (the helper does nothing but save), however long a
        // save takes on this disk.
        const qint64 saveUs = qMax<qint64>(1000, said.value(1).toLongLong() * 1000);
        std::this_thread::sleep_for(std::chrono::microseconds(random.bounded(quint32(4 * saveUs))));
        killNow(helper);
        QCOMPARE(helper.exitStatus(), QProcess::CrashExit);

        const QStringList held = readList(path);
        QVERIFY2(held == listA || held == listB,
                 qPrintable(QStringLiteral("round %1 (seed %2): %3 items").arg(round).arg(seed).arg(held.size())));
        (held == listA ? heldA : heldB)++;
        TAppIni ini(dir.path(), dir.path());
        ini.SetFileName(path);
        QVERIFY(ini.Read(Settings::FirstStarted));
        QCOMPARE(ini.Read(Settings::SnoozeTime), 600);
    }
    const int leftovers = leftoverTempFiles(dir.path());
    qInfo("%d kills survived in %lld ms (seed %u): %d left the old list of the save, %d the new one; "
          "%d unfinished temporary files left beside Data.ini",
          kKills, elapsed.elapsed(), seed, heldA, heldB, leftovers);
    // Both outcomes occurred, so the kills did land in the middle of saving.
    QVERIFY(heldA > 0 && heldB > 0);

    // The next start clears away what the killed saves left, once it is old enough not to be another
    // copy's save in progress; a fresh one stays.
    const QDateTime longAgo = QDateTime::currentDateTime().addSecs(-2 * TAppIni::kAbandonedTempFileSecs);
    for (const QString& name : QDir(dir.path()).entryList({kTempFiles}, QDir::Files | QDir::Hidden)) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(longAgo, QFileDevice::FileModificationTime));
    }
    QFile fresh(dir.filePath(QStringLiteral(".Data.ini.larkbell-Ab12Cd.tmp")));
    QVERIFY(fresh.open(QIODevice::WriteOnly));
    fresh.close();
    const QStringList held = readList(path);
    QVERIFY(held == listA || held == listB);
    // Nothing but Data.ini and the fresh file is left: the killed saves wrote under no other name.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
             (QStringList{fresh.fileName().section(u'/', -1), QStringLiteral("Data.ini")}));
}

void TestCrashSafety::theProgramKilledWhileSavingOnCloseKeepsItsList()
{
    PulseTestServer pulse; // the program warns without a sound server; the test wants a quiet start
    QString why;
    QVERIFY2(pulse.Start(&why), qPrintable(why));
    const PrivateCopy exe(QStringLiteral(LARKBELL_EXE));
    QVERIFY(exe.Ok());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Data.ini"));
    const QStringList list = SaveTestList(u'P', 3000);
    {
        TAppIni ini(dir.path(), dir.path());
        ini.SetFileName(path);
        ini.WriteList(Settings::Alarms, list);
        ini.Write(Settings::FirstStarted, true);
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LARKBELL_DATA_DIR"), dir.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Logged, so that a failing round can be run again with the same kill moments.
    const quint32 seed = QRandomGenerator::global()->generate();
    qInfo("kill moments drawn with seed %u", seed);
    QRandomGenerator random(seed);
    const int rounds = 5;
    for (int round = 0; round < rounds; ++round) {
        QProcess program;
        program.setProcessEnvironment(env);
        QFile::remove(dir.filePath(QStringLiteral("Log.txt")));
        program.start(exe.Path(), {QStringLiteral("-autorun"), QStringLiteral("-debug")});
        QVERIFY(program.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(logOf(dir.path()).contains("Tray icon shown"), kStartTimeoutMs);
        QProcess close;
        close.setProcessEnvironment(env);
        close.start(exe.Path(), {QStringLiteral("-close")});
        QVERIFY(close.waitForFinished(kStartTimeoutMs));
        std::this_thread::sleep_for(std::chrono::microseconds(random.bounded(30000)));
        killNow(program);
        QCOMPARE(readList(path), list);
    }
    qInfo("%d copies of the program killed while closing; the list survived each time", rounds);
}

void TestCrashSafety::aDataIniThatIsALinkStaysALink()
{
    // Data.ini kept elsewhere (a synchronised folder) through a symbolic link: saves, killed ones too,
    // replace the file behind the link and leave the link in place.
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    const QString link = dir.filePath(QStringLiteral("Data.ini"));
    const QString real = elsewhere.filePath(QStringLiteral("Data.ini"));
    const QStringList listA = SaveTestList(u'A', kItemsA);
    const QStringList listB = SaveTestList(u'B', kItemsB);
    {
        TAppIni ini(elsewhere.path(), elsewhere.path());
        ini.SetFileName(real);
        ini.WriteList(Settings::Alarms, listA);
    }
    QVERIFY(QFile::link(real, link));
    for (int round = 0; round < 10; ++round) {
        QProcess helper;
        helper.start(QStringLiteral(SAVE_HELPER), {link, QString::number(kItemsA), QString::number(kItemsB)});
        QVERIFY(helper.waitForReadyRead(10000));
        std::this_thread::sleep_for(std::chrono::milliseconds(round));
        killNow(helper);
        QVERIFY(QFileInfo(link).isSymLink());
        const QStringList held = readList(real);
        QVERIFY(held == listA || held == listB);
        QCOMPARE(readList(link), held);
    }
    QCOMPARE(leftoverTempFiles(dir.path()), 0); // the temporary files go beside the real file
}

QTEST_GUILESS_MAIN(TestCrashSafety)
#include "tst_crashsafety.moc"
