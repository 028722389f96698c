#include "ui/FloatingForm.h"

#include "core/alarms/AppClock.h"
#include "core/app/AppIni.h"
#include "core/mglib/MgLib.h"
#include "ui/Icons.h"
#include "ui/Theme.h"
#include "ui/WindowPlacement.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QLinearGradient>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <QWindow>

#include <algorithm>

namespace {

constexpr int kDesignedWidth = 196;
constexpr int kDesignedHeight = 77;
constexpr int kDesignedFontPoints = 8;
constexpr int kMaxFontPoints = 500; // stops the growth on absurdly large windows
constexpr int kLabelMarginX = 12;
constexpr int kLabelMarginY = 4;
constexpr int kGripSize = 16;
constexpr int kAlarmButtonWidth = 16;
constexpr int kAlarmButtonHeight = 18;
// Starts odd and counts down every half second: about a year and a half of blinking at most.
constexpr int kBlinkStart = 100000001;

QPixmap gripPixmap()
{
    // Six dots in a triangle towards the corner, the common sign of a resize grip.
    QPixmap pixmap(kGripSize, kGripSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    for (int row = 0; row < 3; ++row) {
        for (int column = 2 - row; column < 3; ++column) {
            const QPointF centre(4.5 + column * 4, 4.5 + row * 4);
            p.setBrush(QColor(255, 255, 255));
            p.drawEllipse(centre + QPointF(0.6, 0.6), 1.2, 1.2);
            p.setBrush(QColor(120, 120, 120));
            p.drawEllipse(centre, 1.2, 1.2);
        }
    }
    return pixmap;
}

int textHeight(const QFontMetrics& metrics, const QString& text)
{
    return std::max(metrics.height(), metrics.boundingRect(text).height());
}

bool terminating()
{
    return QCoreApplication::closingDown();
}

} // namespace

TFloatingForm::TFloatingForm(TMgLang& lang, TAppIni& ini, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , TMgForm(this, lang)
    , m_ini(ini)
{
    setObjectName(QStringLiteral("FloatingForm"));
    setWindowTitle(QStringLiteral("Larkbell"));
    setMinimumSize(kMinWidth, kMinHeight);
    resize(kDesignedWidth, kDesignedHeight);
    QFont designed = font();
    designed.setPointSize(kDesignedFontPoints);
    setFont(designed);
    setMouseTracking(false);

    lblTime = new QLabel(this);
    lblTime->setObjectName(QStringLiteral("lblTime"));
    lblTime->setAlignment(Qt::AlignCenter);
    lblTime->setTextFormat(Qt::PlainText);
    // The label is part of the window's face: presses on it drag and click the window.
    lblTime->setAttribute(Qt::WA_TransparentForMouseEvents);
    applyThemeText();

    imgGrip = new QLabel(this);
    imgGrip->setObjectName(QStringLiteral("imgGrip"));
    imgGrip->setPixmap(gripPixmap());
    imgGrip->setFixedSize(kGripSize, kGripSize);
    imgGrip->setCursor(Qt::SizeFDiagCursor);
    imgGrip->installEventFilter(this);
    imgGrip->hide();

    // The next alarm's time is the alarm button's tooltip: a clock that floats beside other work is rarely
    // the active window, and a glance with the mouse should tell it all the same.
    setAttribute(Qt::WA_AlwaysShowToolTips);

    btnAlarm = new QToolButton(this);
    btnAlarm->setObjectName(QStringLiteral("btnAlarm"));
    btnAlarm->setAutoRaise(true);
    btnAlarm->setFixedSize(kAlarmButtonWidth, kAlarmButtonHeight);
    btnAlarm->setIconSize(QSize(14, 14));
    btnAlarm->setIcon(AppIcon(u"floating-alarm"));
    btnAlarm->setFocusPolicy(Qt::NoFocus);
    connect(btnAlarm, &QToolButton::clicked, this, &TFloatingForm::editNextAlarmRequested);

    tmrSave.setObjectName(QStringLiteral("tmrSave"));
    tmrSave.setInterval(kSaveDelayMs);
    tmrSave.setSingleShot(true);
    connect(&tmrSave, &QTimer::timeout, this, &TFloatingForm::tmrSaveTimer);
    tmrHighlight.setObjectName(QStringLiteral("tmrHighlight"));
    tmrHighlight.setInterval(kBlinkMs);
    connect(&tmrHighlight, &QTimer::timeout, this, &TFloatingForm::tmrHighlightTimer);

    pmMain = new QMenu(this);
    pmMain->setObjectName(QStringLiteral("pmMain"));
    pmiStayOnTop = pmMain->addAction(Text::StayOnTop.English());
    pmiStayOnTop->setObjectName(QStringLiteral("pmiStayOnTop"));
    pmiStayOnTop->setCheckable(true);
    pmiStayOnTop->setChecked(m_stayOnTop);
    connect(pmiStayOnTop, &QAction::triggered, this, [this] { SetStayOnTop(!m_stayOnTop); });
    pmiClose = pmMain->addAction(Text::Close.English());
    pmiClose->setObjectName(QStringLiteral("pmiClose"));
    connect(pmiClose, &QAction::triggered, this, &TFloatingForm::pmiCloseClick);

    layoutChildren();
    PrepareSamples();
}

TFloatingForm::~TFloatingForm()
{
    SaveSettings();
}

void TFloatingForm::DoLanguageChanged()
{
    TMgForm::DoLanguageChanged();
    TranslateMenuItem(Lang(), pmiStayOnTop, Text::StayOnTop);
    TranslateMenuItem(Lang(), pmiClose, Text::Close);
    // An image only: the name is the word for what it opens; its tooltip, the next alarm, describes it.
    btnAlarm->setAccessibleName(WithoutMnemonic(Lang().GetText(Text::Alarm)));
}

// ---- settings ----

void TFloatingForm::LoadSettings()
{
    move(defaultPlace());
    LoadFormPlacement(this, m_ini);
    SetStayOnTop(m_ini.Read(Settings::FloatingOnTop));
    // Being put in place is no change by the user.
    tmrSave.stop();
}

QPoint TFloatingForm::defaultPlace() const
{
    // Without a stored place the clock starts in the top right corner, out of the way.
    const QRect area = FormWorkArea(this);
    return {area.right() + 1 - width() - kSnapDistance * 2, area.top() + kSnapDistance * 2};
}

void TFloatingForm::SaveSettings()
{
    tmrSave.stop();
    // The clock's size is the user's choice as much as its place, so it is stored like that of a
    // window that can be maximized (which a frameless window cannot tell about itself).
    const QPoint place = PositionToStore(this, m_ini, defaultPlace());
    const FormGeometry current{place.y(), place.x(), height(), width(), false};
    m_ini.SaveFormGeometry(FormClassName(this), current, false, true);
    try {
        m_ini.Write(Settings::FloatingOnTop, m_stayOnTop);
    } catch (...) {
        // Runs from a timer and the destructor; the clock is on top again next time at worst.
    }
}

void TFloatingForm::tmrSaveTimer()
{
    SaveSettings();
}

void TFloatingForm::SetStayOnTop(bool on)
{
    m_stayOnTop = on;
    pmiStayOnTop->setChecked(on);
    applyStayOnTop();
}

void TFloatingForm::applyStayOnTop()
{
    // While a modal dialog is open the clock leaves the top layer, so that it cannot cover the dialog's
    // buttons; the user's choice comes back when the dialog closes.
    const bool on = m_stayOnTop && !m_blocked;
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == on)
        return;
    Qt::WindowFlags flags = windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, on);
    if (QWindow* window = windowHandle()) {
        // In place: setWindowFlags would hide the clock and make its window anew.
        overrideWindowFlags(flags);
        window->setFlags(flags);
    } else {
        setWindowFlags(flags);
    }
}

bool TFloatingForm::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::WindowBlocked:
    case QEvent::WindowUnblocked:
        m_blocked = event->type() == QEvent::WindowBlocked;
        applyStayOnTop();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

// ---- text and font ----

QString TFloatingForm::ClockTimeFormat(const QLocale& locale)
{
    // The zone is a run of "t" outside quotes; the brackets around it and the blanks or comma that
    // part it from the time go with it ("HH:mm:ss (t)", "h:mm:ss AP, t", "t HH:mm:ss").
    QString format = LocaleTimeFormat(locale, QLocale::LongFormat);
    bool quoted = false;
    for (qsizetype i = 0; i < format.size();) {
        if (format.at(i) == u'\'') {
            quoted = !quoted;
            ++i;
            continue;
        }
        if (quoted || format.at(i) != u't') {
            ++i;
            continue;
        }
        qsizetype start = i;
        qsizetype end = i;
        while (end < format.size() && format.at(end) == u't')
            ++end;
        if (start > 0 && end < format.size() &&
            ((format.at(start - 1) == u'(' && format.at(end) == u')') ||
             (format.at(start - 1) == u'[' && format.at(end) == u']'))) {
            --start;
            ++end;
        }
        while (start > 0 && (format.at(start - 1).isSpace() || format.at(start - 1) == u','))
            --start;
        while (end < format.size() && format.at(end).isSpace())
            ++end;
        const bool between = start > 0 && end < format.size();
        format.replace(start, end - start, between ? QStringLiteral(" ") : QString());
        i = start;
    }
    return format.trimmed();
}

QString TFloatingForm::ClockText(const QDateTime& now, const QLocale& locale, bool small)
{
    const QString time = locale.toString(now.time(), ClockTimeFormat(locale));
    if (small)
        return time;
    return time + u'\n' + locale.dayName(now.date().dayOfWeek(), QLocale::LongFormat) + u'\n' +
           locale.toString(now.date(), QLocale::ShortFormat);
}

void TFloatingForm::ShowTime(const QDateTime& now)
{
    m_showsClock = true;
    const QString text = ClockText(now, QLocale(), IsSmall());
    if (lblTime->text() != text)
        lblTime->setText(text);
}

void TFloatingForm::SetTimeText(const QString& text)
{
    m_showsClock = false;
    lblTime->setText(text);
}

void TFloatingForm::refreshText()
{
    if (m_showsClock)
        ShowTime(AppClock::Program().Now());
}

void TFloatingForm::PrepareSamples()
{
    const QLocale locale;
    const QFontMetrics metrics(lblTime->font());
    m_widthSample = locale.toString(QTime(23, 59, 59, 999), ClockTimeFormat(locale));
    m_heightSample = m_widthSample;
    QStringList candidates;
    for (int day = 1; day <= 7; ++day)
        candidates.append(locale.dayName(day, QLocale::LongFormat));
    candidates.append(locale.toString(QDate(2099, 12, 31), QLocale::ShortFormat));
    for (const QString& candidate : std::as_const(candidates)) {
        if (metrics.horizontalAdvance(candidate) > metrics.horizontalAdvance(m_widthSample))
            m_widthSample = candidate;
        if (textHeight(metrics, candidate) > textHeight(metrics, m_heightSample))
            m_heightSample = candidate;
    }
    FitFont();
}

void TFloatingForm::FitFont()
{
    const int lines = IsSmall() ? 1 : 3;
    const QSize room = lblTime->size();
    QFont font = lblTime->font();
    int points = font.pointSize() > 0 ? font.pointSize() : kDesignedFontPoints;
    const auto fits = [&](int size, bool strictly) {
        font.setPointSize(size);
        const QFontMetrics metrics(font);
        const int width = metrics.horizontalAdvance(m_widthSample);
        const int height = lines * textHeight(metrics, m_heightSample);
        return strictly ? width < room.width() && height < room.height()
                        : width <= room.width() && height <= room.height();
    };
    while (points < kMaxFontPoints && fits(points, true))
        ++points;
    while (points > kMinFontPoints && !fits(points, false))
        --points;
    font.setPointSize(points);
    lblTime->setFont(font);
}

// ---- painting ----

void TFloatingForm::paintEvent(QPaintEvent*)
{
    if (terminating())
        return;
    const TMgTheme theme = TMgTheme::ForPalette(palette());
    const TMgTheme::StateColours& colours =
        m_pressed ? theme.selected : (HighlightPhase() ? theme.ringing : theme.normal);
    QPainter p(this);
    p.fillRect(rect(), colours.line);
    const QRect inside = rect().adjusted(1, 1, -1, -1);
    QLinearGradient gradient(inside.topLeft(), inside.bottomLeft());
    gradient.setColorAt(0, colours.gradientTop);
    gradient.setColorAt(1, colours.gradientBottom);
    p.fillRect(inside, gradient);
}

void TFloatingForm::applyThemeText()
{
    // Every state of the theme takes the same text colour, so the label follows the palette only.
    const QColor wanted = TMgTheme::ForPalette(palette()).normal.text;
    if (lblTime->palette().color(QPalette::WindowText) == wanted)
        return;
    QPalette text = lblTime->palette();
    text.setColor(QPalette::WindowText, wanted);
    lblTime->setPalette(text);
}

void TFloatingForm::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyThemeText();
}

void TFloatingForm::SetHighlight(bool on)
{
    m_highlighting = on;
    if (on) {
        m_blinkCounter = kBlinkStart;
        tmrHighlight.start();
    } else {
        tmrHighlight.stop();
        m_blinkCounter = 0;
    }
    update();
}

void TFloatingForm::tmrHighlightTimer()
{
    if (--m_blinkCounter <= 0)
        SetHighlight(false);
    else
        update();
}

void TFloatingForm::SetAlarmIndicator(bool visible, const QString& hint)
{
    btnAlarm->setVisible(visible);
    btnAlarm->setToolTip(hint);
}

// ---- mouse ----

void TFloatingForm::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_drag = Press{event->globalPosition().toPoint(), pos()};
    m_pressed = true;
    m_moved = false;
    update();
}

void TFloatingForm::mouseDoubleClickEvent(QMouseEvent* event)
{
    mousePressEvent(event);
    // The first click of the pair has acted already; the second one only starts a possible drag.
    m_moved = event->button() == Qt::LeftButton;
}

void TFloatingForm::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_drag)
        return;
    if (StartSystemMove(this)) {
        // The compositor moves the clock from here on and keeps the pointer until it is let go.
        m_drag.reset();
        m_pressed = false;
        m_moved = true;
        update();
        return;
    }
    // Measured from the press rather than step by step, so a window held by an edge follows again
    // once the cursor has gone far enough, and a slow window manager cannot make it lag.
    const QPoint wanted = m_drag->origin + event->globalPosition().toPoint() - m_drag->cursor;
    const QPoint place = SnappedPosition(QRect(wanted, frameGeometry().size()), FormWorkArea(this));
    if (place != pos()) {
        move(place);
        m_moved = true;
    }
}

void TFloatingForm::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_drag) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_drag.reset();
    m_pressed = false;
    update();
    FormClick();
}

void TFloatingForm::FormClick()
{
    KeepOnScreen(this);
    if (m_moved) {
        m_moved = false;
        return;
    }
    if (m_isRinging && m_isRinging())
        emit stopRingingRequested();
    else if (m_highlighting)
        SetHighlight(false);
    else
        emit openMainWindowRequested();
}

QPoint TFloatingForm::SnappedPosition(const QRect& frame, const QRect& workArea, int distance)
{
    QPoint place = frame.topLeft();
    const int right = workArea.left() + workArea.width();
    const int bottom = workArea.top() + workArea.height();
    if (std::abs(frame.left() - workArea.left()) < distance)
        place.setX(workArea.left());
    else if (std::abs(frame.left() + frame.width() - right) < distance)
        place.setX(right - frame.width());
    if (std::abs(frame.top() - workArea.top()) < distance)
        place.setY(workArea.top());
    else if (std::abs(frame.top() + frame.height() - bottom) < distance)
        place.setY(bottom - frame.height());
    return place;
}

bool TFloatingForm::imgGripMouse(QEvent* event)
{
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint cursor = mouse->globalPosition().toPoint();
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (mouse->button() != Qt::LeftButton)
            return false;
        m_grip = Press{cursor, QPoint(width(), height())};
        return true;
    case QEvent::MouseMove:
        if (m_grip) {
            const QPoint size = m_grip->origin + cursor - m_grip->cursor;
            resize(std::max(size.x(), minimumWidth()), std::max(size.y(), minimumHeight()));
            update();
        }
        return true;
    case QEvent::MouseButtonRelease:
        if (mouse->button() != Qt::LeftButton)
            return false;
        m_grip.reset();
        return true;
    default:
        return false;
    }
}

bool TFloatingForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == imgGrip) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseMove:
        case QEvent::MouseButtonRelease:
            return imgGripMouse(event);
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TFloatingForm::enterEvent(QEnterEvent* event)
{
    imgGrip->show();
    QWidget::enterEvent(event);
}

void TFloatingForm::leaveEvent(QEvent* event)
{
    // A resize in progress keeps its grip even when the cursor runs ahead of the window.
    if (!m_grip)
        imgGrip->hide();
    QWidget::leaveEvent(event);
}

void TFloatingForm::contextMenuEvent(QContextMenuEvent* event)
{
    pmMain->popup(event->globalPos());
}

void TFloatingForm::pmiCloseClick()
{
    hide();
    emit closedByUser();
}

// ---- window ----

void TFloatingForm::layoutChildren()
{
    lblTime->setGeometry(rect().adjusted(kLabelMarginX, kLabelMarginY, -kLabelMarginX, -kLabelMarginY));
    imgGrip->move(width() - kGripSize, height() - kGripSize);
    btnAlarm->move(0, height() - kAlarmButtonHeight);
}

void TFloatingForm::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    if (!terminating())
        tmrSave.start();
}

void TFloatingForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutChildren();
    if (terminating())
        return;
    tmrSave.start();
    FitFont();
    refreshText();
}

void TFloatingForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (terminating())
        return;
    KeepOnScreen(this);
    refreshText();
    FitFont();
}

void TFloatingForm::closeEvent(QCloseEvent* event)
{
    // Closing only hides the clock; it lives as long as the program.
    if (terminating()) {
        event->accept();
        return;
    }
    event->ignore();
    hide();
}
