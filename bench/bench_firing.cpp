// Firing latency of the real alarm timer: due instant (a whole second) to the handler running on the
// main thread, over a series of firings; prints p50 / p99 / max.
#include "BenchSupport.h"
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

using Clock = std::chrono::system_clock;

Clock::time_point nextWholeSecond(Clock::time_point after)
{
    return std::chrono::ceil<std::chrono::seconds>(after + std::chrono::milliseconds(200));
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const size_t at = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    return values[at];
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int firings = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    std::unique_ptr<Platform> platform = CreatePlatform();
    std::vector<double> latenciesMs;
    Clock::time_point due;
    std::unique_ptr<AlarmTimer> timer;
    timer = platform->CreateAlarmTimer([&] {
        latenciesMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - due).count());
        if (int(latenciesMs.size()) == firings) {
            QCoreApplication::quit();
            return;
        }
        due = nextWholeSecond(Clock::now());
        timer->Arm(due);
    });
    if (!timer) {
        QTextStream(stderr) << "no alarm timer on this system\n";
        return 1;
    }
    due = nextWholeSecond(Clock::now());
    timer->Arm(due);
    QCoreApplication::exec();

    QTextStream out(stdout);
    out << "firings  p50 (ms)  p99 (ms)  max (ms)  target\n";
    out << QStringLiteral("%1 %2 %3 %4  p99 <= 10 ms\n")
               .arg(latenciesMs.size(), 7)
               .arg(percentile(latenciesMs, 0.5), 9, 'f', 3)
               .arg(percentile(latenciesMs, 0.99), 9, 'f', 3)
               .arg(*std::max_element(latenciesMs.begin(), latenciesMs.end()), 9, 'f', 3);
    out.flush();
    bench::PrintInfo(QStringLiteral("the alarm timer alone: due second -> callback on the main thread (%1 firings)")
                         .arg(latenciesMs.size()),
                     QStringLiteral("p50 %1 / p99 %2 / max %3 ms")
                         .arg(percentile(latenciesMs, 0.5), 0, 'f', 2)
                         .arg(percentile(latenciesMs, 0.99), 0, 'f', 2)
                         .arg(*std::max_element(latenciesMs.begin(), latenciesMs.end()), 0, 'f', 2));
    return 0;
}
