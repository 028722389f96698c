// The Linux steps of a durable save, on real files, and a save of the settings store through them.
#include "core/mglib/TextFile.h"
#include "platform/FileCommit.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

class TestFileCommit : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { SetFileCommitSteps({}); }
    void flushesAnOpenFileOnly();
    void replacesAFileInOneStep();
    void flushesAFolderOnly();
    void aSaveGoesThroughThemAndKeepsLinkAndPermissions();
};

void TestFileCommit::flushesAnOpenFileOnly()
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("file")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.write("content") == 7 && file.flush());
    QCOMPARE(SyncFileToDisk(file.handle()), std::string());
    file.close();
    QVERIFY(!SyncFileToDisk(-1).empty());
}

void TestFileCommit::replacesAFileInOneStep()
{
    QTemporaryDir dir;
    const QString from = dir.filePath(QStringLiteral("new"));
    const QString to = dir.filePath(QStringLiteral("target"));
    WriteFileBytes(from, "new");
    WriteFileBytes(to, "old");
    QCOMPARE(ReplaceFileAtomically(from.toStdString(), to.toStdString()), std::string());
    QCOMPARE(ReadFileBytes(to), QByteArray("new"));
    QVERIFY(!QFileInfo::exists(from));
    // A refusal names the reason and leaves the target as it was.
    const std::string missing =
        ReplaceFileAtomically(dir.filePath(QStringLiteral("gone")).toStdString(), to.toStdString());
    QVERIFY2(QString::fromStdString(missing).contains(QStringLiteral("No such file")), missing.c_str());
    QCOMPARE(ReadFileBytes(to), QByteArray("new"));
}

void TestFileCommit::flushesAFolderOnly()
{
    QTemporaryDir dir;
    QCOMPARE(SyncFolderToDisk(dir.path().toStdString()), std::string());
    WriteFileBytes(dir.filePath(QStringLiteral("file")), "x");
    QVERIFY(!SyncFolderToDisk(dir.filePath(QStringLiteral("file")).toStdString()).empty());
    QVERIFY(!SyncFolderToDisk(dir.filePath(QStringLiteral("missing")).toStdString()).empty());
}

void TestFileCommit::aSaveGoesThroughThemAndKeepsLinkAndPermissions()
{
    SetFileCommitSteps({SyncFileToDisk, ReplaceFileAtomically, SyncFolderToDisk});
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    const QString link = dir.filePath(QStringLiteral("Data.ini"));
    const QString real = elsewhere.filePath(QStringLiteral("Data.ini"));
    WriteFileBytes(real, "old");
    QVERIFY(QFile::setPermissions(real, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    QVERIFY(QFile::link(real, link));
    QCOMPARE(WriteFileAtomically(link, "[Main]\r\nSnoozeTime=300\r\n"), QString());
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(ReadFileBytes(real), QByteArray("[Main]\r\nSnoozeTime=300\r\n"));
    QCOMPARE(QFile::permissions(real) & (QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                         QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
             QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    QCOMPARE(QDir(elsewhere.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Data.ini")});
    // A save into a folder that is gone reports the reason from the system.
    const QString error = WriteFileAtomically(dir.filePath(QStringLiteral("missing/Data.ini")), "x");
    QVERIFY2(error.contains(QStringLiteral("missing/Data.ini")), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestFileCommit)
#include "tst_filecommit.moc"
