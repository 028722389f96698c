#include "TestSupport.h"
#include "core/app/AppFolders.h"
#include "core/app/AppIni.h"
#include "core/mglib/CodePages.h"
#include "core/mglib/MgLanguages.h"
#include "core/mglib/TextFile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Makes a file or folder immutable for the object's lifetime: the one refusal that even root gets,
// so a write failure can be produced with real files.
class Immutable final
{
public:
    explicit Immutable(const QString& path)
        : m_path(path)
    {
        m_ok = setFlag(true);
    }
    ~Immutable()
    {
        if (m_ok)
            setFlag(false);
    }
    bool ok() const { return m_ok; }

private:
    bool setFlag(bool on)
    {
        const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_NONBLOCK);
        if (fd < 0)
            return false;
        int flags = 0;
        bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        return done;
    }

    QString m_path;
    bool m_ok = false;
};

} // namespace

class TestAppIni : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void readsValuesAsTheProfileFunctionsDo_data();
    void readsValuesAsTheProfileFunctionsDo();
    void integersAndBooleans_data();
    void integersAndBooleans();
    void keyTableDefaultsApplyWhenAbsent();
    void writesAreVisibleAndKeepOtherLines();
    void writtenFileIsUtf8WithoutBomAndCrLf();
    void legacyEightBitFileIsReadAsWindows1252();
    void legacyFileIsReadInTheCodePageOfTheUsersLanguage();
    void shrinkingAListLeavesStaleItems();
    void alarmStringWithTrailingBlanksSurvivesTheFile();
    void externalEditIsSeenByTheNextRead();
    void refusedWriteReportsAndKeepsTheOldFileWhole();
    void refusedFolderReportsEveryKindOfWrite();
    void refusalsWithoutAHandlerAreReturned();
    void startUpRemovesOnlyItsOwnAbandonedTempFiles();
    void maximizedSaveKeepsNormalBounds();
    void positionOnlyGeometry();
    void dataFolderRule();

private:
    QTemporaryDir m_dir;
    QString m_path;
};

void TestAppIni::init()
{
    SetUserTextCodePage(WesternCodePage);
    m_path = m_dir.filePath(QStringLiteral("Data.ini"));
    QFile::remove(m_path);
}

void TestAppIni::readsValuesAsTheProfileFunctionsDo_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");
    QTest::newRow("blanks around key and value are trimmed") << QByteArray("[Main]\r\n  Key  =  value  \r\n") << "Key"
                                                             << "value";
    QTest::newRow("matching double quotes are removed") << QByteArray("[Main]\nKey=\" spaced \"\n") << "Key"
                                                        << " spaced ";
    QTest::newRow("matching single quotes are removed") << QByteArray("[Main]\nKey='x'\n") << "Key"
                                                        << "x";
    QTest::newRow("unmatched quotes stay") << QByteArray("[Main]\nKey=\"x'\n") << "Key"
                                           << "\"x'";
    QTest::newRow("only one pair of quotes goes") << QByteArray("[Main]\nKey=\"\"x\"\"\n") << "Key"
                                                  << "\"x\"";
    QTest::newRow("semicolon inside a value is text") << QByteArray("[Main]\nKey=a;b\n") << "Key"
                                                      << "a;b";
    QTest::newRow("commented-out key is not read") << QByteArray("[Main]\n;Key=1\nKey=2\n") << "Key"
                                                   << "2";
    QTest::newRow("section and key names ignore case") << QByteArray("[MAIN]\nkEy=v\n") << "KEY"
                                                       << "v";
    QTest::newRow("LF-only file") << QByteArray("[Main]\nA=1\nKey=lf\n") << "Key"
                                  << "lf";
    QTest::newRow("CR-only file") << QByteArray("[Main]\rA=1\rKey=cr\r") << "Key"
                                  << "cr";
    QTest::newRow("first duplicate key wins") << QByteArray("[Main]\nKey=first\nKey=second\n") << "Key"
                                              << "first";
    QTest::newRow("key in another section is not ours") << QByteArray("[Other]\nKey=x\n[Main]\n") << "Key"
                                                        << "absent";
    QTest::newRow("keys before any section are not read") << QByteArray("Key=x\n[Main]\n") << "Key"
                                                          << "absent";
    QTest::newRow("BOM before the section") << QByteArray("\xEF\xBB\xBF[Main]\nKey=bom\n") << "Key"
                                            << "bom";
    QTest::newRow("binary garbage reads as absent") << QByteArray("\x00\xFF\xFE[\x01=\n", 8) << "Key"
                                                    << "absent";
}

void TestAppIni::readsValuesAsTheProfileFunctionsDo()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    WriteFileBytes(m_path, file);
    TAppIni ini(m_dir.path(), QString());
    ini.SetFileName(m_path);
    QCOMPARE(ini.ReadString(key, QStringLiteral("absent")), expected);
}

void TestAppIni::integersAndBooleans_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");
    QTest::newRow("decimal") << "540" << 540;
    QTest::newRow("negative") << "-5" << -5;
    QTest::newRow("hexadecimal with 0x") << "0x1F" << 31;
    QTest::newRow("not an integer reads as the default") << "12abc" << 77;
    QTest::newRow("empty reads as the default") << "" << 77;
    QTest::newRow("beyond 32 bits reads as the default") << "99999999999" << 77;
}

void TestAppIni::integersAndBooleans()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    WriteFileBytes(m_path, "[Main]\r\nValue=" + text.toUtf8() + "\r\n");
    TAppIni ini(m_dir.path(), QString());
    ini.SetFileName(m_path);
    QCOMPARE(ini.ReadInteger(QStringLiteral("Value"), 77), expected);
    QCOMPARE(ini.ReadBool(QStringLiteral("Value"), true), expected != 0);
}

void TestAppIni::keyTableDefaultsApplyWhenAbsent()
{
    TAppIni ini(m_dir.path(), QString());
    ini.SetFileName(m_path);
    QCOMPARE(ini.Read(Settings::SnoozeTime), 540);
    QCOMPARE(ini.Read(Settings::FloatingOnTop), true);
    QCOMPARE(ini.Read(Settings::FirstStarted), false);
    QCOMPARE(ini.Read(Settings::Language, 1049), 1049);
    QVERIFY(ini.ReadList(Settings::Alarms).isEmpty());
    QVERIFY(!QFile::exists(m_path)); // reading never creates the file
}

void TestAppIni::writesAreVisibleAndKeepOtherLines()
{
    WriteFileBytes(m_path, "; user comment\r\n[Other]\r\nX=1\r\n\r\n[Main]\r\nSnoozeTime=60\r\n\r\n[Tail]\r\nY=2\r\n");
    TAppIni ini(m_dir.path(), QString());
    ini.SetFileName(m_path);
    ini.Write(Settings::SnoozeTime, 300);
    ini.Write(Settings::StayOnTop, true);
    QCOMPARE(ini.Read(Settings::SnoozeTime), 300);
    QCOMPARE(ini.Read(Settings::StayOnTop), true);
    QCOMPARE(ReadFileBytes(m_path), QByteArray("; user comment\r\n[Other]\r\nX=1\r\n\r\n[Main]\r\nSnoozeTime=300\r\n"
                                               "StayOnTop=1\r\n\r\n[Tail]\r\nY=2\r\n"));
    TAppIni reopened(m_dir.path(), QString());
    reopened.SetFileName(m_path);
    QCOMPARE(reopened.Read(Settings::SnoozeTime), 300);
}

void TestAppIni::writtenFileIsUtf8WithoutBomAndCrLf()
{
    TAppIni ini(m_dir.path(), QString());
    ini.SetFileName(m_path);
    ini.WriteString(QStringLiteral("Label"), QStringLiteral("Доброе утро \U0001F514"));
    const QByteArray bytes = ReadFileBytes(m_path);
    QCOMPARE(bytes, QStringLiteral("[Main]\r\nLabel=Доброе утро \U0001F514\r\n").toUtf8());
}

void TestAppIni::legacyEightBitFileIsReadAsWindows1252()
{
    WriteFileBytes(m_path, "[Main]\r\nAlarmsListCount=1\r\nAlarmsList0=Caf\xE9 \x80\r\n");
    TAppIni ini(m_dir.path(), QString());
    ini.SetFileName(m_path);
    QCOMPARE(ini.ReadList(Settings::Alarms), QStringList{QStringLiteral("Café €")});
}

void TestAppIni::legacyFileIsReadInTheCodePageOfTheUsersLanguage()
{
    // "Будильник" in Windows-1251, as a Russian system saved it.
    WriteFileBytes(
        m_path, "[Main]\r\nLanguage=1049\r\nAlarmsListCount=1\r\nAlarmsList0=\xC1\xF3\xE4\xE8\xEB\xFC\xED\xE8\xEA\r\n");
    QTemporaryDir langs;
    WriteFileBytes(langs.filePath(QStringLiteral("ru.txt")), "\xEF\xBB\xBF; ru\r\n1000=Russian\r\n1001=25\r\n");
    TMgLang lang(langs.path(), 1033);
    TAppIni ini(m_dir.path(), QString());
    ini.SetFileName(m_path);
    // The settings name the language; the file read before it is known is read again once it is loaded.
    lang.LoadStartupLanguage(ini.Read(Settings::Language, lang.CurrentLanguageId()));
    QCOMPARE(ini.ReadList(Settings::Alarms), QStringList{QStringLiteral("Будильник")});

    // Saved as before: the whole file in UTF-8, so the label stays right in any language from now on.
    ini.WriteString(QStringLiteral("Label"), QStringLiteral("x"));
    QCOMPARE(ReadFileBytes(m_path),
             QStringLiteral("[Main]\r\nLanguage=1049\r\nAlarmsListCount=1\r\nAlarmsList0=Будильник\r\nLabel=x\r\n")
                 .toUtf8());
    lang.ChooseLanguage(9);
    QCOMPARE(ini.ReadList(Settings::Alarms), QStringList{QStringLiteral("Будильник")});
}

void TestAppIni::shrinkingAListLeavesStaleItems()
{
    TAppIni ini(m_dir.path(), QString());
    ini.SetFileName(m_path);
    const QStringList five = {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d"),
                              QStringLiteral("e")};
    ini.WriteList(Settings::Alarms, five);
    ini.WriteList(Settings::Alarms, five.mid(0, 3));
    QCOMPARE(ini.ReadList(Settings::Alarms), five.mid(0, 3));
    QCOMPARE(ini.ReadInteger(QStringLiteral("AlarmsListCount"), -1), 3);
    QCOMPARE(ini.ReadString(QStringLiteral("AlarmsList3"), QString()), QStringLiteral("d"));
    QCOMPARE(ini.ReadString(QStringLiteral("AlarmsList4"), QString()), QStringLiteral("e"));
}

void TestAppIni::alarmStringWithTrailingBlanksSurvivesTheFile()
{
    // An alarm without a sound ends in the label's padding, which the reader trims again.
    const QString alarm = QStringLiteral("540 1110111110111100 1     Wake") + QString(296, u' ');
    TAppIni ini(m_dir.path(), QString());
    ini.SetFileName(m_path);
    ini.WriteList(Settings::Alarms, {alarm});
    QCOMPARE(ini.ReadList(Settings::Alarms).value(0), alarm.trimmed());
}

void TestAppIni::externalEditIsSeenByTheNextRead()
{
    TAppIni ini(m_dir.path(), QString());
    ini.SetFileName(m_path);
    ini.Write(Settings::SnoozeTime, 120);
    WriteFileBytes(m_path, "[Main]\nSnoozeTime=180\nExtra=1\n");
    QCOMPARE(ini.Read(Settings::SnoozeTime), 180);
}

void TestAppIni::refusedWriteReportsAndKeepsTheOldFileWhole()
{
    TAppIni ini(m_dir.path(), QString());
    ini.SetFileName(m_path);
    QStringList reported;
    ini.SetWriteFailureHandler([&reported](const QString& message) { reported.append(message); });
    const QStringList old = {QStringLiteral("old1"), QStringLiteral("old2")};
    QVERIFY(ini.WriteList(Settings::Alarms, old));
    QVERIFY(ini.Write(Settings::SnoozeTime, 120));
    QVERIFY(reported.isEmpty());
    const QByteArray before = ReadFileBytes(m_path);
    {
        Immutable locked(m_path); // the rename over Data.ini fails
        if (!locked.ok())
            QSKIP("needs root and a file system with the immutable attribute");
        bool written = true;
        try {
            written = ini.WriteList(Settings::Alarms, {QStringLiteral("new")});
        } catch (...) {
            QFAIL("a refused write threw");
        }
        QVERIFY(!written);
        QCOMPARE(reported.size(), 1);
        QVERIFY2(reported.first().contains(m_path), qPrintable(reported.first()));
        QCOMPARE(ini.LastWriteError(), reported.first());
        // Nothing of the refused write is in memory either: the store still answers what the file holds.
        QCOMPARE(ini.ReadList(Settings::Alarms), old);
        QVERIFY(!ini.Write(Settings::SnoozeTime, 300));
        QCOMPARE(reported.size(), 2);
        QCOMPARE(ini.Read(Settings::SnoozeTime), 120);
    }
    QCOMPARE(ReadFileBytes(m_path), before);
    QCOMPARE(ini.ReadList(Settings::Alarms), old);
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Data.ini")});
    QVERIFY(ini.WriteList(Settings::Alarms, {QStringLiteral("new")})); // saves once the fault is gone
    QCOMPARE(ini.ReadList(Settings::Alarms), QStringList{QStringLiteral("new")});
    QCOMPARE(reported.size(), 2);
    QVERIFY(ini.LastWriteError().isEmpty());
}

void TestAppIni::refusedFolderReportsEveryKindOfWrite()
{
    QTemporaryDir dir;
    Immutable locked(dir.path());
    if (!locked.ok())
        QSKIP("needs root and a file system with the immutable attribute");
    TAppIni ini(dir.path(), QString());
    const QString path = dir.filePath(QStringLiteral("Data.ini"));
    ini.SetFileName(path);
    QStringList reported;
    ini.SetWriteFailureHandler([&reported](const QString& message) { reported.append(message); });
    QVERIFY(!ini.Write(Settings::FirstStarted, true));
    QVERIFY(!ini.Write(Settings::SnoozeTime, 60));
    QVERIFY(!ini.WriteString(QStringLiteral("Label"), QStringLiteral("x")));
    QVERIFY(!ini.WriteList(Settings::Alarms, {QStringLiteral("a")}));
    QVERIFY(!ini.SaveFormGeometry(QStringLiteral("TMainForm"), FormGeometry{1, 2, 3, 4, false}, false, true));
    QCOMPARE(reported.size(), 5);
    for (const QString& message : std::as_const(reported))
        QVERIFY2(message.contains(QStringLiteral("Data.ini")), qPrintable(message));
    QCOMPARE(ini.Read(Settings::FirstStarted), false);
    QCOMPARE(ini.ReadList(Settings::Alarms), QStringList());
    QVERIFY(!QFileInfo::exists(path));
}

void TestAppIni::refusalsWithoutAHandlerAreReturned()
{
    // Refusals the store makes itself, before the file system is asked: no handler, no root needed.
    TAppIni unnamed(m_dir.path(), QString());
    QVERIFY(!unnamed.Write(Settings::FirstStarted, true));
    QVERIFY(!unnamed.LastWriteError().isEmpty());

    TAppIni ini(m_dir.path(), QString());
    ini.SetFileName(m_path);
    QVERIFY(ini.WriteList(Settings::Alarms, {QStringLiteral("kept")}));
    const QStringList tooMany(TAppIni::kMaxListItems + 1, QStringLiteral("x"));
    QVERIFY(!ini.WriteList(Settings::Alarms, tooMany));
    QVERIFY2(ini.LastWriteError().contains(QString::number(TAppIni::kMaxListItems)), qPrintable(ini.LastWriteError()));
    QCOMPARE(ini.ReadList(Settings::Alarms), QStringList{QStringLiteral("kept")});
    // A handler installed later sees the next refusal; one taken away again sees nothing.
    int calls = 0;
    ini.SetWriteFailureHandler([&calls](const QString&) { ++calls; });
    QVERIFY(!ini.WriteList(Settings::Alarms, tooMany));
    QCOMPARE(calls, 1);
    ini.SetWriteFailureHandler({});
    QVERIFY(!ini.WriteList(Settings::Alarms, tooMany));
    QCOMPARE(calls, 1);
    QVERIFY(ini.Write(Settings::SnoozeTime, 60));
    QVERIFY(ini.LastWriteError().isEmpty());
}

void TestAppIni::startUpRemovesOnlyItsOwnAbandonedTempFiles()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Data.ini"));
    WriteFileBytes(path, "[Main]\nSnoozeTime=120\n");
    const QDateTime longAgo = QDateTime::currentDateTimeUtc().addSecs(-2 * TAppIni::kAbandonedTempFileSecs);
    // Each file holds its own name, so that a file that survives is seen to be untouched too.
    const auto make = [&dir, &longAgo](const QString& name, bool old) {
        QFile file(dir.filePath(name));
        // Flushed first: the write itself would stamp the file with the present again.
        return file.open(QIODevice::WriteOnly) && file.write(name.toUtf8()) == name.toUtf8().size() && file.flush() &&
               (!old || file.setFileTime(longAgo, QFileDevice::FileModificationTime));
    };
    // What a user may keep beside Data.ini, some of it with six letters after the name, some of it
    // close to the program's own names.
    const QStringList usersOld = {QStringLiteral("Data.ini.backup"),
                                  QStringLiteral("Data.ini.orig1"),
                                  QStringLiteral("Data.ini.Ab12Cd"),
                                  QStringLiteral("Data.ini.larkbell-Ab12Cd.tmp"),
                                  QStringLiteral(".Data.ini.larkbell-Ab12C.tmp"),
                                  QStringLiteral(".Data.ini.larkbell-Ab_2Cd.tmp"),
                                  QStringLiteral(".Data.ini.larkbell-Ab12Cd.tmp.bak"),
                                  QStringLiteral(".Other.ini.larkbell-Ab12Cd.tmp")};
    const QStringList usersNew = {QStringLiteral("Data.ini.orig2"), QStringLiteral("Data.ini.Xy34Zw"),
                                  QStringLiteral("Data.ini.bak")};
    // What saves killed in the middle left: the old ones are abandoned, a fresh one may be another
    // copy's save in progress.
    const QStringList oursOld = {QStringLiteral(".Data.ini.larkbell-Ab12Cd.tmp"),
                                 QStringLiteral(".Data.ini.larkbell-000000.tmp")};
    const QString oursFresh = QStringLiteral(".Data.ini.larkbell-Zz9yX8.tmp");
    for (const QString& name : usersOld + oursOld)
        QVERIFY(make(name, true));
    for (const QString& name : usersNew + QStringList{oursFresh})
        QVERIFY(make(name, false));

    TAppIni ini(dir.path(), QString());
    ini.SetFileName(path);

    QStringList expected = usersOld + usersNew + QStringList{QStringLiteral("Data.ini"), oursFresh};
    expected.sort();
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
    for (const QString& name : usersOld + usersNew)
        QCOMPARE(ReadFileBytes(dir.filePath(name)), name.toUtf8());
    QCOMPARE(ini.Read(Settings::SnoozeTime), 120);
    // A save neither leaves nor takes anything beside the file.
    QVERIFY(ini.Write(Settings::SnoozeTime, 300));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
}

void TestAppIni::maximizedSaveKeepsNormalBounds()
{
    TAppIni ini(m_dir.path(), QString());
    ini.SetFileName(m_path);
    const QString form = QStringLiteral("TMainForm");
    ini.SaveFormGeometry(form, FormGeometry{100, 50, 400, 600, false}, false, true);
    ini.SaveFormGeometry(form, FormGeometry{0, 0, 1080, 1920, true}, false, true);
    QCOMPARE(ini.ReadInteger(QStringLiteral("TMainFormState"), -1), 1);
    QCOMPARE(ini.ReadInteger(QStringLiteral("TMainFormWidth"), -1), 600);

    const FormGeometry restored = ini.RestoreFormGeometry(form, FormGeometry{7, 7, 7, 7, false}, false, true);
    QCOMPARE(restored.top, 100);
    QCOMPARE(restored.left, 50);
    QCOMPARE(restored.height, 400);
    QCOMPARE(restored.width, 600);
    QVERIFY(restored.maximized);

    const FormGeometry noMaximizeButton = ini.RestoreFormGeometry(form, FormGeometry{}, false, false);
    QVERIFY(!noMaximizeButton.maximized);
}

void TestAppIni::positionOnlyGeometry()
{
    TAppIni ini(m_dir.path(), QString());
    ini.SetFileName(m_path);
    const QString form = QStringLiteral("TFloatingForm");
    ini.SaveFormGeometry(form, FormGeometry{30, 40, 500, 500, false}, true, false);
    QCOMPARE(ini.ReadInteger(QStringLiteral("TFloatingFormHeight"), -1), -1);
    const FormGeometry restored = ini.RestoreFormGeometry(form, FormGeometry{0, 0, 80, 120, false}, true, false);
    QCOMPARE(restored.top, 30);
    QCOMPARE(restored.left, 40);
    QCOMPARE(restored.height, 80);
    QCOMPARE(restored.width, 120);
}

void TestAppIni::dataFolderRule()
{
    QTemporaryDir exe;
    QTemporaryDir config;
    const QString moved = config.filePath(QStringLiteral("moved"));
    {
        ScopedEnv env("LARKBELL_DATA_DIR", moved.toUtf8());
        const AppFolders folders = AppFolders::Resolve(exe.path());
        QCOMPARE(folders.dataFolder, moved + u'/');
        QVERIFY(QDir(moved).exists());
    }
    ScopedEnv noOverride("LARKBELL_DATA_DIR", QByteArray());
    ScopedEnv xdg("XDG_CONFIG_HOME", config.path().toUtf8());
    QCOMPARE(AppFolders::Resolve(exe.path()).dataFolder, exe.path() + u'/');
    Immutable locked(exe.path());
    if (!locked.ok())
        QSKIP("needs root and a file system with the immutable attribute");
    QCOMPARE(AppFolders::Resolve(exe.path()).dataFolder, config.filePath(QStringLiteral("larkbell/")));
}

QTEST_GUILESS_MAIN(TestAppIni)
#include "tst_appini.moc"
