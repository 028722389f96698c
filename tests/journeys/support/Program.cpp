#include "Program.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <csignal>
#include <sys/types.h>

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

std::optional<WindowKind> KindOf(const XWindow& w)
{
    if (w.overrideRedirect) {
        // The toolkit marks a tray icon's menu as a plain window: whatever else pops up is typed.
        if (w.HasType("TOOLTIP") || w.HasType("COMBO") || w.HasType("DND") || w.HasType("NOTIFICATION"))
            return std::nullopt;
        return WindowKind::Menu;
    }
    if (w.HasType("UTILITY"))
        return WindowKind::FloatingClock;
    if (w.HasType("DIALOG")) {
        if (w.InState("MODAL"))
            return w.title.startsWith(QLatin1String("Alarm")) ? WindowKind::Editor : WindowKind::MessageBox;
        return WindowKind::Alarm;
    }
    if (w.HasType("NORMAL") && w.title.endsWith(QLatin1String("Larkbell")))
        return WindowKind::Main;
    return std::nullopt;
}

QString Program::PrivateCopy(Desktop& desktop, const QString& built)
{
    const QString folder = QDir(desktop.Scratch()).filePath(QStringLiteral("bin"));
    const QString copy = QDir(folder).filePath(QStringLiteral("larkbell"));
    if (QFileInfo::exists(copy))
        return copy;
    QDir().mkpath(folder);
    if (!QFile::copy(built, copy) || !QFile::setPermissions(copy, QFile::permissions(built)))
        return QString();
    // The stock sounds and the language files beside it, as an installed program has them.
    const QString builtFolder = QFileInfo(built).absolutePath();
    for (const char* name : {"Sounds", "Langs"}) {
        const QString source = QDir(builtFolder).filePath(QLatin1String(name));
        if (QFileInfo(source).isDir())
            QFile::link(source, QDir(folder).filePath(QLatin1String(name)));
    }
    return copy;
}

Program::Program(Desktop& desktop, QString exe)
    : m_desktop(desktop)
    , m_exe(std::move(exe))
{}

Program::~Program()
{
    Kill();
    for (QProcess* copy : std::as_const(m_copies)) {
        if (copy->state() != QProcess::NotRunning) {
            copy->kill();
            copy->waitForFinished(3000);
        }
        delete copy;
    }
}

bool Program::writeData(const ProgramSetup& setup)
{
    ProfileDocument data;
    const QString main = QStringLiteral("Main");
    if (setup.firstStarted)
        data.setValue(main, QStringLiteral("FirstStarted"), QStringLiteral("1"));
    data.setValue(main, QStringLiteral("AlarmsListCount"), QString::number(setup.alarms.size()));
    for (qsizetype i = 0; i < setup.alarms.size(); ++i)
        data.setValue(main, QStringLiteral("AlarmsList%1").arg(i), setup.alarms.at(i));
    for (const auto& [key, value] : setup.settings)
        data.setValue(main, key, value);
    QFile file(DataFile());
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data.toText().toUtf8()) > 0;
}

bool Program::Prepare(const ProgramSetup& setup)
{
    Kill();
    m_data = std::make_unique<QTemporaryDir>(QDir(m_desktop.Scratch()).filePath(QStringLiteral("data-XXXXXX")));
    return m_data->isValid() && writeData(setup);
}

bool Program::Start(const ProgramSetup& setup, QString* why, bool keepData)
{
    Kill();
    if ((!keepData || !m_data) && !Prepare(setup)) {
        if (why)
            *why = QStringLiteral("cannot prepare the data folder");
        return false;
    }
    m_environment = m_desktop.SessionEnvironment();
    m_environment.insert(QStringLiteral("LARKBELL_DATA_DIR"), m_data->path());
    if (m_desktop.Session())
        m_environment.insert(QStringLiteral("SESSION_MANAGER"), QString::fromLatin1(m_desktop.Session()->Address()));
    if (setup.clockOffsetMs)
        m_environment.insert(QStringLiteral("LARKBELL_TEST_CLOCK_OFFSET_MS"), QString::number(*setup.clockOffsetMs));
    if (setup.zone)
        m_environment.insert(QStringLiteral("TZ"), QString::fromLatin1(*setup.zone));
    for (auto it = setup.environment.cbegin(); it != setup.environment.cend(); ++it)
        m_environment.insert(it.key(), it.value());
    for (const QString& name : setup.unset)
        m_environment.remove(name);

    QStringList arguments{QStringLiteral("-debug")};
    if (setup.autorun)
        arguments.append(QStringLiteral("-autorun"));
    arguments += setup.arguments;
    m_process = std::make_unique<QProcess>();
    m_process->setProcessEnvironment(m_environment);
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    DieWithTest(*m_process);
    m_process->start(m_exe, arguments);
    if (!m_process->waitForStarted(10000)) {
        if (why)
            *why = QStringLiteral("the program could not be started: ") + m_process->errorString();
        return false;
    }
    m_pid = m_process->processId();
    return true;
}

bool Program::WaitUntilStarted(int timeoutMs)
{
    return WaitUntil([this] { return LogCount(QStringLiteral("Tray icon shown")) > 0 || !Running(); }, timeoutMs, 10) &&
           Running();
}

bool Program::Running() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

bool Program::WaitForExit(int timeoutMs)
{
    if (!m_process)
        return true;
    return WaitUntil([this] { return m_process->state() == QProcess::NotRunning; }, timeoutMs, 2);
}

bool Program::ExitedCleanly() const
{
    return m_process && m_process->state() == QProcess::NotRunning && m_process->exitStatus() == QProcess::NormalExit &&
           m_process->exitCode() == 0;
}

QString Program::ExitDescription() const
{
    if (!m_process)
        return QStringLiteral("never started");
    if (m_process->state() != QProcess::NotRunning)
        return QStringLiteral("still running");
    if (m_process->exitStatus() == QProcess::CrashExit)
        return QStringLiteral("ended by a signal (crash or kill)");
    return QStringLiteral("exit code %1").arg(m_process->exitCode());
}

void Program::Signal(int signal)
{
    if (Running() && m_pid > 0)
        ::kill(static_cast<pid_t>(m_pid), signal);
}

void Program::Kill()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        ::kill(static_cast<pid_t>(m_pid), SIGCONT);
        ::kill(static_cast<pid_t>(m_pid), SIGKILL);
        m_process->waitForFinished(5000);
    }
}

QProcess* Program::StartSecondCopy(const QStringList& arguments)
{
    auto* copy = new QProcess;
    copy->setProcessEnvironment(m_environment);
    copy->setProcessChannelMode(QProcess::MergedChannels);
    DieWithTest(*copy);
    copy->start(m_exe, arguments);
    m_copies.append(copy);
    return copy;
}

int Program::RunSecondCopy(const QStringList& arguments, int timeoutMs, QString* output)
{
    QProcess* copy = StartSecondCopy(arguments);
    const bool ended = copy->waitForStarted(10000) &&
                       WaitUntil([copy] { return copy->state() == QProcess::NotRunning; }, timeoutMs, 2);
    if (output)
        *output = QString::fromLocal8Bit(copy->readAll());
    if (!ended) {
        copy->kill();
        copy->waitForFinished(3000);
        return -1;
    }
    return copy->exitStatus() == QProcess::NormalExit ? copy->exitCode() : -1;
}

QString Program::DataDir() const
{
    return m_data ? m_data->path() : QString();
}

QString Program::DataFile() const
{
    return QDir(DataDir()).filePath(QStringLiteral("Data.ini"));
}

QString Program::LogText() const
{
    return QString::fromUtf8(readFile(QDir(DataDir()).filePath(QStringLiteral("Log.txt"))));
}

QStringList Program::LogMessages() const
{
    QStringList messages;
    const QStringList lines = LogText().split(u'\n', Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const qsizetype separator = line.indexOf(QLatin1String(" : "));
        messages.append(separator < 0 ? line : line.mid(separator + 3));
    }
    return messages;
}

int Program::LogCount(const QString& needle) const
{
    return int(LogText().count(needle));
}

bool Program::WaitForLog(const QString& needle, int count, int timeoutMs)
{
    return WaitUntil([&] { return LogCount(needle) >= count; }, timeoutMs, 5);
}

ProfileDocument Program::Saved() const
{
    return ProfileDocument(QString::fromUtf8(readFile(DataFile())));
}

std::optional<QString> Program::SavedValue(const QString& key) const
{
    return Saved().value(QStringLiteral("Main"), key);
}

QStringList Program::SavedAlarms() const
{
    const ProfileDocument data = Saved();
    const int count = data.value(QStringLiteral("Main"), QStringLiteral("AlarmsListCount")).value_or(QString()).toInt();
    QStringList alarms;
    for (int i = 0; i < count; ++i)
        alarms.append(data.value(QStringLiteral("Main"), QStringLiteral("AlarmsList%1").arg(i)).value_or(QString()));
    return alarms;
}

QList<XWindow> Program::Windows()
{
    return Running() ? m_desktop.X().WindowsOf(m_pid) : QList<XWindow>();
}

std::optional<XWindow> Program::Find(WindowKind kind)
{
    for (const XWindow& w : Windows()) {
        if (w.viewable && KindOf(w) == kind)
            return w;
    }
    return std::nullopt;
}

bool Program::WaitForWindow(WindowKind kind, int timeoutMs, XWindow* found)
{
    std::optional<XWindow> window;
    const bool ok =
        WaitUntil([&] { return (window = Find(kind)).has_value() || !Running(); }, timeoutMs, 5) && window.has_value();
    if (ok && found)
        *found = *window;
    return ok;
}

bool Program::WaitForNoWindow(WindowKind kind, int timeoutMs)
{
    return WaitUntil([&] { return !Find(kind).has_value(); }, timeoutMs, 5);
}

std::optional<XWindow> Program::TrayIcon()
{
    return Running() ? m_desktop.X().TrayIconOf(m_pid) : std::nullopt;
}

bool Program::WaitForTrayIcon(int timeoutMs, XWindow* found)
{
    std::optional<XWindow> icon;
    const bool ok =
        WaitUntil([&] { return (icon = TrayIcon()).has_value() || !Running(); }, timeoutMs, 10) && icon.has_value();
    if (ok && found)
        *found = *icon;
    return ok;
}

QString Program::Output() const
{
    return m_process ? QString::fromLocal8Bit(m_process->peek(1 << 20)) : QString();
}

QString Program::Diagnostics()
{
    QString report;
    report += QStringLiteral("process: %1\n").arg(ExitDescription());
    if (Running()) {
        const QString proc = QStringLiteral("/proc/%1/").arg(m_pid);
        const QString stat = QString::fromLatin1(readFile(proc + QStringLiteral("stat")));
        report += QStringLiteral("state: %1, waiting in %2\n")
                      .arg(stat.section(u')', 1).trimmed().section(u' ', 0, 0),
                           QString::fromLatin1(readFile(proc + QStringLiteral("wchan"))));
        // Where each thread stands, from the debugger: the best clue to a hang.
        QString stacks;
        m_desktop.RunTool(QStringLiteral("gdb"),
                          {QStringLiteral("-p"), QString::number(m_pid), QStringLiteral("-batch"),
                           QStringLiteral("-nx"), QStringLiteral("-ex"), QStringLiteral("thread apply all bt 25")},
                          &stacks, 30000);
        static const QRegularExpression frame(QStringLiteral("^(Thread |#\\d+ )"));
        QStringList kept;
        for (const QString& line : stacks.split(u'\n')) {
            if (frame.match(line).hasMatch())
                kept.append(line);
        }
        report += QStringLiteral("--- threads\n") + kept.join(u'\n') + u'\n';
    }
    report += QStringLiteral("--- windows of the program\n");
    for (const XWindow& w : Windows())
        report += w.Describe() + u'\n';
    if (qEnvironmentVariableIsSet("LARKBELL_JOURNEY_SCREEN_DUMP"))
        report += QStringLiteral("--- screen\n") + m_desktop.X().Dump();
    const QStringList log = LogText().split(u'\n', Qt::SkipEmptyParts);
    report += QStringLiteral("--- end of Log.txt\n") + log.mid(qMax(0, int(log.size()) - 15)).join(u'\n') + u'\n';
    const QString output = Output().trimmed();
    if (!output.isEmpty())
        report += QStringLiteral("--- output\n") + output.right(2000) + u'\n';
    return report;
}
