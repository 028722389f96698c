#pragma once

#include <QFile>

namespace RssDetail {
inline qint64 statusKb(const char* field)
{
    // Read whole: a file of /proc has no size, so reading line by line would stop at once.
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}
} // namespace RssDetail

/** This process's resident memory in kB, from /proc/self/status; -1 where that cannot be read. */
inline qint64 ResidentKb()
{
    return RssDetail::statusKb("VmRSS:");
}

/** The most resident memory since the last ResetPeakResident (or the start), in kB. */
inline qint64 PeakResidentKb()
{
    return RssDetail::statusKb("VmHWM:");
}

/** Starts measuring the peak afresh from the memory resident now; false where the system cannot. */
inline bool ResetPeakResident()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}
