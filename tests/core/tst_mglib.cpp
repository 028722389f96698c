#include "TestSupport.h"
#include "core/mglib/MgLib.h"
#include "core/mglib/TextFile.h"

#include <QDir>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

class TestMgLib : public QObject
{
    Q_OBJECT

private slots:
    void padRight_data();
    void padRight();
    void firstDelimiterPosTriesDelimitersInOrder();
    void textBeforeAndAfter();
    void lineBreaksRoundTrip();
    void countWithUnit_data();
    void countWithUnit();
    void minutesAndTimes();
    void dayOfColumnFollowsTheLocaleWeek_data();
    void dayOfColumnFollowsTheLocaleWeek();
    void joinPath();
    void isAudioFileName_data();
    void isAudioFileName();
    void userTextIsUtf8OrWindows1252();
    void cleanup();
    void atomicWriteReplacesTheFile();
    void atomicWriteReportsARefusedFolder();
    void atomicWriteTakesTheCommitStepsInOrder();
    void atomicWriteStopsAtARefusedStep_data();
    void atomicWriteStopsAtARefusedStep();
    void atomicWriteThroughALinkReplacesTheFileBehindIt();
};

namespace {

constexpr QFileDevice::Permissions kOwnerGroupOther =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup |
    QFileDevice::WriteGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::WriteOther |
    QFileDevice::ExeOther;

QStringList allFiles(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

void TestMgLib::cleanup()
{
    SetFileCommitSteps({});
}

void TestMgLib::padRight_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("expected");
    QTest::newRow("short text is padded") << "12" << 4 << "12  ";
    QTest::newRow("long text is cut") << "12345" << 4 << "1234";
    QTest::newRow("exact width is kept") << "abcd" << 4 << "abcd";
    QTest::newRow("Cyrillic counts characters") << QStringLiteral("Будильник") << 4 << QStringLiteral("Буди");
    QTest::newRow("emoji is never split") << QStringLiteral("a\U0001F514b") << 2 << QStringLiteral("a\U0001F514");
    QTest::newRow("emoji pads by characters") << QStringLiteral("\U0001F514") << 3 << QStringLiteral("\U0001F514  ");
}

void TestMgLib::padRight()
{
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(QString, expected);
    QCOMPARE(PadRight(text, width), expected);
}

void TestMgLib::firstDelimiterPosTriesDelimitersInOrder()
{
    // A backslash at 2 and a slash at 4: the slash is listed first, so it wins.
    QCOMPARE(FirstDelimiterPos(QStringLiteral("/\\"), QStringLiteral("a\\b/c")), 4);
    QCOMPARE(FirstDelimiterPos(QStringLiteral("\\/"), QStringLiteral("a\\b/c")), 2);
    QCOMPARE(FirstDelimiterPos(QStringLiteral(":"), QStringLiteral("abc")), 0);
    QCOMPARE(TextBeforeAnyOf(QStringLiteral("name.ext/x"), QStringLiteral("./")), QStringLiteral("name"));
    QCOMPARE(TextBeforeAnyOf(QStringLiteral("plain"), QStringLiteral("./")), QStringLiteral("plain"));
    QCOMPARE(TextBeforeAnyOf(QString(), QStringLiteral("./")), QString());
}

void TestMgLib::textBeforeAndAfter()
{
    QCOMPARE(TextBefore(QStringLiteral("key=value=x"), QStringLiteral("=")), QStringLiteral("key"));
    QCOMPARE(TextBefore(QStringLiteral("novalue"), QStringLiteral("=")), QStringLiteral("novalue"));
    QCOMPARE(TextAfter(QStringLiteral("key=value=x"), QStringLiteral("=")), QStringLiteral("value=x"));
    QCOMPARE(TextAfter(QStringLiteral("novalue"), QStringLiteral("=")), QString());
    QCOMPARE(TextAfter(QString(), QStringLiteral("=")), QString());
}

void TestMgLib::lineBreaksRoundTrip()
{
    const QString twoLines = QStringLiteral("a\r\nb");
    QCOMPARE(EncodeLineBreaks(twoLines), QStringLiteral("a||b"));
    QCOMPARE(DecodeLineBreaks(EncodeLineBreaks(twoLines)), twoLines);
    QCOMPARE(DecodeLineBreaks(QStringLiteral("typed || bars")), QStringLiteral("typed \r\n bars"));
}

void TestMgLib::countWithUnit_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("singular");
    QTest::addColumn<QString>("plural");
    QTest::addColumn<QString>("expected");
    const QString minute = QStringLiteral("Минута");
    const QString minutes = QStringLiteral("Минут");
    QTest::newRow("English one") << 1 << "Minute"
                                 << "Minutes"
                                 << "1 Minute";
    QTest::newRow("English five") << 5 << "Minute"
                                  << "Minutes"
                                  << "5 Minutes";
    QTest::newRow("Russian 21 takes the singular") << 21 << minute << minutes << QStringLiteral("21 Минута");
    QTest::newRow("Russian 12 takes the genitive plural") << 12 << minute << minutes << QStringLiteral("12 Минут");
    QTest::newRow("Russian 3 takes the paucal") << 3 << minute << minutes << QStringLiteral("3 Минуты");
    QTest::newRow("Russian 111 takes the genitive plural") << 111 << minute << minutes << QStringLiteral("111 Минут");
    QTest::newRow("Russian 2 days") << 2 << QStringLiteral("День") << QStringLiteral("Дней") << QStringLiteral("2 Дня");
    QTest::newRow("Russian 10 days") << 10 << QStringLiteral("День") << QStringLiteral("Дней")
                                     << QStringLiteral("10 Дней");
}

void TestMgLib::countWithUnit()
{
    QFETCH(int, n);
    QFETCH(QString, singular);
    QFETCH(QString, plural);
    QFETCH(QString, expected);
    QCOMPARE(CountWithUnit(n, singular, plural), expected);
}

void TestMgLib::minutesAndTimes()
{
    QCOMPARE(MinutesToTime(1500), QTime(23, 0));
    QCOMPARE(MinutesToTime(1439), QTime(23, 59));
    QCOMPARE(MinutesToTime(0), QTime(0, 0));
    QCOMPARE(TimeToMinutes(QTime(23, 59, 59, 999)), 1439);
    QCOMPARE(TimeToMinutes(QTime(9, 0)), 540);
}

void TestMgLib::dayOfColumnFollowsTheLocaleWeek_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<int>("firstColumnDay");
    QTest::addColumn<int>("lastColumnDay");
    QTest::newRow("Monday-first locale starts with Monday") << QLocale(QLocale::German, QLocale::Germany) << 2 << 1;
    QTest::newRow("Sunday-first locale equals the day indexes")
        << QLocale(QLocale::English, QLocale::UnitedStates) << 1 << 7;
}

void TestMgLib::dayOfColumnFollowsTheLocaleWeek()
{
    QFETCH(QLocale, locale);
    QFETCH(int, firstColumnDay);
    QFETCH(int, lastColumnDay);
    const int offset = FirstWeekdayOffset(locale);
    QCOMPARE(DayOfColumn(1, offset), firstColumnDay);
    QCOMPARE(DayOfColumn(7, offset), lastColumnDay);
    QCOMPARE(WeekdayIndex(QDate(2026, 12, 6)), 1);  // a Sunday
    QCOMPARE(WeekdayIndex(QDate(2026, 12, 12)), 7); // a Saturday
}

void TestMgLib::joinPath()
{
    QCOMPARE(JoinPath(QStringLiteral("/opt/x"), QStringLiteral("Data.ini")), QStringLiteral("/opt/x/Data.ini"));
    QCOMPARE(JoinPath(QStringLiteral("/opt/x/"), QStringLiteral("Data.ini")), QStringLiteral("/opt/x/Data.ini"));
}

void TestMgLib::isAudioFileName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("audio");
    QTest::newRow("mp3") << "/m/a.mp3" << true;
    QTest::newRow("upper-case MP3 still rings as a sound") << "/m/A.MP3" << true;
    QTest::newRow("aiff") << "x.aiff" << true;
    QTest::newRow("flac") << "x.Flac" << true;
    QTest::newRow("program") << "/usr/bin/player.sh" << false;
    QTest::newRow("no extension") << "/music/Birds" << false;
    QTest::newRow("dot only in a folder name") << "/music.mp3/song" << false;
}

void TestMgLib::isAudioFileName()
{
    QFETCH(QString, path);
    QFETCH(bool, audio);
    QCOMPARE(IsAudioFileName(path), audio);
}

void TestMgLib::userTextIsUtf8OrWindows1252()
{
    QCOMPARE(DecodeUserText(QByteArray("\xEF\xBB\xBFna\xC3\xAFve")), QStringLiteral("naïve"));
    QCOMPARE(DecodeUserText(QByteArray("na\xC3\xAFve")), QStringLiteral("naïve"));
    // Not valid UTF-8: a legacy 8-bit file, where 0x80 is the euro sign and 0xEF is ï.
    QCOMPARE(DecodeUserText(QByteArray("\x80 na\xEFve")), QStringLiteral("€ naïve"));
    // One mark is dropped, whichever decoding follows; a second one is the text's own character.
    QCOMPARE(DecodeUserText(QByteArray("\xEF\xBB\xBF\x80 na\xEFve")), QStringLiteral("€ naïve"));
    QCOMPARE(DecodeUserText(QByteArray("\xEF\xBB\xBF\xEF\xBB\xBFx")), QString(QChar(0xFEFF)) + u'x');
    QCOMPARE(DecodeUserText(QByteArray("\xEF\xBB\xBF")), QString());
}

void TestMgLib::atomicWriteReplacesTheFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("file.txt"));
    WriteFileBytes(path, "old");
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
    QCOMPARE(WriteFileAtomically(path, "new content"), QString());
    QCOMPARE(ReadFileBytes(path), QByteArray("new content"));
    QCOMPARE(QFile::permissions(path) & (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther),
             QFile::ReadOwner | QFile::WriteOwner);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("file.txt")});

    const QString fresh = dir.filePath(QStringLiteral("fresh.txt"));
    QCOMPARE(WriteFileAtomically(fresh, "first"), QString());
    QCOMPARE(ReadFileBytes(fresh), QByteArray("first"));
    QCOMPARE(QFile::permissions(fresh) & kOwnerGroupOther,
             QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
}

void TestMgLib::atomicWriteReportsARefusedFolder()
{
    const QString error = WriteFileAtomically(QStringLiteral("/nonexistent-folder/file.txt"), "x");
    QVERIFY(error.contains(QStringLiteral("/nonexistent-folder/file.txt")));
}

void TestMgLib::atomicWriteTakesTheCommitStepsInOrder()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("file.txt"));
    WriteFileBytes(path, "old");
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    QStringList taken;
    QString from;
    QByteArray movedContent;
    QFileDevice::Permissions movedPermissions;
    QString folder;
    SetFileCommitSteps({[&](int handle) {
                            taken << QStringLiteral("sync file %1").arg(handle >= 0 ? "open" : "closed");
                            return std::string();
                        },
                        [&](const std::string& tempPath, const std::string& target) {
                            taken << QStringLiteral("replace ") + QString::fromStdString(target);
                            from = QString::fromStdString(tempPath);
                            movedContent = ReadFileBytes(from);
                            movedPermissions = QFile::permissions(from) & kOwnerGroupOther;
                            return std::rename(tempPath.c_str(), target.c_str()) == 0 ? std::string()
                                                                                      : std::string("rename failed");
                        },
                        [&](const std::string& flushed) {
                            taken << QStringLiteral("sync folder");
                            folder = QString::fromStdString(flushed);
                            return std::string("a folder that cannot be flushed leaves the save done");
                        }});
    QCOMPARE(WriteFileAtomically(path, "new content"), QString());
    QCOMPARE(taken, (QStringList{QStringLiteral("sync file open"), QStringLiteral("replace ") + path,
                                 QStringLiteral("sync folder")}));
    // What is put in place is whole, has the old file's permissions and was written beside it under the
    // program's own name.
    QCOMPARE(movedContent, QByteArray("new content"));
    QCOMPARE(movedPermissions, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    QCOMPARE(QFileInfo(from).absolutePath(), dir.path());
    QVERIFY2(QRegularExpression(QStringLiteral("^\\.file\\.txt\\.larkbell-[A-Za-z0-9]{6}\\.tmp$"))
                 .match(QFileInfo(from).fileName())
                 .hasMatch(),
             qPrintable(from));
    QCOMPARE(folder, dir.path());
    QCOMPARE(ReadFileBytes(path), QByteArray("new content"));
    QCOMPARE(allFiles(dir.path()), QStringList{QStringLiteral("file.txt")});
}

void TestMgLib::atomicWriteStopsAtARefusedStep_data()
{
    QTest::addColumn<bool>("syncRefused");
    QTest::addRow("the disk refuses the flush") << true;
    QTest::addRow("the system refuses the replacement") << false;
}

void TestMgLib::atomicWriteStopsAtARefusedStep()
{
    QFETCH(bool, syncRefused);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("file.txt"));
    WriteFileBytes(path, "old");
    bool folderSynced = false;
    const std::string reason = syncRefused ? "Input/output error" : "Operation not permitted";
    SetFileCommitSteps({[&](int) { return syncRefused ? reason : std::string(); },
                        [&](const std::string&, const std::string&) { return reason; },
                        [&](const std::string&) {
                            folderSynced = true;
                            return std::string();
                        }});
    const QString error = WriteFileAtomically(path, "new content");
    QVERIFY2(error.contains(path) && error.contains(QString::fromStdString(reason)), qPrintable(error));
    QCOMPARE(ReadFileBytes(path), QByteArray("old"));
    QCOMPARE(allFiles(dir.path()), QStringList{QStringLiteral("file.txt")});
    QVERIFY(!folderSynced);
}

void TestMgLib::atomicWriteThroughALinkReplacesTheFileBehindIt()
{
    // A settings file kept in a synchronised folder, linked from where the program looks for it.
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    const QString link = dir.filePath(QStringLiteral("file.txt"));
    const QString real = elsewhere.filePath(QStringLiteral("file.txt"));
    WriteFileBytes(real, "old");
    QVERIFY(QFile::setPermissions(real, QFile::ReadOwner | QFile::WriteOwner));
    QVERIFY(QFile::link(real, link));
    QString target;
    SetFileCommitSteps({{},
                        [&](const std::string& from, const std::string& to) {
                            target = QString::fromStdString(to);
                            return std::rename(from.c_str(), to.c_str()) == 0 ? std::string()
                                                                              : std::string("rename failed");
                        },
                        {}});
    QCOMPARE(WriteFileAtomically(link, "new content"), QString());
    QCOMPARE(target, QFileInfo(real).canonicalFilePath());
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(ReadFileBytes(link), QByteArray("new content"));
    QCOMPARE(QFile::permissions(real) & kOwnerGroupOther, QFile::ReadOwner | QFile::WriteOwner);
    QCOMPARE(allFiles(dir.path()), QStringList{QStringLiteral("file.txt")});
    QCOMPARE(allFiles(elsewhere.path()), QStringList{QStringLiteral("file.txt")});
}

QTEST_GUILESS_MAIN(TestMgLib)
#include "tst_mglib.moc"
