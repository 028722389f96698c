#pragma once

#include "ui/MgForm.h"

#include <QDateTime>
#include <QLocale>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>

class QAction;
class QLabel;
class QMenu;
class QToolButton;
class TAppIni;

/**
 * The small borderless clock that floats above other windows, without a taskbar entry. Dragging it
 * anywhere moves it, the corner grip resizes it, a click opens the main window (or stops a ringing
 * alarm, or its blinking). Its place, size and stay-on-top choice are saved a second after the last
 * change and when it is destroyed.
 *
 * The text: the long time alone while the window is lower than 50 pixels, else three lines: the
 * long time, the day's name and the short date. The font is fitted to the widest and tallest of
 * these texts, so the clock never jumps in size as the seconds or days change.
 */
class TFloatingForm final : public QWidget, public TMgForm
{
    Q_OBJECT

public:
    static constexpr int kMinWidth = 30;
    static constexpr int kMinHeight = 20;
    static constexpr int kSmallHeight = 50; // below it the clock shows one line
    static constexpr int kMinFontPoints = 4;
    static constexpr int kBlinkMs = 500;
    static constexpr int kSaveDelayMs = 1000;
    static constexpr int kSnapDistance = 10; // pixels within which an edge sticks to the screen's edge

    TFloatingForm(TMgLang& lang, TAppIni& ini, QWidget* parent = nullptr);
    ~TFloatingForm() override;

    /** Restores the saved placement and stay-on-top choice; call once before the first show. */
    void LoadSettings();
    /** Writes placement and FloatingOnTop now. */
    void SaveSettings();

    /** The clock text for now, composed as the window's height calls for; call it every second. */
    void ShowTime(const QDateTime& now);
    /** Any other text; a resize does not replace it. */
    void SetTimeText(const QString& text);
    /** The text ShowTime shows: one line when small, else time, day name and date. */
    static QString ClockText(const QDateTime& now, const QLocale& locale, bool small);
    /** The locale's long time format without the time zone, which would only widen the clock. */
    static QString ClockTimeFormat(const QLocale& locale);

    /** Blinking while an alarm rings: on starts it, off stops it. */
    void SetHighlight(bool on);
    bool Highlighting() const { return m_highlighting; }
    /** The highlight colours show now (the blink's "on" half). */
    bool HighlightPhase() const { return m_highlighting && m_blinkCounter % 2 == 1; }

    /** btnAlarm, which opens the next alarm in the editor: shown when there is one, hint as its tooltip. */
    void SetAlarmIndicator(bool visible, const QString& hint);
    /** Re-measures the texts the font is fitted to; call when the locale's formats may have changed. */
    void PrepareSamples();
    QString WidthSample() const { return m_widthSample; }
    QString HeightSample() const { return m_heightSample; }

    void SetStayOnTop(bool on);
    bool StayOnTop() const { return m_stayOnTop; }
    /** Asked on a click: whether an alarm rings, so the click stops it instead of opening the main window. */
    void SetRingingQuery(std::function<bool()> isRinging) { m_isRinging = std::move(isRinging); }
    /** Lower than kSmallHeight: one line of text. */
    bool IsSmall() const { return height() < kSmallHeight; }

    /** Where a window at frame would stand once its edges near the work area's edges stick to them. */
    static QPoint SnappedPosition(const QRect& frame, const QRect& workArea, int distance = kSnapDistance);

    QLabel* lblTime;
    QLabel* imgGrip;
    QToolButton* btnAlarm;
    QTimer tmrSave;
    QTimer tmrHighlight;
    QMenu* pmMain;
    QAction* pmiStayOnTop;
    QAction* pmiClose;

signals:
    void openMainWindowRequested();
    /** Clicked while an alarm rings: the notification window should dismiss it. */
    void stopRingingRequested();
    /** btnAlarm: open the first of the next alarms in the editor. */
    void editNextAlarmRequested();
    /** Closed from its own menu: the main window's menu item should follow. */
    void closedByUser();

protected:
    void DoLanguageChanged() override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Press {
        QPoint cursor; // global position at the press
        QPoint origin; // window position (drag) or size (grip) at the press
    };

    void FormClick();
    void applyStayOnTop();
    /** The clock's text in the theme's colour for the current palette. */
    void applyThemeText();
    void FitFont();
    void tmrSaveTimer();
    void tmrHighlightTimer();
    void pmiCloseClick();
    void layoutChildren();
    QPoint defaultPlace() const;
    void refreshText();
    bool imgGripMouse(QEvent* event);

    TAppIni& m_ini;
    std::function<bool()> m_isRinging;
    std::optional<Press> m_drag;
    std::optional<Press> m_grip;
    bool m_pressed = false; // left button held on the window
    bool m_moved = false;   // the current press is no click: the window moved, or it is a double click's second
    bool m_stayOnTop = true;
    bool m_blocked = false; // a modal dialog is open
    bool m_highlighting = false;
    int m_blinkCounter = 0;    // counts down once per blink step; odd shows the highlight colours
    bool m_showsClock = false; // the text comes from ShowTime, so a resize recomposes it
    QString m_widthSample;
    QString m_heightSample;
};
