// Rebuild + sort of the alarm list at several list sizes; prints one table.
#include "BenchSupport.h"
#include "core/alarms/Schedule.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <algorithm>
#include <vector>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QLocale locale(QLocale::English, QLocale::UnitedStates);
    const LocalDateTime now{QDate(2026, 12, 8), QTime(12, 0)};
    constexpr int kRuns = 15;

    out << "alarms   sort (ms)  rebuild (ms)  sort+rebuild (ms)  target\n";
    double largest = 0;
    for (int count : {10, 1000, 10000}) {
        const QStringList unsorted = bench::RandomAlarms(count);
        std::vector<double> sortMs, rebuildMs, totalMs;
        for (int run = 0; run < kRuns; ++run) {
            QStringList alarms = unsorted;
            int selected = count / 2;
            QElapsedTimer timer;
            timer.start();
            SortAlarms(alarms, 1, &selected);
            const qint64 sorted = timer.nsecsElapsed();
            const ScheduleResult result = RebuildSchedule(alarms, now, locale);
            const qint64 total = timer.nsecsElapsed();
            if (result.panel.isEmpty())
                return 1; // keeps the work from being optimised away, and no enabled alarm would be a broken input
            sortMs.push_back(sorted / 1e6);
            rebuildMs.push_back((total - sorted) / 1e6);
            totalMs.push_back(total / 1e6);
        }
        out << QStringLiteral("%1 %2 %3 %4  %5\n")
                   .arg(count, 6)
                   .arg(bench::Median(sortMs), 10, 'f', 3)
                   .arg(bench::Median(rebuildMs), 13, 'f', 3)
                   .arg(bench::Median(totalMs), 18, 'f', 3)
                   .arg(count == 10000 ? QStringLiteral("< 20 ms") : QString());
        largest = bench::Median(totalMs);
    }
    out << "(median of " << kRuns << " runs; random lists, 10 % disabled, 2 % wake-up)" << Qt::endl;
    bench::PrintResult(QStringLiteral("scale: rebuild + sort, 10 000 alarms (median of %1)").arg(kRuns),
                       QStringLiteral("%1 ms").arg(largest, 0, 'f', 1), QStringLiteral("<= 20 ms"), largest <= 20);
    return 0;
}
