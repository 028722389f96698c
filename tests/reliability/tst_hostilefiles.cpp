// Files nobody should have to read: a 100 MB Data.ini, a backup of a million lines, binary garbage, a
// language file with broken UTF-8 and a 1 MB line. Nothing crashes or hangs, memory stays within the
// limits the readers set (Data.ini 16 MB, lists of 50 000 alarms, backups 64 MB and 50 000 lines,
// language files 4 MB), a refusal says why, and a file that was refused is never overwritten.
#include "MessageBoxWatch.h"
#include "Rss.h"
#include "TestProgram.h"
#include "core/alarms/BackupFile.h"
#include "core/app/AppFolders.h"
#include "core/app/AppIni.h"
#include "core/mglib/MgLanguages.h"
#include "core/mglib/MgLib.h"
#include "core/mglib/TextFile.h"
#include "platform/fake/FakePlatform.h"
#include "ui/AlarmForm.h"
#include "ui/AlarmListView.h"
#include "ui/MainForm.h"
#include "ui/WakeupForm.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

namespace {

constexpr qint64 kHugeBytes = 100 * 1000 * 1000;
constexpr int kQuickMs = 5000; // "no hang": each read finishes well within this on a loaded machine

// The main window on a data folder, as the program starts it.
struct Program {
    TestProgram program;
    TMainForm* main;

    Program(const QString& folder, const QString& langsFolder = QString(), int languageId = 9)
        : program(folder, langsFolder, languageId)
        , main(&program.Main())
    {}
};

QByteArray fingerprint(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(&file);
    return hash.result().toHex() + ' ' + QByteArray::number(file.size());
}

QString writeAlarmLine(int i)
{
    AlarmRecord a;
    a.Time = MinutesToTime(i % 1440);
    a.Label = QStringLiteral("alarm %1").arg(i);
    a.Sound = QStringLiteral("Bells1"); // no blanks at the end, which Data.ini would not keep
    return BuildAlarmString(a);
}

void writeHugeIni(const QString& path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QByteArray head =
        "[Main]\r\nFirstStarted=1\r\nAlarmsListCount=1\r\nAlarmsList0=" + writeAlarmLine(0).toUtf8() + "\r\n";
    QVERIFY(file.write(head) == head.size());
    QByteArray block;
    for (int i = 0; block.size() < 1000 * 1000; ++i)
        block += "Junk" + QByteArray::number(i) + "=" + QByteArray(80, 'j') + "\r\n";
    while (file.size() < kHugeBytes)
        QVERIFY(file.write(block) == block.size());
}

QByteArray garbage(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

void putFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

} // namespace

class TestHostileFiles : public QObject
{
    Q_OBJECT

private slots:
    void aHundredMegabyteDataIniIsNeitherReadNorOverwritten();
    void theProgramOnAHugeDataIniSaysSoAndKeepsIt();
    void aListCountOfTwoBillionReadsAsTheLimit();
    void aListBeyondTheLimitIsNotSaved();
    void aBackupOfAMillionLinesIsRefused();
    void binaryGarbageReadsAsSomethingHarmless();
    void aLanguageFileWithBrokenUtf8AndAMegabyteLine();
    void aPipeNamedDataIniDoesNotBlockTheStart();
};

void TestHostileFiles::aHundredMegabyteDataIniIsNeitherReadNorOverwritten()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Data.ini"));
    writeHugeIni(path);
    const QByteArray before = fingerprint(path);
    const qint64 rssBefore = ResidentKb();
    QVERIFY(rssBefore > 0 && ResetPeakResident());
    QElapsedTimer took;
    took.start();
    TAppIni ini(dir.path(), dir.path());
    ini.SetFileName(path);
    QCOMPARE(ini.ReadList(Settings::Alarms), QStringList());
    QCOMPARE(ini.Read(Settings::FirstStarted), false);
    QString refusal;
    ini.SetWriteFailureHandler([&refusal](const QString& message) { refusal = message; });
    QVERIFY(!ini.WriteList(Settings::Alarms, {writeAlarmLine(1)}));
    QVERIFY2(!ini.Write(Settings::FirstStarted, true), "a write to a refused file went through");
    const qint64 grewKb = PeakResidentKb() - rssBefore;
    QVERIFY2(took.elapsed() < kQuickMs, qPrintable(QString::number(took.elapsed())));
    QVERIFY2(refusal.contains(QStringLiteral("larger than 16 MB")) && refusal.contains(path), qPrintable(refusal));
    QCOMPARE(fingerprint(path), before);
    QVERIFY2(grewKb < 16 * 1024, qPrintable(QString::number(grewKb)));
    qInfo("100 MB Data.ini: refused in %lld ms, peak memory grew by %lld kB; \"%s\"", took.elapsed(), grewKb,
          qPrintable(refusal));
}

void TestHostileFiles::theProgramOnAHugeDataIniSaysSoAndKeepsIt()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Data.ini"));
    writeHugeIni(path);
    const QByteArray before = fingerprint(path);
    MessageBoxWatch boxes;
    {
        Program program(dir.path());
        // It runs with defaults (the first-start alarm, in memory only) and says once why nothing is saved.
        QCOMPARE(program.main->Scheduler().Alarms().size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(boxes.Texts().size(), 1, 5000);
        QVERIFY(boxes.Texts().first().contains(QStringLiteral("larger than 16 MB")));
        program.main->AlarmView()->SetCurrentRow(0);
        program.main->actEnableExecute();
        program.program.Controller().Exit();
    }
    QCOMPARE(boxes.Texts().size(), 1);
    QCOMPARE(fingerprint(path), before);
}

void TestHostileFiles::aListCountOfTwoBillionReadsAsTheLimit()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Data.ini"));
    putFile(path, "[Main]\r\nAlarmsListCount=2147483647\r\nAlarmsList1=" + writeAlarmLine(1).toUtf8() + "\r\n");
    const qint64 rssBefore = ResidentKb();
    QVERIFY(rssBefore > 0 && ResetPeakResident());
    QElapsedTimer took;
    took.start();
    TAppIni ini(dir.path(), dir.path());
    ini.SetFileName(path);
    const QStringList list = ini.ReadList(Settings::Alarms);
    QCOMPARE(list.size(), TAppIni::kMaxListItems);
    QCOMPARE(list.at(1), writeAlarmLine(1));
    const qint64 grewKb = PeakResidentKb() - rssBefore;
    QVERIFY(took.elapsed() < kQuickMs);
    QVERIFY2(grewKb < 16 * 1024, qPrintable(QString::number(grewKb)));
    qInfo("AlarmsListCount=2147483647: %lld items read in %lld ms, peak memory grew by %lld kB", qlonglong(list.size()),
          took.elapsed(), grewKb);
}

void TestHostileFiles::aListBeyondTheLimitIsNotSaved()
{
    QTemporaryDir dir;
    TAppIni ini(dir.path(), dir.path());
    ini.SetFileName(dir.filePath(QStringLiteral("Data.ini")));
    const QStringList list = {writeAlarmLine(1)};
    ini.WriteList(Settings::Alarms, list);
    QStringList tooMany;
    for (int i = 0; i <= TAppIni::kMaxListItems; ++i)
        tooMany.append(QString());
    QVERIFY(!ini.WriteList(Settings::Alarms, tooMany));
    // Long labels in every alarm: fewer items, yet more than the file may hold.
    AlarmRecord wide;
    wide.Label = QString(300, QChar(0x4E00)); // three bytes each in UTF-8
    wide.Sound = QString(200, QChar(0x4E8C));
    const QStringList heavy(20000, BuildAlarmString(wide));
    QVERIFY(!ini.WriteList(Settings::Alarms, heavy));
    QVERIFY2(ini.LastWriteError().contains(QStringLiteral("16 MB")), qPrintable(ini.LastWriteError()));
    QCOMPARE(ini.ReadList(Settings::Alarms), list);
}

void TestHostileFiles::aBackupOfAMillionLinesIsRefused()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("million.alm"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray line = "540 1110111110111 75 1\r\n";
        QByteArray block;
        for (int i = 0; i < 1000; ++i)
            block += line;
        for (int i = 0; i < 1000; ++i)
            QVERIFY(file.write(block) == block.size());
    }
    const qint64 rssBefore = ResidentKb();
    QVERIFY(rssBefore > 0 && ResetPeakResident());
    QElapsedTimer took;
    took.start();
    const BackupReadResult result = ReadBackupFile(path);
    const qint64 ms = took.elapsed();
    const qint64 grewKb = PeakResidentKb() - rssBefore;
    QVERIFY(result.alarms.isEmpty());
    QVERIFY2(result.error.contains(QStringLiteral("1000000 lines")), qPrintable(result.error));
    QVERIFY(ms < kQuickMs);
    // The file's bytes and nothing more: it is counted, not decoded.
    QVERIFY2(grewKb < QFileInfo(path).size() / 1024 + 8 * 1024, qPrintable(QString::number(grewKb)));
    qInfo("A backup of a million lines (%lld bytes): refused in %lld ms, peak memory grew by %lld kB; \"%s\"",
          QFileInfo(path).size(), ms, grewKb, qPrintable(result.error));

    // In the main window: the list stays as it was, and the message says why.
    QTemporaryDir data;
    MessageBoxWatch boxes;
    Program program(data.path());
    const QStringList before = program.main->Scheduler().Alarms();
    program.main->LoadBackupFrom(path);
    QCOMPARE(program.main->Scheduler().Alarms(), before);
    QTRY_COMPARE_WITH_TIMEOUT(boxes.Texts().size(), 1, 5000);
    QVERIFY(boxes.Texts().first().contains(QStringLiteral("at most 50000 alarms")));
}

void TestHostileFiles::binaryGarbageReadsAsSomethingHarmless()
{
    const quint32 seed = QRandomGenerator::global()->generate();
    const QByteArray bytes = garbage(1024 * 1024, seed);
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("Data.ini"));
    putFile(ini, bytes);
    QElapsedTimer took;
    took.start();
    {
        TAppIni store(dir.path(), dir.path());
        store.SetFileName(ini);
        QVERIFY(store.ReadList(Settings::Alarms).size() <= TAppIni::kMaxListItems);
        store.Read(Settings::SnoozeTime);
        // The program's next save keeps whatever else was in the file, and its own list reads back.
        store.WriteList(Settings::Alarms, {writeAlarmLine(7)});
        TAppIni again(dir.path(), dir.path());
        again.SetFileName(ini);
        QCOMPARE(again.ReadList(Settings::Alarms), QStringList{writeAlarmLine(7)});
    }
    const QStringList lines = DecodeBackup(bytes);
    QCOMPARE(qsizetype(CountBackupLines(bytes)), lines.size());
    for (const QString& line : lines)
        QVERIFY(ParseAlarmString(line).Volume <= 100);
    const QList<TMgLangItem> items = ParseLanguageFile(bytes);
    QDir(dir.path()).mkdir(QStringLiteral("Langs"));
    putFile(dir.filePath(QStringLiteral("Langs/garbage.txt")), bytes);
    BuildLanguageList(dir.filePath(QStringLiteral("Langs/")));
    QVERIFY(took.elapsed() < kQuickMs);
    qInfo("1 MB of random bytes (seed %u) read as Data.ini, backup (%lld lines) and language file (%lld keys) in "
          "%lld ms",
          seed, qlonglong(lines.size()), qlonglong(items.size()), took.elapsed());
}

void TestHostileFiles::aLanguageFileWithBrokenUtf8AndAMegabyteLine()
{
    QTemporaryDir dir;
    const QString langs = dir.filePath(QStringLiteral("Langs/"));
    QVERIFY(QDir().mkpath(langs));
    QByteArray file = "\xEF\xBB\xBF; hostile\r\n1000=Br\xC3\x28ken\r\n1001=1049\r\n";
    file += "0001=Add \xFF\xFE broken\r\n";
    file += "0027=" + QByteArray(1024 * 1024, 'A') + "\r\n"; // the editor's caption and the default label
    file += "0029=\xF0\x9F\x98\r\n";                         // a sequence cut short
    putFile(langs + QStringLiteral("Hostile.txt"), file);

    QElapsedTimer took;
    took.start();
    const QList<TMgLangListItem> list = BuildLanguageList(langs);
    QCOMPARE(list.size(), 1);
    QCOMPARE(list.first().LanguageId, 1049);
    QVERIFY(!list.first().DisplayName.isEmpty());
    TMgLang lang(langs, 1049);
    lang.ChooseLanguage(1049);
    QCOMPARE(lang.GetText(Text::Add), DecodeWindows1252("Add \xFF\xFE broken"));
    QVERIFY(lang.GetText(Text::Alarm).size() <= MaxLanguageFileSize);

    // The whole program on it: the 1 MB text lands in captions and in the label of a new alarm.
    MessageBoxWatch boxes;
    const qint64 rssBefore = ResidentKb();
    QVERIFY(rssBefore > 0 && ResetPeakResident());
    QTemporaryDir data;
    {
        Program program(data.path(), langs, 1049);
        program.main->show();
        QVERIFY(QTest::qWaitForWindowExposed(program.main));
        const AlarmRecord added = program.main->NewAlarmRecord();
        QVERIFY(BuildAlarmString(added).size() < 2000); // the label column holds 300 characters
    }
    const qint64 ms = took.elapsed();
    const qint64 grewKb = PeakResidentKb() - rssBefore;
    QVERIFY2(ms < 4 * kQuickMs, qPrintable(QString::number(ms)));
    // The text in every caption that shows it, and a window: well within the 4 MB a language file may have.
    QVERIFY2(grewKb < 64 * 1024, qPrintable(QString::number(grewKb)));
    qInfo("A language file with broken UTF-8 and a 1 MB line: listed, loaded and shown in %lld ms, "
          "peak memory grew by %lld kB",
          ms, grewKb);
}

void TestHostileFiles::aPipeNamedDataIniDoesNotBlockTheStart()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Data.ini"));
    QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    QElapsedTimer took;
    took.start();
    TAppIni ini(dir.path(), dir.path());
    ini.SetFileName(path);
    QCOMPARE(ini.ReadList(Settings::Alarms), QStringList());
    QVERIFY(!ini.Write(Settings::FirstStarted, true));
    QVERIFY(QFileInfo(path).isFile() == false);
    QVERIFY(took.elapsed() < kQuickMs);
}

QTEST_MAIN(TestHostileFiles)
#include "tst_hostilefiles.moc"
