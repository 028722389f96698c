#include "core/app/CommandLine.h"

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
    }
    return line;
}
