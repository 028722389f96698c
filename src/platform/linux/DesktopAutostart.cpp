#include "platform/linux/DesktopAutostart.h"

#include "platform/linux/PlatformLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <optional>
#include <string_view>

namespace DesktopAutostart {

namespace {

constexpr std::string_view kFileName = "LarkBL.desktop";
constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";

std::string ConfigHome()
{
    // Relative values are invalid by the base-directory rules and are ignored like unset ones.
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (QDir::isAbsolutePath(configured))
        return configured.toStdString();
    return QString(QDir::homePath() + QStringLiteral("/.config")).toStdString();
}

std::vector<std::string> ConfigDirs()
{
    std::vector<std::string> dirs;
    const QStringList configured = qEnvironmentVariable("XDG_CONFIG_DIRS").split(u':', Qt::SkipEmptyParts);
    for (const QString& dir : configured) {
        if (QDir::isAbsolutePath(dir))
            dirs.push_back(dir.toStdString());
    }
    if (dirs.empty())
        dirs.emplace_back("/etc/xdg");
    return dirs;
}

std::string EntryIn(const std::string& configDir)
{
    return configDir + "/autostart/" + std::string(kFileName);
}

struct Entry {
    std::optional<std::string> exec; // unescaped
    bool hidden = false;
};

std::string_view Trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::optional<Entry> ReadEntry(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const std::string text = file.readAll().toStdString();
    Entry entry;
    bool inMainGroup = false;
    bool seenExec = false;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const auto equals = line.find('=');
        if (!inMainGroup || equals == std::string_view::npos)
            continue;
        const std::string_view key = Trimmed(line.substr(0, equals));
        std::string_view value = line.substr(equals + 1);
        value.remove_prefix(std::min(value.find_first_not_of(' '), value.size()));
        if (key == "Exec" && !seenExec) {
            seenExec = true;
            entry.exec = UnescapeValue(std::string(value));
        } else if (key == "Hidden" && Trimmed(value) == "true") {
            entry.hidden = true;
        } else if (key == "X-GNOME-Autostart-enabled" && Trimmed(value) == "false") {
            // How GNOME's session settings switch an entry off without deleting it.
            entry.hidden = true;
        }
    }
    return entry;
}

bool StartsExactly(const std::optional<Entry>& entry, const std::string& exec)
{
    return entry && !entry->hidden && entry->exec && *entry->exec == exec;
}

} // namespace

std::string QuoteExecArgument(const std::string& argument)
{
    std::string doubled;
    for (const char c : argument) {
        doubled += c;
        if (c == '%')
            doubled += '%';
    }
    if (!doubled.empty() && doubled.find_first_of(kReserved) == std::string::npos)
        return doubled;
    std::string quoted = "\"";
    for (const char c : doubled) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::string EscapeValue(const std::string& value)
{
    std::string escaped;
    for (const char c : value) {
        switch (c) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\t':
            escaped += "\\t";
            break;
        case '\r':
            escaped += "\\r";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::string UnescapeValue(const std::string& value)
{
    std::string plain;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            plain += value[i];
            continue;
        }
        const char next = value[++i];
        switch (next) {
        case 's':
            plain += ' ';
            break;
        case 'n':
            plain += '\n';
            break;
        case 't':
            plain += '\t';
            break;
        case 'r':
            plain += '\r';
            break;
        case '\\':
            plain += '\\';
            break;
        default:
            plain += '\\';
            plain += next;
        }
    }
    return plain;
}

std::string ExecLine(const std::string& exePath)
{
    return QuoteExecArgument(exePath) + " -autorun";
}

std::string UserEntryPath()
{
    return EntryIn(ConfigHome());
}

std::vector<std::string> MachineEntryPaths()
{
    std::vector<std::string> paths;
    for (const std::string& dir : ConfigDirs())
        paths.push_back(EntryIn(dir));
    return paths;
}

bool Enable(const std::string& exePath)
{
    const QString path = QString::fromStdString(UserEntryPath());
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    const std::string content = "[Desktop Entry]\n"
                                "Type=Application\n"
                                "Name=Larkbell\n"
                                "Exec=" +
                                EscapeValue(ExecLine(exePath)) +
                                "\n"
                                "Terminal=false\n";
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(content.data(), static_cast<qint64>(content.size()));
    if (!file.commit()) {
        qCWarning(lcPlatform, "autostart: cannot write %s: %s", qPrintable(path), qPrintable(file.errorString()));
        return false;
    }
    return true;
}

bool Disable()
{
    QFile file(QString::fromStdString(UserEntryPath()));
    return file.exists() && file.remove();
}

bool Enabled(const std::string& exePath)
{
    const std::string exec = ExecLine(exePath);
    // Of several machine folders holding the entry, only the most important one counts, as for the session.
    for (const std::string& path : MachineEntryPaths()) {
        if (!QFileInfo::exists(QString::fromStdString(path)))
            continue;
        if (StartsExactly(ReadEntry(path), exec))
            return true;
        break;
    }
    return StartsExactly(ReadEntry(UserEntryPath()), exec);
}

} // namespace DesktopAutostart
