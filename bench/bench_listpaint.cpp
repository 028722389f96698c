// Frame times of the alarm list (TAlarmListView, the program's own delegate) holding 10 000 alarms,
// scrolled from top to bottom one item at a time and one page at a time, in both layouts. A frame is
// one scroll step handled to the end: the scroll, the paint of what came into view and the flush.
// Other processes share the CPU, so a frame now and then waits for it, and its wall time then says
// more about them than about the list: each frame's own CPU time (the main thread's) is measured too,
// and the worst of those is set against the target, with the wall-clock p99 and worst beside it.
// Runs on the offscreen platform unless another is asked for.
// Usage: bench_listpaint [alarms] [--quick]   (--quick: one pass instead of three)
#include "BenchSupport.h"
#include "ui/AlarmListView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QStringListModel>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>

using namespace bench;

namespace {

class PaintCounter final : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// The slowest frame of a pass by CPU time, with what may explain it.
struct SlowFrame {
    double cpuMs = 0;
    double atS = 0;      // seconds since the program started
    long pageFaults = 0; // minor and major, during the frame
    long contextSwitches = 0;
};

struct Pass {
    std::vector<double> frameMs;
    std::vector<double> cpuMs; // the main thread's CPU time in each frame
    SlowFrame slowest;
    int unpainted = 0;
};

QElapsedTimer g_sinceStart;

std::pair<long, long> faultsAndSwitches()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return {usage.ru_minflt + usage.ru_majflt, usage.ru_nvcsw + usage.ru_nivcsw};
}

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Scrolls from the top to the end in steps of `step` scroll-bar units, timing each step's frame.
Pass scrollThrough(TAlarmListView& view, PaintCounter& counter, int step)
{
    QScrollBar* bar = view.verticalScrollBar();
    bar->setValue(0);
    QCoreApplication::processEvents();
    Pass pass;
    QElapsedTimer timer;
    for (int value = step; value <= bar->maximum() + step - 1; value += step) {
        const int before = counter.paints;
        const double cpuBefore = threadCpuMs();
        const auto [faultsBefore, switchesBefore] = faultsAndSwitches();
        timer.start();
        bar->setValue(std::min(value, bar->maximum()));
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        if (counter.paints == before) {
            // Nothing was painted on its own (it should have been): paint now, and count the frame anyway.
            ++pass.unpainted;
            view.viewport()->repaint();
        }
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        const double cpu = threadCpuMs() - cpuBefore;
        pass.frameMs.push_back(ms);
        pass.cpuMs.push_back(cpu);
        if (cpu > pass.slowest.cpuMs) {
            const auto [faults, switches] = faultsAndSwitches();
            pass.slowest = {cpu, double(g_sinceStart.elapsed()) / 1000, faults - faultsBefore,
                            switches - switchesBefore};
        }
    }
    return pass;
}

} // namespace

int main(int argc, char* argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    g_sinceStart.start();
    QApplication app(argc, argv);
    int count = 10000;
    int passes = 3;
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--quick")
            passes = 1;
        else
            count = std::max(100, std::atoi(argv[i]));
    }

    QStringListModel model(RandomAlarms(count));
    QStringListModel one(RandomAlarms(1));
    QStringListModel empty;
    TAlarmListView view;
    DayTexts texts;
    const QLocale locale(QLocale::English, QLocale::UnitedStates);
    for (int day = 1; day <= 7; ++day)
        texts.shortDayNames[day - 1] = locale.dayName(day == 1 ? 7 : day - 1, QLocale::ShortFormat);
    view.SetLocaleTexts(locale, texts);
    view.resize(560, 400); // the list's share of the main window at its first size
    PaintCounter counter;
    view.viewport()->installEventFilter(&counter);

    // The first paint of an item in each layout loads its fonts and images once, whatever the list
    // holds: it is timed on its own, with a single alarm.
    QElapsedTimer timer;
    timer.start();
    view.setModel(&one);
    view.show();
    view.viewport()->repaint();
    QCoreApplication::processEvents();
    view.SetSingleLine(true);
    view.viewport()->repaint();
    QCoreApplication::processEvents();
    const double oneFirstMs = double(timer.nsecsElapsed()) / 1e6;
    std::printf("first paint of the window with one alarm, both layouts: %.2f ms (fonts and images loaded once)\n",
                oneFirstMs);

    std::vector<double> all, allCpu, firsts;
    bool allPainted = true;
    for (int pass = 0; pass < passes; ++pass) {
        for (bool singleLine : {false, true}) {
            view.SetSingleLine(singleLine);
            timer.start();
            view.setModel(&model);
            view.SetCurrentRow(0);
            view.viewport()->repaint();
            QCoreApplication::processEvents();
            const double firstMs = double(timer.nsecsElapsed()) / 1e6;
            firsts.push_back(firstMs);

            const Pass items = scrollThrough(view, counter, 1);
            const Pass pages = scrollThrough(view, counter, view.verticalScrollBar()->pageStep());
            allPainted = allPainted && items.unpainted == 0 && pages.unpainted == 0;
            std::printf("pass %d, %s layout, %d alarms, %d px per item; the list set and painted: %.2f ms\n", pass + 1,
                        singleLine ? "single-line" : "two-line", count, view.ItemHeight(), firstMs);
            for (const auto& [name, p] : {std::pair{"item by item", &items}, {"page by page", &pages}}) {
                std::printf("  %-13s %5zu frames  p50 %.2f  p99 %.2f  max %.2f ms; CPU per frame p99 %.2f  max %.2f "
                            "ms (at %.1f s, %ld page faults, %ld context switches)%s\n",
                            name, p->frameMs.size(), Median(p->frameMs), Percentile(p->frameMs, 0.99), Max(p->frameMs),
                            Percentile(p->cpuMs, 0.99), Max(p->cpuMs), p->slowest.atS, p->slowest.pageFaults,
                            p->slowest.contextSwitches, p->unpainted ? "  (some steps painted nothing)" : "");
                all.insert(all.end(), p->frameMs.begin(), p->frameMs.end());
                allCpu.insert(allCpu.end(), p->cpuMs.begin(), p->cpuMs.end());
            }
            view.setModel(&empty);
        }
    }
    const double worst = Max(allCpu);
    const auto over = std::count_if(all.begin(), all.end(), [](double ms) { return ms > 16; });
    PrintResult(QStringLiteral("scale: list paint, %1 alarms, scrolled through item by item and page by page, both "
                               "layouts, %2 pass(es), %3 frames: worst frame's CPU time (wall p99 / worst; frames "
                               "over 16 ms)")
                    .arg(count)
                    .arg(passes)
                    .arg(all.size()),
                QStringLiteral("%1 ms (%2 / %3 ms; %4)")
                    .arg(worst, 0, 'f', 1)
                    .arg(Percentile(all, 0.99), 0, 'f', 1)
                    .arg(Max(all), 0, 'f', 1)
                    .arg(over),
                QStringLiteral("no frame over 16 ms"), worst <= 16 && Percentile(all, 0.99) <= 16 && allPainted);
    PrintInfo(
        QStringLiteral("scale: the list set to %1 alarms and painted, worst of %2 (the very first paint, with one "
                       "alarm, loads fonts)")
            .arg(count)
            .arg(firsts.size()),
        QStringLiteral("%1 ms (%2 ms)").arg(Max(firsts), 0, 'f', 1).arg(oneFirstMs, 0, 'f', 1));
    return 0;
}
