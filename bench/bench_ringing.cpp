// Firing and sound latency along the program's own path: the Linux alarm timer (timerfd) through
// TTimerThread, AlarmScheduler::FireDueAlarm, alarmsDue, TWakeupForm::ShowAlarms and the SoundPlayer on
// a PulseAudio sink, with the real clock. Alarms have whole minutes and the program rings at most one
// a minute, so the scheduler reads a shifted clock: each round's alarm minute falls on a real whole
// second a second or two ahead, and the same shift is taken off again before the real timer is armed.
// Everything from the kernel timer on runs as in the program.
//
// Usage: bench_ringing [firings] [sound]   (under an X server; default sound: a tone audible from its
// first sample, so that only the program's own delay is measured). Needs the sink "alarmtest".
#include "BenchSupport.h"
#include "app/TimerThread.h"
#include "audio/SoundPlayer.h"
#include "audio/VolumeSetForm.h"
#include "core/alarms/AlarmRecord.h"
#include "core/alarms/AlarmScheduler.h"
#include "core/app/AppFolders.h"
#include "core/app/AppIni.h"
#include "core/mglib/DebugLog.h"
#include "core/mglib/MgLanguages.h"
#include "platform/Platform.h"
#include "platform/VolumeBackends.h"
#include "ui/Icons.h"
#include "ui/WakeupForm.h"

#include <QApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <map>

using namespace bench;

namespace {

// The scheduler's timers, with the clock shift taken off before the real timers are armed.
class ShiftedTimers final : public ScheduleTimers
{
public:
    explicit ShiftedTimers(TTimerThread& real)
        : m_real(real)
    {}
    bool ArmAlarm(const QDateTime& utc) override { return m_real.ArmAlarm(utc.addMSecs(-shiftMs)); }
    WakeArming ArmWake(const QDateTime& utc, bool wake) override
    {
        return m_real.ArmWake(utc.addMSecs(-shiftMs), wake);
    }

    qint64 shiftMs = 0;

private:
    TTimerThread& m_real;
};

// Stamps the moment the notification window has been painted: the last paint event of its first paint
// pass, children included (the backing store is flushed to the X server right after). A pass ends when
// the events it posted are handled, so a zero timer posted by its first paint event closes it.
class ShownProbe final : public QObject
{
public:
    std::optional<WallClock::time_point> exposed;
    std::optional<WallClock::time_point> shown;
    std::function<void()> onShown;

    void Reset()
    {
        exposed.reset();
        shown.reset();
        m_passDone = false;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && !exposed && qobject_cast<QWindow*>(watched) &&
            static_cast<QWindow*>(watched)->isExposed())
            exposed = WallClock::now();
        if (event->type() == QEvent::Paint && !m_passDone) {
            if (!shown) {
                QTimer::singleShot(0, this, [this] {
                    m_passDone = true;
                    if (onShown)
                        onShown();
                });
            }
            shown = WallClock::now();
        }
        return false;
    }

private:
    bool m_passDone = false;
};

QString row(const char* what, const std::vector<double>& ms)
{
    return QStringLiteral("%1  p50 %2  p99 %3  max %4 ms")
        .arg(QLatin1String(what), -28)
        .arg(Median(ms), 7, 'f', 2)
        .arg(Percentile(ms, 0.99), 7, 'f', 2)
        .arg(Max(ms), 7, 'f', 2);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const int firings = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;

    QTemporaryDir data;
    qputenv("LARKBELL_DATA_DIR", data.path().toLocal8Bit());
    const AppFolders folders = AppFolders::Resolve(QStringLiteral(LARKBELL_PROGRAM_DIR));
    QString sound = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    if (sound.isEmpty()) {
        sound = data.filePath(QStringLiteral("tone.wav"));
        if (!MakeTone(sound)) {
            std::fprintf(stderr, "sox could not write %s\n", qPrintable(sound));
            return 1;
        }
    }
    SetDebugMode(true);
    SetLogFolder(folders.dataFolder);
    TMgLang lang(folders.langsFolder, SystemUiLanguageId());
    TAppIni ini(folders.exeFolder, folders.soundsFolder);
    ini.SetFileName(folders.dataFolder + QStringLiteral("Data.ini"));

    // The objects main() makes for ringing, wired as it wires them.
    std::unique_ptr<Platform> platform = CreatePlatform();
    TVolumeSetForm volume(CreateSystemVolumeEndpoint(), CreateSystemVolumeMixer());
    SoundPlayer player(CreateSoundOutput(), &volume, folders.soundsFolder, {});
    player.InitAudio();
    QSystemTrayIcon tray(AppIcon(u"tray-normal"));
    tray.show();
    // How long each call out of ShowAlarm takes, per round, for the detail lines.
    std::map<std::string, std::vector<double>> stepMs;
    const auto timed = [&stepMs](const char* step, auto&& work) {
        const auto from = WallClock::now();
        work();
        stepMs[step].push_back(MsBetween(from, WallClock::now()));
    };
    WakeupHooks hooks;
    hooks.playSound = [&](const QString& name, bool loop, int rampSeconds) {
        timed("start the sound", [&] {
            player.PlaySound(name, loop, true, false, SoundPlayer::Fallback::BuiltInSound, rampSeconds);
            player.StartStopSoundTimer();
        });
        WriteLog(QStringLiteral("Sound \"%1\": error code %2").arg(name).arg(player.LastError()));
    };
    hooks.stopSound = [&player] { player.StopSound(); };
    hooks.saveSystemVolume = [&] { timed("save the volume", [&] { player.SaveSystemVolume(); }); };
    hooks.setSystemVolume = [&](int percent) {
        timed("set the volume", [&] {
            volume.SetMute(false);
            volume.SetVolume(unsigned(percent));
        });
    };
    hooks.setTrayIcon = [&tray](int index) {
        static const char* names[] = {"tray-normal", "tray-empty", "tray-ringing"};
        tray.setIcon(AppIcon(QLatin1String(names[qBound(0, index, 2)])));
    };
    hooks.normalTrayIcon = [] { return 0; };
    hooks.monitorOn = [&] { timed("monitor on", [&] { platform->MonitorOn(); }); };
    auto wakeup = CreateForm<TWakeupForm>(lang, hooks);

    AlarmScheduler* scheduler = nullptr;
    std::optional<WallClock::time_point> handlerDone;
    std::function<void()> checkDone; // ends a round once everything it waits for has happened
    std::unique_ptr<TTimerThread> timers = TTimerThread::Create(*platform, [&scheduler, &handlerDone, &checkDone] {
        scheduler->FireDueAlarm();
        handlerDone = WallClock::now();
        if (checkDone)
            checkDone();
    });
    if (!timers) {
        std::fprintf(stderr, "no alarm timer\n");
        return 1;
    }
    ShiftedTimers shifted(*timers);
    SchedulerClock clock;
    clock.now = [&shifted] { return QDateTime::currentDateTime().addMSecs(shifted.shiftMs); };
    AlarmScheduler alarmScheduler(ini, shifted, clock);
    scheduler = &alarmScheduler;
    alarmScheduler.SetLocale(QLocale());
    // As in the program: the next alarm's sound waits prepared.
    QObject::connect(
        &alarmScheduler, &AlarmScheduler::scheduleChanged, &player,
        [&] {
            const ScheduleResult& schedule = alarmScheduler.Schedule();
            player.PrepareForAlarm(
                alarmScheduler.Alarms().value(schedule.dueIndexes.value(0, schedule.nextAlarmIndex)));
        },
        Qt::QueuedConnection);

    std::optional<WallClock::time_point> handled;
    QObject::connect(&alarmScheduler, &AlarmScheduler::alarmsDue, [&handled] { handled = WallClock::now(); });
    QObject::connect(&alarmScheduler, &AlarmScheduler::alarmsDue, wakeup.get(), &TWakeupForm::ShowAlarms);
    std::optional<WallClock::time_point> showReturned;
    QObject::connect(&alarmScheduler, &AlarmScheduler::alarmsDue, [&showReturned] { showReturned = WallClock::now(); });

    ShownProbe probe;
    wakeup->installEventFilter(&probe);
    for (QWidget* child : wakeup->findChildren<QWidget*>())
        child->installEventFilter(&probe);
    wakeup->winId(); // the native window exists from here on, so its expose events can be watched
    wakeup->windowHandle()->installEventFilter(&probe);

    SinkTap tap;
    if (!tap.Start("alarmtest.monitor")) {
        std::fprintf(stderr, "parec could not be started\n");
        return 1;
    }

    std::vector<double> handlerMs, showReturnedMs, handlerDoneMs, exposedMs, shownMs, soundMs;
    std::optional<double> firstShownMs, firstSoundMs; // the first firing after start, apart as well
    QEventLoop loop;
    QTimer deadline; // one timer for every round, so that no round's deadline ends a later one
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    const auto quitWhenDone = [&] {
        if (probe.shown && handlerDone && tap.FirstLoud())
            loop.quit();
    };
    probe.onShown = quitWhenDone;
    checkDone = quitWhenDone;
    int failures = 0;
    std::optional<std::chrono::time_point<WallClock, std::chrono::minutes>> lastMinute;
    for (int round = -1; round < firings && failures < 3; ++round) {
        // Due on a real whole second at least 1.5 s ahead, which the shifted clock reads as the alarm's minute.
        const auto due = std::chrono::ceil<std::chrono::seconds>(WallClock::now() + std::chrono::milliseconds(1500));
        // Every round rings another wall time, two minutes after the last: the scheduler remembers what
        // rang and would not ring the same alarm at the same time again.
        auto minute = std::chrono::ceil<std::chrono::minutes>(due);
        if (lastMinute && minute < *lastMinute + std::chrono::minutes(2))
            minute = *lastMinute + std::chrono::minutes(2);
        lastMinute = minute;
        shifted.shiftMs = std::chrono::duration_cast<std::chrono::milliseconds>(minute - due).count();
        const QDateTime alarmAt = QDateTime::fromMSecsSinceEpoch(
            std::chrono::duration_cast<std::chrono::milliseconds>(minute.time_since_epoch()).count());
        AlarmRecord alarm;
        alarm.Time = QTime(alarmAt.time().hour(), alarmAt.time().minute());
        alarm.Label = QStringLiteral("Benchmark");
        alarm.Sound = sound;
        alarm.Volume = 90;
        alarm.WakeUp = false;
        alarmScheduler.SetAlarms({BuildAlarmString(alarm)});
        alarmScheduler.Rebuild();
        if (alarmScheduler.AlarmDueUtc() != alarmAt.toUTC()) {
            std::fprintf(stderr, "the schedule did not take the alarm: due %s, armed for %s\n",
                         qPrintable(alarmAt.toUTC().toString(Qt::ISODateWithMs)),
                         qPrintable(alarmScheduler.AlarmDueUtc().toString(Qt::ISODateWithMs)));
            return 1;
        }
        handled.reset();
        handlerDone.reset();
        showReturned.reset();
        probe.Reset();
        tap.Arm(due, [&loop, &quitWhenDone] { QMetaObject::invokeMethod(&loop, quitWhenDone, Qt::QueuedConnection); });
        deadline.start(int(MsBetween(WallClock::now(), due)) + 5000);
        loop.exec();
        deadline.stop();
        const std::optional<WallClock::time_point> heard = tap.FirstLoud();
        if (!handled || !probe.shown || !heard) {
            std::fprintf(stderr, "round %d: %s%s%s\n", round, handled ? "" : "did not fire; ",
                         probe.shown ? "" : "no window; ", heard ? "" : "no sound at the sink");
            ++failures;
        } else if (round < 0) {
            // The first firing after start pays for loading fonts once; its sound counts like every other.
            firstShownMs = MsBetween(due, *probe.shown);
            firstSoundMs = MsBetween(due, *heard);
            soundMs.push_back(*firstSoundMs);
        } else {
            handlerMs.push_back(MsBetween(due, *handled));
            showReturnedMs.push_back(showReturned ? MsBetween(due, *showReturned) : 0);
            handlerDoneMs.push_back(handlerDone ? MsBetween(due, *handlerDone) : 0);
            exposedMs.push_back(probe.exposed ? MsBetween(due, *probe.exposed) : 0);
            shownMs.push_back(MsBetween(due, *probe.shown));
            soundMs.push_back(MsBetween(due, *heard));
        }
        wakeup->DismissAlarm();
        if (!tap.WaitQuiet(std::chrono::milliseconds(300), std::chrono::seconds(5))) {
            std::fprintf(stderr, "the sink did not fall quiet\n");
            return 1;
        }
        QCoreApplication::processEvents();
    }
    tap.Stop();
    timers->Stop();
    if (handlerMs.size() < size_t(firings)) {
        std::fprintf(stderr, "only %zu of %d firings completed\n", handlerMs.size(), firings);
        return 1;
    }

    std::printf("%d firings of the real timer, sound %s\n", firings, qPrintable(QFileInfo(sound).fileName()));
    std::printf("%s\n", qPrintable(row("due -> handler (log line)", handlerMs)));
    std::printf("%s\n", qPrintable(row("due -> ShowAlarm returned", showReturnedMs)));
    std::printf("%s\n", qPrintable(row("due -> handler returned", handlerDoneMs)));
    std::printf("%s\n", qPrintable(row("due -> window exposed", exposedMs)));
    std::printf("%s\n", qPrintable(row("due -> window painted", shownMs)));
    std::printf("%s\n", qPrintable(row("due -> sound at the sink", soundMs)));
    if (firstShownMs && firstSoundMs)
        std::printf("first firing after start: window painted %.1f ms, sound at the sink %.1f ms\n", *firstShownMs,
                    *firstSoundMs);
    for (const auto& [step, ms] : stepMs)
        std::printf("  in ShowAlarm, %-16s p50 %.2f  max %.2f ms\n", step.c_str(), Median(ms), Max(ms));
    const QString n = QString::number(firings);
    const bool ownSound = argc > 2; // a run for the sound alone: the firing rows come from the tone run
    const auto over = std::count_if(shownMs.begin(), shownMs.end(), [](double ms) { return ms > 10; });
    if (!ownSound) {
        PrintResult(
            QStringLiteral("firing latency: due second -> \"Alarm fired\" (the DEBUG log's moment, %1 firings)").arg(n),
            QStringLiteral("p50 %1 / p99 %2 / max %3 ms")
                .arg(Median(handlerMs), 0, 'f', 1)
                .arg(Percentile(handlerMs, 0.99), 0, 'f', 1)
                .arg(Max(handlerMs), 0, 'f', 1),
            QStringLiteral("p99 <= 10 ms"), Percentile(handlerMs, 0.99) <= 10);
        PrintResult(
            QStringLiteral("firing latency: due second -> notification window painted (%1 firings; over 10 ms)").arg(n),
            QStringLiteral("p50 %1 / p99 %2 / max %3 ms (%4)")
                .arg(Median(shownMs), 0, 'f', 1)
                .arg(Percentile(shownMs, 0.99), 0, 'f', 1)
                .arg(Max(shownMs), 0, 'f', 1)
                .arg(over),
            QStringLiteral("p99 <= 10 ms"), Percentile(shownMs, 0.99) <= 10);
    }
    PrintResult(QStringLiteral("sound latency: due second -> first loud sample at the sink (%1 firings and the first "
                               "after start, %2)")
                    .arg(n, ownSound ? QFileInfo(sound).fileName() : QStringLiteral("a tone")),
                QStringLiteral("p50 %1 / p99 %2 / max %3 ms; first %4 ms")
                    .arg(Median(soundMs), 0, 'f', 0)
                    .arg(Percentile(soundMs, 0.99), 0, 'f', 0)
                    .arg(Max(soundMs), 0, 'f', 0)
                    .arg(firstSoundMs.value_or(-1), 0, 'f', 0),
                QStringLiteral("p99 <= 50 ms"), Percentile(soundMs, 0.99) <= 50);
    return 0;
}
