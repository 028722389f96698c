#include "core/app/CommandLine.h"

namespace {

// The switches that came with the bus client are also written the usual way of the command line, "--name".
bool isLongSwitch(const QString& name, QStringView wanted)
{
    return name == wanted || (name.startsWith(u'-') && QStringView(name).mid(1) == wanted);
}

} // namespace

CommandLine CommandLine::Parse(const QStringList& arguments)
{
    CommandLine line;
    for (const QString& argument : arguments) {
        if (argument.size() < 2 || (argument.front() != u'-' && argument.front() != u'/'))
            continue;
        const QString name = argument.mid(1).toUpper();
        if (name == u"UNINSTALL")
            line.uninstall = true;
        else if (name == u"AUTORUN")
            line.autorun = true;
        else if (name == u"CLOSE")
            line.close = true;
        else if (name == u"DEBUG")
            line.debug = true;
        else if (name == u"WAKE-STATUS" || name == u"-WAKE-STATUS")
            line.wakeStatus = true;
        else if (isLongSwitch(name, u"HELP") || name == u"H" || name == u"?")
            line.help = true;
        else if (isLongSwitch(name, u"VERSION"))
            line.version = true;
        else if (isLongSwitch(name, u"DISMISS"))
            line.remote = RemoteCommand::Dismiss;
        else if (isLongSwitch(name, u"SNOOZE"))
            line.remote = RemoteCommand::Snooze;
        else if (isLongSwitch(name, u"NEXT"))
            line.remote = RemoteCommand::Next;
        else if (isLongSwitch(name, u"LIST"))
            line.remote = RemoteCommand::List;
    }
    return line;
}
