#include "TestSupport.h"
#include "core/alarms/AlarmRecord.h"
#include "core/alarms/BackupFile.h"
#include "core/mglib/CodePages.h"
#include "core/mglib/TextFile.h"

#include <QTemporaryDir>
#include <QTest>

class TestBackupFile : public QObject
{
    Q_OBJECT

private slots:
    void lineEndsAllGiveTheSameList_data();
    void lineEndsAllGiveTheSameList();
    void emptyLineBecomesADefaultAlarm();
    void nulEndsTheText();
    void saveLoadSaveIsByteIdentical();
    void emptyListIsAnEmptyFile();
    void extensionRule_data();
    void extensionRule();
    void unreadableFileReportsAndReturnsNothing();
    void legacyEightBitFile();
    void legacyFileInTheUsersCodePage();
    void cleanup();
};

void TestBackupFile::lineEndsAllGiveTheSameList_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("CR LF") << QByteArray("one\r\ntwo\r\n");
    QTest::newRow("LF only") << QByteArray("one\ntwo\n");
    QTest::newRow("CR only") << QByteArray("one\rtwo\r");
    QTest::newRow("no line end after the last line") << QByteArray("one\r\ntwo");
}

void TestBackupFile::lineEndsAllGiveTheSameList()
{
    QFETCH(QByteArray, bytes);
    QCOMPARE(DecodeBackup(bytes), (QStringList{QStringLiteral("one"), QStringLiteral("two")}));
}

void TestBackupFile::emptyLineBecomesADefaultAlarm()
{
    const QStringList alarms = DecodeBackup("600 \r\n\r\n700 \r\n");
    QCOMPARE(alarms.size(), 3);
    QCOMPARE(alarms.at(1), QString());
    QCOMPARE(ParseAlarmString(alarms.at(1)).Time, QTime(8, 0));
}

void TestBackupFile::nulEndsTheText()
{
    QCOMPARE(DecodeBackup(QByteArray("one\r\ntwo\0three\r\n", 17)),
             (QStringList{QStringLiteral("one"), QStringLiteral("two")}));
}

void TestBackupFile::saveLoadSaveIsByteIdentical()
{
    QTemporaryDir dir;
    AlarmRecord a;
    a.Label = QStringLiteral("Zwei\r\nZeilen \U0001F514");
    a.Sound = QStringLiteral("/home/me/Music/wake.ogg");
    const QStringList list = {BuildAlarmString(a), BuildAlarmString(AlarmRecord()), QStringLiteral("garbage")};
    const QString first = dir.filePath(QStringLiteral("first.alm"));
    const QString second = dir.filePath(QStringLiteral("second.alm"));
    QCOMPARE(WriteBackupFile(first, list), QString());
    const BackupReadResult loaded = ReadBackupFile(first);
    QCOMPARE(loaded.error, QString());
    QCOMPARE(loaded.alarms, list);
    QCOMPARE(WriteBackupFile(second, loaded.alarms), QString());
    QCOMPARE(ReadFileBytes(second), ReadFileBytes(first));
    QVERIFY(ReadFileBytes(first).endsWith("garbage\r\n"));
}

void TestBackupFile::emptyListIsAnEmptyFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("empty.alm"));
    QCOMPARE(WriteBackupFile(path, {}), QString());
    QCOMPARE(ReadFileBytes(path), QByteArray());
    QVERIFY(ReadBackupFile(path).alarms.isEmpty());
}

void TestBackupFile::extensionRule_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no extension gets .alm") << "/tmp/backup"
                                            << "/tmp/backup.alm";
    QTest::newRow("any extension is kept") << "/tmp/backup.txt"
                                           << "/tmp/backup.txt";
    QTest::newRow("a dot in a folder name does not count") << "/tmp/my.folder/backup"
                                                           << "/tmp/my.folder/backup.alm";
}

void TestBackupFile::extensionRule()
{
    QFETCH(QString, chosen);
    QFETCH(QString, expected);
    QCOMPARE(BackupFileNameWithExtension(chosen), expected);
}

void TestBackupFile::unreadableFileReportsAndReturnsNothing()
{
    const BackupReadResult result = ReadBackupFile(QStringLiteral("/nonexistent/backup.alm"));
    QVERIFY(result.alarms.isEmpty());
    QVERIFY(result.error.contains(QStringLiteral("/nonexistent/backup.alm")));
}

void TestBackupFile::legacyEightBitFile()
{
    QCOMPARE(DecodeBackup("540 caf\xE9\r\n"), QStringList{QStringLiteral("540 café")});
}

void TestBackupFile::legacyFileInTheUsersCodePage()
{
    // "Pobudka łóżą" from a Polish system, and the same list written back.
    SetUserTextCodePage(1250);
    const QStringList alarms = DecodeBackup("540 Pobudka \xB3\xF3\xBF\xB9\r\n");
    QCOMPARE(alarms, QStringList{QStringLiteral("540 Pobudka łóżą")});
    QCOMPARE(EncodeBackup(alarms), QStringLiteral("540 Pobudka łóżą\r\n").toUtf8());
}

void TestBackupFile::cleanup()
{
    SetUserTextCodePage(WesternCodePage);
}

QTEST_GUILESS_MAIN(TestBackupFile)
#include "tst_backupfile.moc"
