#include "TestSupport.h"
#include "core/mglib/CodePages.h"
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
    void userTextReadsTheUsersCodePage_data();
    void userTextReadsTheUsersCodePage();
    void codePagesOfLanguages_data();
    void codePagesOfLanguages();
    void timeDesignatorWhereverItStands_data();
    void timeDesignatorWhereverItStands();
    void shortTimeOfLocales_data();
    void shortTimeOfLocales();
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
    SetUserTextCodePage(WesternCodePage);
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
    QTest::newRow("Ogg Vorbis of a sound theme") << "/usr/share/sounds/freedesktop/stereo/bell.oga" << true;
    QTest::newRow("Opus") << "ring.opus" << true;
    QTest::newRow("upper-case OGA") << "RING.OGA" << true;
    QTest::newRow("Sun audio") << "ring.au" << true;
    QTest::newRow("Core Audio") << "ring.caf" << true;
    QTest::newRow("a play list is no sound file") << "list.m3u" << false;
    QTest::newRow("a text about a sound") << "ring.opus.txt" << false;
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

void TestMgLib::userTextReadsTheUsersCodePage_data()
{
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::newRow("Russian in 1251") << 1251 << QByteArray("\xC1\xF3\xE4\xE8\xEB\xFC\xED\xE8\xEA")
                                     << QStringLiteral("Будильник");
    QTest::newRow("Ukrainian in 1251") << 1251 << QByteArray("\xB2\xE3\xEE\xF0 \xBF\xE6\xE0\xEA \xBA")
                                       << QStringLiteral("Ігор їжак є");
    QTest::newRow("Polish in 1250") << 1250 << QByteArray("Pobudka \xB3\xF3\xBF\xB9 \x9C\x9F")
                                    << QStringLiteral("Pobudka łóżą śź");
    QTest::newRow("French in 1252") << 1252 << QByteArray("R\xE9veil \x80") << QStringLiteral("Réveil €");
    QTest::newRow("Greek in 1253") << 1253 << QByteArray("\xD5\xF0\xE5\xE3\xE5\xF1\xF3\xE7")
                                   << QStringLiteral("Υπεγερση");
    QTest::newRow("Turkish in 1254") << 1254 << QByteArray("\xDE\xE7\xFE") << QStringLiteral("Şçş");
    QTest::newRow("UTF-8 stays UTF-8 in any code page")
        << 1251 << QByteArray("\xD0\x91\xD1\x83\xD0\xB4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBD\xD0\xB8\xD0\xBA")
        << QStringLiteral("Будильник");
    QTest::newRow("a code page unknown here is read as 1252")
        << 99999 << QByteArray("R\xE9veil") << QStringLiteral("Réveil");
}

void TestMgLib::userTextReadsTheUsersCodePage()
{
    QFETCH(int, codePage);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QCOMPARE(DecodeUserText(bytes, codePage), expected);
    SetUserTextCodePage(codePage);
    QCOMPARE(DecodeUserText(bytes), expected);
}

void TestMgLib::codePagesOfLanguages_data()
{
    QTest::addColumn<int>("languageId");
    QTest::addColumn<int>("codePage");
    QTest::newRow("Russian") << 1049 << 1251;
    QTest::newRow("Russian, neutral") << 25 << 1251;
    QTest::newRow("Ukrainian") << 1058 << 1251;
    QTest::newRow("Polish") << 1045 << 1250;
    QTest::newRow("Czech") << 1029 << 1250;
    QTest::newRow("Croatian") << 1050 << 1250;
    QTest::newRow("Serbian, Latin") << 9242 << 1250;
    QTest::newRow("Serbian, Cyrillic") << 10266 << 1251;
    QTest::newRow("Greek") << 1032 << 1253;
    QTest::newRow("Turkish") << 1055 << 1254;
    QTest::newRow("Lithuanian") << 1063 << 1257;
    QTest::newRow("German") << 1031 << 1252;
    QTest::newRow("English") << 9 << 1252;
    QTest::newRow("Japanese") << 1041 << 932;
    QTest::newRow("Chinese, traditional") << 1028 << 950;
    QTest::newRow("unknown") << 0x7F << 1252;
}

void TestMgLib::codePagesOfLanguages()
{
    QFETCH(int, languageId);
    QFETCH(int, codePage);
    QCOMPARE(CodePageOfLanguage(languageId), codePage);
}

void TestMgLib::timeDesignatorWhereverItStands_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("token");
    QTest::addColumn<bool>("beforeHour");
    QTest::newRow("after the time") << "h:mm AP"
                                    << "AP" << false;
    QTest::newRow("before the time, Korean") << "AP h:mm"
                                             << "AP" << true;
    QTest::newRow("glued to the hour") << "APh:mm"
                                       << "AP" << true;
    QTest::newRow("lower case, single letter") << "h:mm a"
                                               << "a" << false;
    QTest::newRow("24 hours") << "HH:mm"
                              << "" << false;
    QTest::newRow("a quoted letter is text") << "H 'a' mm"
                                             << "" << false;
    QTest::newRow("a quote inside quotes") << "'o''clock' h AP"
                                           << "AP" << false;
}

void TestMgLib::timeDesignatorWhereverItStands()
{
    QFETCH(QString, format);
    QFETCH(QString, token);
    QFETCH(bool, beforeHour);
    const TimeDesignator designator = FindTimeDesignator(format);
    QCOMPARE(designator.token, token);
    QCOMPARE(designator.TwelveHour(), !token.isEmpty());
    QCOMPARE(designator.beforeHour, beforeHour);
}

void TestMgLib::shortTimeOfLocales_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("twelveHour");
    QTest::addColumn<bool>("beforeHour");
    QTest::newRow("ko_KR") << "ko_KR" << true << true;
    QTest::newRow("zh_TW") << "zh_TW" << true << true;
    QTest::newRow("en_US") << "en_US" << true << false;
    QTest::newRow("de_DE") << "de_DE" << false << false;
    QTest::newRow("ru_RU") << "ru_RU" << false << false;
}

void TestMgLib::shortTimeOfLocales()
{
    QFETCH(QString, locale);
    QFETCH(bool, twelveHour);
    QFETCH(bool, beforeHour);
    const QLocale qlocale(locale);
    const QString format = LocaleTimeFormat(qlocale, QLocale::ShortFormat);
    const TimeDesignator designator = FindTimeDesignator(format);
    QCOMPARE(designator.TwelveHour(), twelveHour);
    QCOMPARE(designator.beforeHour, beforeHour);
    // Qt knows no day-period letter; it would stand in the text as a letter.
    QVERIFY2(!format.contains(u'B'), qPrintable(format));
    const QString evening = FormatShortTime(QTime(21, 5), qlocale);
    QVERIFY2(evening.contains(twelveHour ? QStringLiteral("9") : QStringLiteral("21")), qPrintable(evening));
    QCOMPARE(evening.contains(QStringLiteral("21")), !twelveHour);
    QCOMPARE(evening.contains(qlocale.pmText()), twelveHour);
    QVERIFY2(!evening.contains(QStringLiteral("05:00")), "no seconds in a short time");
}

QTEST_GUILESS_MAIN(TestMgLib)
#include "tst_mglib.moc"
