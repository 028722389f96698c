// Time from PlaySound to the first audible sample at a PulseAudio null sink's monitor, and the
// player's CPU share while a sound rings. Starts its own private server, as the tests do.
// Usage: bench_sound [plays]
#include "BenchSupport.h"
#include "PulseTestServer.h"
#include "audio/SoundPlayer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * double(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int plays = argc > 1 ? std::max(10, atoi(argv[1])) : 20;

    QTemporaryDir files;
    PulseTestServer server;
    SinkMonitor monitor;
    QString why;
    if (!server.Start(&why) || !server.StartKeepAlive() || !monitor.Start()) {
        std::fprintf(stderr, "no sound server: %s\n", qPrintable(why));
        return 1;
    }
    std::printf("%-6s %8s %8s %8s\n", "file", "p50 ms", "p99 ms", "max ms");
    for (const char* ext : {"wav", "mp3"}) {
        const QString tone = files.filePath(QStringLiteral("tone.") + QLatin1String(ext));
        if (!bench::MakeTone(tone)) {
            std::fprintf(stderr, "sox could not write %s\n", qPrintable(tone));
            return 1;
        }
        SoundPlayer player(CreateSoundOutput(), nullptr, files.path(), {});
        player.InitAudio();
        std::vector<double> latencies;
        // The first play of the run is not counted: until the silent keep-alive stream has reached
        // the null sink, the sink renders in long blocks, which says nothing about the player.
        for (int i = -1; i < plays; ++i) {
            player.StopSound();
            if (!monitor.WaitForQuiet(150, 5000)) {
                std::fprintf(stderr, "the sink did not fall quiet\n");
                return 1;
            }
            monitor.Reset();
            player.PlaySound(tone, true, false, false);
            const qint64 heard = monitor.WaitForSound(5000);
            if (heard < 0) {
                std::fprintf(stderr, "no sound reached the sink (error %d)\n", player.LastError());
                return 1;
            }
            if (i >= 0)
                latencies.push_back(double(heard));
        }
        player.StopSound();
        std::printf("%-6s %8.0f %8.0f %8.0f\n", ext, Percentile(latencies, 0.5), Percentile(latencies, 0.99),
                    *std::max_element(latencies.begin(), latencies.end()));
        std::fflush(stdout);
        bench::PrintInfo(QStringLiteral("sound alone: PlaySound -> first loud sample, %1 tone (%2 plays)")
                             .arg(QLatin1String(ext))
                             .arg(latencies.size()),
                         QStringLiteral("p50 %1 / p99 %2 / max %3 ms")
                             .arg(Percentile(latencies, 0.5), 0, 'f', 0)
                             .arg(Percentile(latencies, 0.99), 0, 'f', 0)
                             .arg(*std::max_element(latencies.begin(), latencies.end()), 0, 'f', 0));
    }

    // CPU while ringing: the recorder is stopped so that only the player's own work counts.
    monitor.Stop();
    const QString mp3 = files.filePath(QStringLiteral("tone.mp3"));
    SoundPlayer player(CreateSoundOutput(), nullptr, files.path(), {});
    player.PlaySound(mp3, true, false, false);
    const double cpuBefore = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    while (wall.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(20);
    }
    const double cpu = CpuSeconds() - cpuBefore;
    const bool stillPlaying = player.IsPlaying();
    player.StopSound();
    std::printf("CPU while ringing an MP3 for 10 s: %.2f %% of one core%s\n",
                100.0 * cpu / (double(wall.elapsed()) / 1000), stillPlaying ? "" : " (the sound stopped early!)");
    std::fflush(stdout);
    bench::PrintInfo(QStringLiteral("sound alone: CPU while an MP3 rings (10 s)"),
                     QStringLiteral("%1 % of one core").arg(100.0 * cpu / (double(wall.elapsed()) / 1000), 0, 'f', 2));
    return stillPlaying ? 0 : 1;
}
