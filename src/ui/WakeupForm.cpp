#include "ui/WakeupForm.h"

#include "core/alarms/AlarmRecord.h"
#include "core/alarms/AppClock.h"
#include "core/alarms/MissedAlarms.h"
#include "core/mglib/DebugLog.h"
#include "core/mglib/MgLib.h"
#include "ui/FloatingForm.h"
#include "ui/WindowPlacement.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QTextLayout>
#include <QTime>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

#include <algorithm>
#include <utility>

namespace {

constexpr int kClientWidth = 425;
constexpr int kClientHeight = 325;
constexpr int kButtonLeft = 24;
constexpr int kButtonTop = 240;
constexpr int kButtonWidth = 177;
constexpr int kButtonHeight = 57;
constexpr int kSnoozeLengthWidth = 34; // the arrow beside Snooze, cut from the Snooze button's width

void call(const std::function<void()>& hook)
{
    if (hook)
        hook();
}

// Ends a wait when its window is exposed. The expose is still handled after the quit, and Qt paints
// and flushes an exposed window while handling it, so the wait ends with the window painted.
class ExposeWatch final : public QObject
{
public:
    ExposeWatch(QWindow& window, QEventLoop& loop)
        : m_window(window)
        , m_loop(loop)
    {
        m_window.installEventFilter(this);
    }
    ~ExposeWatch() override { m_window.removeEventFilter(this); }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && m_window.isExposed())
            m_loop.quit();
        return false;
    }

private:
    QWindow& m_window;
    QEventLoop& m_loop;
};

// Shows what does not fit as an ellipsis rather than cutting the text off at the label's edges.
class FittingLabel final : public QLabel
{
public:
    FittingLabel(bool wrap, QWidget* parent)
        : QLabel(parent)
        , m_wrap(wrap)
    {
        setWordWrap(wrap);
        setTextFormat(Qt::PlainText);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        const QRect room = contentsRect();
        const QStringList lines = TWakeupForm::FittedLines(text(), font(), room.size(), m_wrap);
        const int lineHeight = fontMetrics().lineSpacing();
        QPainter painter(this);
        int top = room.top() + (room.height() - static_cast<int>(lines.size()) * lineHeight) / 2;
        for (const QString& line : lines) {
            style()->drawItemText(&painter, QRect(room.left(), top, room.width(), lineHeight), Qt::AlignCenter,
                                  palette(), isEnabled(), line, foregroundRole());
            top += lineHeight;
        }
    }

private:
    bool m_wrap;
};

const QString kEllipsis = QStringLiteral("\u2026");

// text cut at its end until it fits width with an ellipsis after it.
QString withEllipsis(QString text, const QFontMetrics& metrics, int width)
{
    while (!text.isEmpty() && metrics.horizontalAdvance(text + kEllipsis) > width) {
        text.chop(1);
        if (!text.isEmpty() && text.back().isHighSurrogate())
            text.chop(1);
    }
    return text + kEllipsis;
}

QString withoutTrailingBlanks(QString text)
{
    while (!text.isEmpty() && text.back().isSpace())
        text.chop(1);
    return text;
}

// The alarm's time or the current time in the locale's long time format, without the zone: a zone name
// tells nobody woken by an alarm anything, and it can push the time out of its label.
QString longTime(QTime time)
{
    const QLocale locale;
    return locale.toString(time, TFloatingForm::ClockTimeFormat(locale));
}

} // namespace

TWakeupForm::TWakeupForm(TMgLang& lang, WakeupHooks hooks, QWidget* parent)
    : QDialog(parent)
    , TMgForm(this, lang)
    , m_hooks(std::move(hooks))
{
    setObjectName(QStringLiteral("WakeupForm"));
    setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);
    setAutoFillBackground(true);
    QFont big = font();
    big.setPointSize(20);
    setFont(big);

    lblTime = new FittingLabel(false, this);
    lblTime->setObjectName(QStringLiteral("lblTime"));
    lblTime->setGeometry(16, 56, 393, 41);
    lblTime->setAlignment(Qt::AlignCenter);
    lblInfo = new FittingLabel(true, this);
    lblInfo->setObjectName(QStringLiteral("lblInfo"));
    lblInfo->setGeometry(16, 104, 393, 129);
    lblInfo->setAlignment(Qt::AlignCenter);
    // Above the time, where nothing else stands: the alarm still rings in every other way, so it is a note.
    lblSoundError = new QLabel(this);
    lblSoundError->setObjectName(QStringLiteral("lblSoundError"));
    lblSoundError->setGeometry(16, 6, 393, 46);
    lblSoundError->setAlignment(Qt::AlignCenter);
    lblSoundError->setWordWrap(true);
    lblSoundError->setTextFormat(Qt::PlainText);
    {
        QFont small = lblSoundError->font();
        small.setPointSize(10);
        lblSoundError->setFont(small);
        QPalette palette = lblSoundError->palette();
        palette.setColor(QPalette::WindowText, QColor(0xb0, 0x00, 0x20));
        lblSoundError->setPalette(palette);
    }
    lblSoundError->hide();

    btnOK = new QPushButton(Text::Ok.English(), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnSnooze = new QPushButton(Text::SnoozeButton.English(), this);
    btnSnooze->setObjectName(QStringLiteral("btnSnooze"));
    btnSnooze->installEventFilter(this);
    btnSnoozeLength = new QToolButton(this);
    btnSnoozeLength->setObjectName(QStringLiteral("btnSnoozeLength"));
    btnSnoozeLength->setArrowType(Qt::DownArrow);
    btnSnoozeLength->setFocusPolicy(Qt::StrongFocus);
    btnSnoozeLength->installEventFilter(this);
    pmSnoozeLength = new QMenu(this);
    pmSnoozeLength->setObjectName(QStringLiteral("pmSnoozeLength"));
    for (const int minutes : kSnoozeChoices) {
        QAction* item = pmSnoozeLength->addAction(QString::number(minutes));
        item->setObjectName(QStringLiteral("miSnoozeFor%1").arg(minutes));
        item->setData(minutes);
        connect(item, &QAction::triggered, this, [this, minutes] { SnoozeFor(minutes); });
    }
    // The menu opens without a loop of its own: alarms and timers go on while it is open.
    connect(btnSnoozeLength, &QToolButton::clicked, this, [this] { openSnoozeLengths(false); });
    // Left to right as they stand: Snooze, its lengths, then OK.
    setTabOrder(btnSnooze, btnSnoozeLength);
    setTabOrder(btnSnoozeLength, btnOK);
    layoutButtons(true);
    applyAccessibleTexts();
    connect(btnOK, &QPushButton::clicked, this, &TWakeupForm::DismissAlarm);
    connect(btnSnooze, &QPushButton::clicked, this, &TWakeupForm::btnSnoozeClick);

    tmrClock.setTimerType(Qt::PreciseTimer);
    connect(&tmrClock, &QTimer::timeout, this, &TWakeupForm::tmrClockTimer);
    tmrSnooze.setSingleShot(true);
    // The hints name the minute it rings again; a coarse timer could be off by 5 % of half an hour.
    tmrSnooze.setTimerType(Qt::PreciseTimer);
    connect(&tmrSnooze, &QTimer::timeout, this, &TWakeupForm::snoozeEnded);
    tmrTray.setInterval(kTrayBlinkMs);
    connect(&tmrTray, &QTimer::timeout, this, &TWakeupForm::tmrTrayTimer);
    tmrMonitorOn.setInterval(kMonitorOnIntervalMs);
    connect(&tmrMonitorOn, &QTimer::timeout, this, &TWakeupForm::tmrMonitorOnTimer);
}

void TWakeupForm::DoLanguageChanged()
{
    TMgForm::DoLanguageChanged();
    setWindowTitle(QStringLiteral("Larkbell"));
    // Back to built-in English too: a language without these keys must not leave the last one's words.
    btnSnooze->setText(Lang().GetText(Text::SnoozeButton));
    btnOK->setText(Lang().GetText(Text::Ok));
    updateSoundError();
    for (QAction* item : pmSnoozeLength->actions())
        item->setText(CountWithUnit(item->data().toInt(), Lang().GetText(Text::Minute), Lang().GetText(Text::Minutes)));
    pmSnoozeLength->setTitle(Lang().GetText(Text::SnoozeLength));
    applyAccessibleTexts();
}

void TWakeupForm::applyAccessibleTexts()
{
    btnOK->setAccessibleName(WithoutMnemonic(btnOK->text()));
    btnOK->setAccessibleDescription(KeyCommandText(Qt::Key_Enter, btnOK->text()));
    btnSnooze->setAccessibleName(WithoutMnemonic(btnSnooze->text()));
    btnSnooze->setAccessibleDescription(KeyCommandText(Qt::Key_Escape, btnSnooze->text()));
    const QString lengths = WithoutMnemonic(Lang().GetText(Text::SnoozeLength));
    btnSnoozeLength->setAccessibleName(lengths);
    btnSnoozeLength->setAccessibleDescription(KeyCommandText(QKeySequence(Qt::ALT | Qt::Key_Down), lengths));
    btnSnoozeLength->setToolTip(lengths);
    pmSnoozeLength->setAccessibleName(lengths);
}

int TWakeupForm::LabelFontSize(const QString& label)
{
    return label.size() > kLongLabelCharacters || label.count(u'\r') > 2 ? 10 : 20;
}

QStringList TWakeupForm::FittedLines(const QString& text, const QFont& font, const QSize& room, bool wrap)
{
    const QFontMetrics metrics(font);
    const int width = room.width();
    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    if (!wrap) {
        const QString line = plain.replace(u'\n', u' ');
        return {metrics.horizontalAdvance(line) > width ? withEllipsis(line, metrics, width) : line};
    }
    QStringList lines;
    QTextOption option;
    // Only between words: a word wider than the label ends in an ellipsis instead of being broken up.
    option.setWrapMode(QTextOption::WordWrap);
    for (const QString& paragraph : plain.split(u'\n')) {
        QTextLayout layout(paragraph, font);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            const QString piece = withoutTrailingBlanks(paragraph.mid(line.textStart(), line.textLength()));
            lines.append(metrics.horizontalAdvance(piece) > width ? withEllipsis(piece, metrics, width) : piece);
        }
        layout.endLayout();
    }
    const qsizetype fitting = std::max(1, room.height() / metrics.lineSpacing());
    if (lines.size() > fitting) {
        lines.resize(fitting);
        QString& last = lines.last();
        if (!last.endsWith(kEllipsis))
            last = withEllipsis(last, metrics, width);
    }
    return lines;
}

void TWakeupForm::layoutButtons(bool snooze)
{
    btnSnooze->setGeometry(kButtonLeft, kButtonTop, kButtonWidth - kSnoozeLengthWidth, kButtonHeight);
    btnSnooze->setVisible(snooze);
    btnSnoozeLength->setGeometry(kButtonLeft + kButtonWidth - kSnoozeLengthWidth, kButtonTop, kSnoozeLengthWidth,
                                 kButtonHeight);
    btnSnoozeLength->setVisible(snooze);
    if (snooze)
        btnOK->setGeometry(kClientWidth - kButtonWidth - kButtonLeft, kButtonTop, kButtonWidth, kButtonHeight);
    else
        btnOK->setGeometry(kButtonLeft, kButtonTop, kClientWidth - 2 * kButtonLeft, kButtonHeight);
}

void TWakeupForm::SetSnoozeTime(int seconds)
{
    m_snoozeSeconds = seconds;
    if (!tmrSnooze.isActive())
        tmrSnooze.setInterval(seconds * 1000);
}

void TWakeupForm::ResetSnooze()
{
    tmrSnooze.stop();
    tmrSnooze.setInterval(m_snoozeSeconds * 1000);
    if (m_hooks.showCancelSnooze)
        m_hooks.showCancelSnooze(false);
}

namespace {

// Alarms that ring together: the first in list order gives the sound, the volume and the snooze button;
// the window shows when any of them asks for it, every label in list order.
AlarmRecord combinedAlarm(const QStringList& alarmStrings)
{
    AlarmRecord combined = ParseAlarmString(alarmStrings.value(0));
    QStringList labels;
    for (const QString& s : alarmStrings) {
        const AlarmRecord alarm = ParseAlarmString(s);
        labels.append(alarm.Label);
        combined.ShowMessage = combined.ShowMessage || alarm.ShowMessage;
        combined.MonitorOn = combined.MonitorOn || alarm.MonitorOn;
    }
    combined.Label = labels.join(QStringLiteral("\r\n"));
    return combined;
}

} // namespace

void TWakeupForm::ShowAlarms(const QStringList& alarmStrings)
{
    if (alarmStrings.isEmpty())
        return;
    m_alarmStrings = alarmStrings;
    ShowSoundFailure(0); // a failure is told anew for each ring
    const AlarmRecord alarm = combinedAlarm(alarmStrings);
    QFont labelFont = lblInfo->font();
    labelFont.setPointSize(LabelFontSize(alarm.Label));
    lblInfo->setFont(labelFont);
    // Said once, for this showing: a snooze that ends on time rings without it.
    const QString dueNote = std::exchange(m_dueNote, QString());
    lblInfo->setText(dueNote.isEmpty() ? alarm.Label : dueNote + QStringLiteral("\r\n") + alarm.Label);
    m_alarmSnoozeSeconds = alarm.SnoozeMinutes > 0 ? alarm.SnoozeMinutes * 60 : 0;

    ResetSnooze();
    CenterOnWorkArea(this);
    layoutButtons(alarm.Snooze);
    m_shownTick.start();
    call(m_hooks.cancelBalloon);
    m_notifiedBesideWindow = false;
    if (alarm.ShowMessage) {
        // The sound starts first: it is only released at the server (the stream waits prepared), while
        // the window's first paint takes the window system a few milliseconds.
        m_windowComing = true;
        startSound(alarm);
        show();
        waitUntilPainted();
        m_windowComing = false;
    }
    // Where the compositor decides whether the window comes to the front, it may ring behind others:
    // the notification, which stays until answered, is there besides.
    const bool notifyToo = alarm.ShowMessage && !ProgramPlacesWindows();
    if ((!alarm.ShowMessage || notifyToo) && (m_hooks.showBalloon || m_hooks.showAlarmNotification)) {
        const int ms = !alarm.Sound.isEmpty() && alarm.SoundLoop ? 6000000 : 30000;
        const QString text = longTime(alarm.Time) + QStringLiteral("\r\n") +
                             (dueNote.isEmpty() ? QString() : dueNote + QStringLiteral("\r\n")) + alarm.Label;
        if (m_hooks.showAlarmNotification)
            m_hooks.showAlarmNotification(QStringLiteral("Larkbell"), text, ms, alarm.Snooze);
        else
            m_hooks.showBalloon(QStringLiteral("Larkbell"), text, ms);
        m_notifiedBesideWindow = notifyToo;
    }
    updateTime();
    if (isVisible()) {
        DemandAttention(this);
        if (btnSnooze->isVisible())
            btnSnooze->setFocus();
    }
    if (alarm.MonitorOn) {
        call(m_hooks.monitorOn);
        m_monitorOnRepeats = kMonitorOnRepeats;
        tmrMonitorOn.start();
    }
    tmrClock.start(1000 - AppClock::Program().CurrentTime().msec());
    m_trayRinging = false;
    tmrTray.start();
    m_alarmActive = true;
    // Last for a balloon alone: a sound that cannot start ends such an alarm, once everything is set up.
    if (!alarm.ShowMessage)
        startSound(alarm);
    if (m_hooks.highlightFloatingClock)
        m_hooks.highlightFloatingClock(true);
    emit alarmRinging(QString(alarm.Label).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

void TWakeupForm::startSound(const AlarmRecord& alarm)
{
    if (alarm.VolumeOn) {
        call(m_hooks.saveSystemVolume);
        if (m_hooks.setSystemVolume)
            m_hooks.setSystemVolume(alarm.Volume);
    }
    if (m_hooks.playSound)
        m_hooks.playSound(alarm.Sound, alarm.SoundLoop, alarm.RampSeconds);
}

void TWakeupForm::ShowSoundFailure(int error)
{
    m_soundFailure = error;
    updateSoundError();
}

void TWakeupForm::updateSoundError()
{
    if (m_soundFailure == 0) {
        lblSoundError->hide();
        lblSoundError->clear();
        return;
    }
    // By the kind of failure: 1xx the file, 2xx the server, 3xx its stream, 4xx the device tried after the server.
    LangText reason = Text::NoSoundAnywhere;
    switch (m_soundFailure / 100) {
    case 1:
        reason = Text::NoSoundFile;
        break;
    case 2:
        reason = Text::NoSoundServer;
        break;
    case 3:
        reason = Text::NoSoundStream;
        break;
    default:
        break;
    }
    const QString why = Lang().GetText(reason) + QStringLiteral(" (%1)").arg(m_soundFailure);
    const QString text = Lang().GetText(Text::NoSoundPlayed).replace(QStringLiteral("%1"), why);
    lblSoundError->setText(text);
    lblSoundError->setAccessibleName(text);
    lblSoundError->show();
}

void TWakeupForm::DismissAlarm()
{
    if (m_hooks.highlightFloatingClock)
        m_hooks.highlightFloatingClock(false);
    if (!m_alarmActive)
        return;
    m_alarmActive = false;
    pmSnoozeLength->hide();
    if (isVisible())
        hide();
    call(m_hooks.stopSound);
    tmrClock.stop();
    tmrTray.stop();
    tmrMonitorOn.stop();
    if (m_notifiedBesideWindow) {
        m_notifiedBesideWindow = false;
        call(m_hooks.cancelBalloon);
    }
    if (m_hooks.setTrayIcon && m_hooks.normalTrayIcon)
        m_hooks.setTrayIcon(m_hooks.normalTrayIcon());
    emit alarmStopped();
}

void TWakeupForm::waitUntilPainted()
{
    // The window goes on screen before the volume, the monitor and the sound are dealt with, and before
    // the caller saves the list: each of those waits for the sound server, the X server or the disk (a
    // busy disk holds a save for tens of milliseconds), and the window's first paint would wait behind
    // them all. The window system answers a show within a millisecond or two; until then only timers
    // and posted events run here, no input and no socket notifier (so no second alarm either).
    QWindow* window = windowHandle();
    if (!window || window->isExposed())
        return;
    QEventLoop wait;
    ExposeWatch watch(*window, wait);
    QTimer::singleShot(kPaintWaitMs, &wait, &QEventLoop::quit);
    wait.exec(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers);
}

bool TWakeupForm::SnoozeAlarm()
{
    // The button is laid out for the ringing alarm even when only its notification shows.
    if (!m_alarmActive || btnSnooze->isHidden())
        return false;
    btnSnoozeClick();
    return true;
}

void TWakeupForm::btnSnoozeClick()
{
    startSnooze(ConfiguredSnoozeSeconds());
}

int TWakeupForm::ConfiguredSnoozeSeconds() const
{
    return m_alarmSnoozeSeconds > 0 ? m_alarmSnoozeSeconds : m_snoozeSeconds;
}

void TWakeupForm::SnoozeFor(int minutes)
{
    // Only a ringing alarm with a Snooze button can be snoozed: a late click on a menu left open must not
    // snooze an alarm the user already answered.
    if (!m_alarmActive || btnSnooze->isHidden())
        return;
    startSnooze(minutes * 60);
}

void TWakeupForm::startSnooze(int seconds)
{
    pmSnoozeLength->hide();
    tmrSnooze.start(seconds * 1000);
    m_snoozeDueMs = AppClock::Program().NowMSecs() + qint64(seconds) * 1000;
    if (m_hooks.showCancelSnooze)
        m_hooks.showCancelSnooze(true);
    DismissAlarm();
}

void TWakeupForm::openSnoozeLengths(bool byKeyboard)
{
    if (!m_alarmActive || btnSnoozeLength->isHidden())
        return;
    const int configured = ConfiguredSnoozeSeconds();
    QAction* usual = nullptr;
    for (QAction* item : pmSnoozeLength->actions()) {
        if (item->data().toInt() * 60 == configured)
            usual = item;
    }
    // The length a plain Snooze takes stands out, so the choice reads as "other than usual".
    pmSnoozeLength->setDefaultAction(usual);
    pmSnoozeLength->popup(btnSnoozeLength->mapToGlobal(QPoint(0, btnSnoozeLength->height())));
    if (byKeyboard)
        pmSnoozeLength->setActiveAction(usual ? usual : pmSnoozeLength->actions().value(0));
}

bool TWakeupForm::eventFilter(QObject* watched, QEvent* event)
{
    if ((watched == btnSnooze || watched == btnSnoozeLength) && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool altDown = key->key() == Qt::Key_Down && key->modifiers().testFlag(Qt::AltModifier);
        // On the arrow, Enter opens its menu rather than reaching the dialog's default button, OK.
        const bool enterOnArrow =
            watched == btnSnoozeLength &&
            (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter || key->key() == Qt::Key_Space);
        if (altDown || key->key() == Qt::Key_Menu || key->key() == Qt::Key_F4 || enterOnArrow) {
            openSnoozeLengths(true);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TWakeupForm::updateTime()
{
    lblTime->setText(longTime(AppClock::Program().CurrentTime()));
}

void TWakeupForm::tmrClockTimer()
{
    tmrClock.setInterval(1000);
    updateTime();
}

void TWakeupForm::tmrTrayTimer()
{
    if (!m_hooks.setTrayIcon || !m_hooks.normalTrayIcon)
        return;
    m_trayRinging = !m_trayRinging;
    m_hooks.setTrayIcon(m_trayRinging ? 2 : m_hooks.normalTrayIcon());
}

void TWakeupForm::tmrMonitorOnTimer()
{
    call(m_hooks.monitorOn);
    if (--m_monitorOnRepeats <= 0)
        tmrMonitorOn.stop();
}

void TWakeupForm::closeEvent(QCloseEvent* event)
{
    // The title bar's close button answers like OK; the window itself lives as long as the program.
    event->ignore();
    DismissAlarm();
}

void TWakeupForm::reject()
{
    // Escape is the Snooze button's key; without snooze it closes the alarm like OK.
    if (btnSnooze->isVisible())
        btnSnoozeClick();
    else
        DismissAlarm();
}

void TWakeupForm::ShowLateAlarms(const QStringList& alarmStrings, const QList<QTime>& dueTimes)
{
    QStringList times;
    for (const QTime& time : dueTimes) {
        const QString text = FormatShortTime(time, QLocale());
        if (!times.contains(text))
            times.append(text);
    }
    m_dueNote = FormatText(Lang().GetText(Text::DueAt), {times.join(QStringLiteral(", "))});
    ShowAlarms(alarmStrings);
}

void TWakeupForm::snoozeEnded()
{
    tmrSnooze.stop();
    // The snooze timer counts only the time the computer was awake: after a sleep, or when the clock was
    // moved, its end lies further back on the wall clock than the timer says.
    const qint64 lateMs = AppClock::Program().NowMSecs() - m_snoozeDueMs;
    const LateRing judged = JudgeLateness(lateMs, m_missedLimitMinutes);
    if (judged == LateRing::Dropped) {
        WriteLog(QStringLiteral("Snooze dropped: ended %1 s ago").arg(lateMs / 1000));
        ResetSnooze();
        return;
    }
    if (judged == LateRing::Late) {
        const QTime due = QDateTime::fromMSecsSinceEpoch(m_snoozeDueMs, Qt::LocalTime).time();
        m_dueNote = FormatText(Lang().GetText(Text::DueAt), {FormatShortTime(due, QLocale())});
    }
    ShowAlarms(m_alarmStrings);
}

void TWakeupForm::CheckSnoozeClock()
{
    if (tmrSnooze.isActive() && AppClock::Program().NowMSecs() >= m_snoozeDueMs)
        snoozeEnded();
}
