#include "platform/Platform.h"
#include "platform/linux/DesktopAutostart.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// The command line a session would run for an Exec value, decoded here independently by the
// desktop-entry rules: string escapes first, then quoting, then "%%" as a literal percent sign.
QStringList DecodeExec(const QByteArray& fileValue)
{
    QByteArray value;
    for (qsizetype i = 0; i < fileValue.size(); ++i) {
        if (fileValue[i] == '\\' && i + 1 < fileValue.size()) {
            const char next = fileValue[++i];
            const QByteArray plain = next == 's'    ? QByteArray(" ")
                                     : next == 'n'  ? QByteArray("\n")
                                     : next == 't'  ? QByteArray("\t")
                                     : next == 'r'  ? QByteArray("\r")
                                     : next == '\\' ? QByteArray("\\")
                                                    : QByteArray("\\") + next;
            value += plain;
        } else {
            value += fileValue[i];
        }
    }
    QStringList arguments;
    QByteArray current;
    bool inQuotes = false;
    bool any = false;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (inQuotes) {
            if (c == '\\' && i + 1 < value.size() && QByteArray("\"`$\\").contains(value[i + 1]))
                current += value[++i];
            else if (c == '"')
                inQuotes = false;
            else
                current += c;
        } else if (c == '"') {
            inQuotes = any = true;
        } else if (c == ' ') {
            if (any)
                arguments << QString::fromUtf8(current.replace("%%", "%"));
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any)
        arguments << QString::fromUtf8(current.replace("%%", "%"));
    return arguments;
}

QByteArray ExecValueIn(const QString& file)
{
    const QList<QByteArray> lines = ReadFileBytes(file).split('\n');
    for (const QByteArray& line : lines) {
        if (line.startsWith("Exec="))
            return line.mid(5);
    }
    return {};
}

QByteArray EntryWithExec(const std::string& exec, const QByteArray& extra = {})
{
    return "[Desktop Entry]\nType=Application\nName=Larkbell\nExec=" +
           QByteArray::fromStdString(DesktopAutostart::EscapeValue(exec)) + "\n" + extra;
}

} // namespace

class TestAutostart : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void enableWritesTheEntryAndDisableRemovesIt();
    void theExecutableIsQuotedByTheDesktopEntryRules_data();
    void theExecutableIsQuotedByTheDesktopEntryRules();
    void everyPathSurvivesTheRoundTrip_data();
    void everyPathSurvivesTheRoundTrip();
    void anEntryOfAnotherCopyIsNotOursAndEnablingReplacesIt();
    void aMachineEntryCountsButCannotBeDisabled();
    void onlyTheMostImportantMachineEntryCounts();
    void hiddenEntriesCountAsAbsent_data();
    void hiddenEntriesCountAsAbsent();
    void unusableEntriesAreNotEnabled_data();
    void unusableEntriesAreNotEnabled();
    void theFoldersFallBackToTheStandardOnes();
    void aFolderThatCannotBeCreatedFailsEnable();

private:
    QString userEntry() const { return m_home->filePath(QStringLiteral("autostart/LarkBL.desktop")); }
    QString machineEntry(int dir = 0) const
    {
        return (dir == 0 ? m_machine : m_machine2)->filePath(QStringLiteral("autostart/LarkBL.desktop"));
    }
    void writeEntry(const QString& path, const QByteArray& bytes) const
    {
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        WriteFileBytes(path, bytes);
    }

    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<QTemporaryDir> m_machine;
    std::unique_ptr<QTemporaryDir> m_machine2;
    std::unique_ptr<ScopedEnv> m_homeEnv;
    std::unique_ptr<ScopedEnv> m_dirsEnv;
    const std::string m_exe = "/opt/larkbell/larkbell";
};

void TestAutostart::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    m_machine = std::make_unique<QTemporaryDir>();
    m_machine2 = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid() && m_machine->isValid() && m_machine2->isValid());
    m_homeEnv = std::make_unique<ScopedEnv>("XDG_CONFIG_HOME", QFile::encodeName(m_home->path()));
    m_dirsEnv = std::make_unique<ScopedEnv>("XDG_CONFIG_DIRS",
                                            QFile::encodeName(m_machine->path() + u':' + m_machine2->path()));
}

void TestAutostart::cleanup()
{
    m_dirsEnv.reset();
    m_homeEnv.reset();
}

void TestAutostart::enableWritesTheEntryAndDisableRemovesIt()
{
    const auto platform = CreatePlatform();
    QVERIFY(!platform->AutostartEnabled(m_exe));
    QVERIFY(!platform->DisableAutostart());

    QVERIFY(platform->EnableAutostart(m_exe));
    QVERIFY(QFileInfo::exists(userEntry()));
    QVERIFY(platform->AutostartEnabled(m_exe));
    QCOMPARE(DecodeExec(ExecValueIn(userEntry())),
             QStringList({QString::fromStdString(m_exe), QStringLiteral("-autorun")}));
    // Only the entry, no temporary files beside it.
    QCOMPARE(QDir(QFileInfo(userEntry()).path()).entryList(QDir::Files), QStringList{QStringLiteral("LarkBL.desktop")});

    QVERIFY(platform->DisableAutostart());
    QVERIFY(!QFileInfo::exists(userEntry()));
    QVERIFY(!platform->AutostartEnabled(m_exe));
    QVERIFY(!platform->DisableAutostart());
}

void TestAutostart::theExecutableIsQuotedByTheDesktopEntryRules_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("exec");
    QTest::newRow("a plain path stays as it is")
        << QStringLiteral("/usr/bin/larkbell") << QStringLiteral("/usr/bin/larkbell -autorun");
    QTest::newRow("a space needs quotes")
        << QStringLiteral("/opt/Lark Bell/larkbell") << QStringLiteral("\"/opt/Lark Bell/larkbell\" -autorun");
    QTest::newRow("a single quote needs quotes")
        << QStringLiteral("/home/u/it's/larkbell") << QStringLiteral("\"/home/u/it's/larkbell\" -autorun");
    QTest::newRow("dollar and backtick are escaped inside quotes")
        << QStringLiteral("/home/u/$HOME/`x`") << QStringLiteral("\"/home/u/\\$HOME/\\`x\\`\" -autorun");
    QTest::newRow("a double quote is escaped inside quotes")
        << QStringLiteral("/a/\"q\"/l") << QStringLiteral("\"/a/\\\"q\\\"/l\" -autorun");
    QTest::newRow("a backslash is escaped inside quotes")
        << QStringLiteral("/a\\b/larkbell") << QStringLiteral("\"/a\\\\b/larkbell\" -autorun");
    QTest::newRow("a percent sign is doubled without quotes")
        << QStringLiteral("/a/100%/larkbell") << QStringLiteral("/a/100%%/larkbell -autorun");
    QTest::newRow("a percent sign is doubled within quotes")
        << QStringLiteral("/a/100 %/larkbell") << QStringLiteral("\"/a/100 %%/larkbell\" -autorun");
    QTest::newRow("letters beyond ASCII need no quotes")
        << QStringLiteral("/home/ü/Wecker/larkbell") << QStringLiteral("/home/ü/Wecker/larkbell -autorun");
}

void TestAutostart::theExecutableIsQuotedByTheDesktopEntryRules()
{
    QFETCH(QString, path);
    QFETCH(QString, exec);
    QCOMPARE(QString::fromStdString(DesktopAutostart::ExecLine(path.toStdString())), exec);
}

void TestAutostart::everyPathSurvivesTheRoundTrip_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("spaces") << QStringLiteral("/home/user/My Programs/Lark Bell/larkbell");
    QTest::newRow("every reserved character") << QStringLiteral("/tmp/ \t\"'\\><~|&;$*?#()`/larkbell");
    QTest::newRow("a line break") << QStringLiteral("/tmp/two\nlines/larkbell");
    QTest::newRow("percent signs and field codes") << QStringLiteral("/tmp/%f %U 100%/larkbell");
    QTest::newRow("backslash sequences that look like escapes") << QStringLiteral("/tmp/\\s\\n\\\\/larkbell");
    QTest::newRow("letters beyond ASCII") << QStringLiteral("/home/José/Будильник/larkbell");
}

void TestAutostart::everyPathSurvivesTheRoundTrip()
{
    QFETCH(QString, path);
    const std::string exe = path.toStdString();
    QVERIFY(DesktopAutostart::Enable(exe));
    QVERIFY(DesktopAutostart::Enabled(exe));
    QVERIFY(!DesktopAutostart::Enabled(exe + "x"));
    QVERIFY(!DesktopAutostart::Enabled(m_exe));
    QCOMPARE(DecodeExec(ExecValueIn(userEntry())), QStringList({path, QStringLiteral("-autorun")}));
}

void TestAutostart::anEntryOfAnotherCopyIsNotOursAndEnablingReplacesIt()
{
    const std::string other = "/home/user/old copy/larkbell";
    QVERIFY(DesktopAutostart::Enable(other));
    QVERIFY(DesktopAutostart::Enabled(other));
    QVERIFY(!DesktopAutostart::Enabled(m_exe));

    QVERIFY(DesktopAutostart::Enable(m_exe));
    QVERIFY(DesktopAutostart::Enabled(m_exe));
    QVERIFY(!DesktopAutostart::Enabled(other));
}

void TestAutostart::aMachineEntryCountsButCannotBeDisabled()
{
    writeEntry(machineEntry(), EntryWithExec(DesktopAutostart::ExecLine(m_exe)));
    QVERIFY(DesktopAutostart::Enabled(m_exe));
    QVERIFY(!DesktopAutostart::Disable());
    QVERIFY(DesktopAutostart::Enabled(m_exe));
    QVERIFY(QFileInfo::exists(machineEntry()));
}

void TestAutostart::onlyTheMostImportantMachineEntryCounts()
{
    writeEntry(machineEntry(0), EntryWithExec(DesktopAutostart::ExecLine("/somewhere/else/larkbell")));
    writeEntry(machineEntry(1), EntryWithExec(DesktopAutostart::ExecLine(m_exe)));
    QVERIFY(!DesktopAutostart::Enabled(m_exe));
    QFile::remove(machineEntry(0));
    QVERIFY(DesktopAutostart::Enabled(m_exe));
}

void TestAutostart::hiddenEntriesCountAsAbsent_data()
{
    QTest::addColumn<bool>("machine");
    QTest::addColumn<QByteArray>("extra");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("a hidden user entry") << false << QByteArray("Hidden=true\n") << false;
    QTest::newRow("a hidden machine entry") << true << QByteArray("Hidden=true\n") << false;
    QTest::newRow("spaces around the equals sign") << false << QByteArray("Hidden = true\n") << false;
    QTest::newRow("an entry switched off by the session settings")
        << false << QByteArray("X-GNOME-Autostart-enabled=false\n") << false;
    QTest::newRow("Hidden=false is an ordinary entry") << false << QByteArray("Hidden=false\n") << true;
    QTest::newRow("Hidden in another group does not count")
        << false << QByteArray("[Desktop Action Quit]\nHidden=true\n") << true;
}

void TestAutostart::hiddenEntriesCountAsAbsent()
{
    QFETCH(bool, machine);
    QFETCH(QByteArray, extra);
    QFETCH(bool, enabled);
    writeEntry(machine ? machineEntry() : userEntry(), EntryWithExec(DesktopAutostart::ExecLine(m_exe), extra));
    QCOMPARE(DesktopAutostart::Enabled(m_exe), enabled);
}

void TestAutostart::unusableEntriesAreNotEnabled_data()
{
    const QByteArray exec = QByteArray::fromStdString(DesktopAutostart::ExecLine("/opt/larkbell/larkbell"));
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("no Desktop Entry group") << QByteArray("Exec=" + exec + "\n");
    QTest::newRow("Exec in another group") << QByteArray("[Desktop Entry]\nName=x\n[Other]\nExec=" + exec + "\n");
    QTest::newRow("the path without the switch") << QByteArray("[Desktop Entry]\nExec=/opt/larkbell/larkbell\n");
    QTest::newRow("another case") << QByteArray("[Desktop Entry]\nExec=/opt/LarkBell/larkbell -autorun\n");
    QTest::newRow("an empty file") << QByteArray();
}

void TestAutostart::unusableEntriesAreNotEnabled()
{
    QFETCH(QByteArray, content);
    writeEntry(userEntry(), content);
    QVERIFY(!DesktopAutostart::Enabled(m_exe));
}

void TestAutostart::theFoldersFallBackToTheStandardOnes()
{
    const ScopedEnv home("HOME", QFile::encodeName(m_home->path()));
    {
        const ScopedEnv unset("XDG_CONFIG_HOME", QByteArray());
        QCOMPARE(QString::fromStdString(DesktopAutostart::UserEntryPath()),
                 m_home->filePath(QStringLiteral(".config/autostart/LarkBL.desktop")));
    }
    {
        const ScopedEnv relative("XDG_CONFIG_HOME", "relative/config");
        QCOMPARE(QString::fromStdString(DesktopAutostart::UserEntryPath()),
                 m_home->filePath(QStringLiteral(".config/autostart/LarkBL.desktop")));
    }
    const ScopedEnv unset("XDG_CONFIG_DIRS", QByteArray());
    QCOMPARE(DesktopAutostart::MachineEntryPaths(), std::vector<std::string>{"/etc/xdg/autostart/LarkBL.desktop"});
}

void TestAutostart::aFolderThatCannotBeCreatedFailsEnable()
{
    // A file where the folder should be: not even root can create a folder below it.
    const QString blocker = m_home->filePath(QStringLiteral("blocker"));
    WriteFileBytes(blocker, "not a folder");
    const ScopedEnv config("XDG_CONFIG_HOME", QFile::encodeName(blocker));
    QVERIFY(!DesktopAutostart::Enable(m_exe));
    QVERIFY(!DesktopAutostart::Enabled(m_exe));
    QVERIFY(!DesktopAutostart::Disable());
}

QTEST_GUILESS_MAIN(TestAutostart)
#include "tst_autostart.moc"
