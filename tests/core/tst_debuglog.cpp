// The debug log. The log is one per process, so every case runs in a fresh child process of this
// executable, which plays a sequence of steps against the log as a starting copy of the program would.
#include "TestSupport.h"
#include "core/mglib/DebugLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

namespace {

constexpr int kChildTimeoutMs = 30000;
const char* const kScenarioSwitch = "--scenario";

// The child: argv = <exe> --scenario <log folder> <step>...
//   debug          SetDebugMode(true)
//   write:<text>   WriteLog(text)
//   write-many:<n> WriteLog("line 1") .. WriteLog("line n")
//   start          StartLogFile()
//   mkdir          creates the log folder
int RunScenario(int argc, char* argv[])
{
    const QString folder = QString::fromLocal8Bit(argv[2]);
    SetLogFolder(folder + u'/');
    for (int i = 3; i < argc; ++i) {
        const QString step = QString::fromLocal8Bit(argv[i]);
        if (step == QLatin1String("debug")) {
            SetDebugMode(true);
        } else if (step.startsWith(QLatin1String("write:"))) {
            WriteLog(step.mid(6));
        } else if (step.startsWith(QLatin1String("write-many:"))) {
            const int count = step.mid(11).toInt();
            for (int n = 1; n <= count; ++n)
                WriteLog(QStringLiteral("line %1").arg(n));
        } else if (step == QLatin1String("start")) {
            StartLogFile();
        } else if (step == QLatin1String("mkdir")) {
            if (!QDir().mkpath(folder))
                return 3;
        } else {
            return 2;
        }
    }
    return 0;
}

// The text of each line of a log, without its time stamp.
QStringList LoggedTexts(const QByteArray& log)
{
    QStringList texts;
    const QString text = QString::fromUtf8(log);
    for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts)) {
        const qsizetype separator = line.indexOf(QLatin1String(" : "));
        texts.append(separator < 0 ? QStringLiteral("<no time stamp> ") + line : line.mid(separator + 3));
    }
    return texts;
}

const QByteArray kEarlierLog = "1/2/25 08:00:00.000 : Start: -debug\n1/2/25 08:00:01.000 : Tray icon shown (1)\n";

} // namespace

class TestDebugLog : public QObject
{
    Q_OBJECT

private slots:
    void theFileStartsOnlyWhenTheProgramSaysSo_data();
    void theFileStartsOnlyWhenTheProgramSaysSo();
};

void TestDebugLog::theFileStartsOnlyWhenTheProgramSaysSo_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("folderExists");
    QTest::addColumn<QByteArray>("logBefore"); // Log.txt as another run left it; null: none
    QTest::addColumn<bool>("replaced");        // false: Log.txt must be exactly as before afterwards
    QTest::addColumn<QStringList>("expected"); // the lines of the new Log.txt

    QTest::newRow("a copy that hands over leaves the running copy's log as it was")
        << QStringList{"debug", "write:Start: -debug", "write:Handing over"} << true << kEarlierLog << false
        << QStringList();
    QTest::newRow("the copy that stays replaces the log with what it wrote before and after the start")
        << QStringList{"debug", "write:Start: -debug", "write:Claimed", "start", "write:Tray icon shown"} << true
        << kEarlierLog << true << QStringList{"Start: -debug", "Claimed", "Tray icon shown"};
    QTest::newRow("a start before any line begins an empty log")
        << QStringList{"debug", "start"} << true << kEarlierLog << true << QStringList();
    QTest::newRow("without debug no log is created, started or not")
        << QStringList{"write:a", "start", "write:b"} << true << QByteArray() << false << QStringList();
    QTest::newRow("without debug an earlier log is left alone")
        << QStringList{"write:a", "start", "write:b"} << true << kEarlierLog << false << QStringList();
    QTest::newRow("debug switched on after the start still begins a new log")
        << QStringList{"write:a", "start", "debug", "write:b", "write:c"} << true << kEarlierLog << true
        << QStringList{"b", "c"};
    QTest::newRow("lines wait in memory while the folder cannot be written")
        << QStringList{"debug", "write:a", "start", "write:b", "mkdir", "write:c"} << false << QByteArray() << true
        << QStringList{"a", "b", "c"};

    constexpr int kExtra = 5;
    QStringList kept{QStringLiteral("(%1 earlier lines were lost)").arg(kExtra)};
    for (qsizetype n = kExtra + 1; n <= kLogLinesHeld + kExtra; ++n)
        kept.append(QStringLiteral("line %1").arg(n));
    QTest::newRow("beyond the bound the oldest waiting lines are dropped and counted")
        << QStringList{"debug", QStringLiteral("write-many:%1").arg(kLogLinesHeld + kExtra), "start", "write:after"}
        << true << QByteArray() << true << kept + QStringList{"after"};
}

void TestDebugLog::theFileStartsOnlyWhenTheProgramSaysSo()
{
    QFETCH(QStringList, steps);
    QFETCH(bool, folderExists);
    QFETCH(QByteArray, logBefore);
    QFETCH(bool, replaced);
    QFETCH(QStringList, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("data"));
    const QString log = folder + QStringLiteral("/Log.txt");
    if (folderExists)
        QVERIFY(QDir().mkpath(folder));
    if (!logBefore.isNull())
        WriteFileBytes(log, logBefore);

    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), QStringList{kScenarioSwitch, folder} + steps);
    QVERIFY(child.waitForFinished(kChildTimeoutMs));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);

    if (!replaced) {
        if (logBefore.isNull())
            QVERIFY(!QFile::exists(log));
        else
            QCOMPARE(ReadFileBytes(log), logBefore);
        return;
    }
    QVERIFY(QFile::exists(log));
    QCOMPARE(LoggedTexts(ReadFileBytes(log)), expected);
}

int main(int argc, char* argv[])
{
    if (argc >= 3 && std::strcmp(argv[1], kScenarioSwitch) == 0)
        return RunScenario(argc, argv);
    QCoreApplication app(argc, argv);
    TestDebugLog test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_debuglog.moc"
