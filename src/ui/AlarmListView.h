#pragma once

#include "core/alarms/AlarmRecord.h"
#include "ui/Theme.h"

#include <QListView>
#include <QLocale>
#include <QPixmap>

#include <array>
#include <functional>

/**
 * The alarm list (lbAlarmView): owner-drawn items with the time large and bold, the repeat days, the
 * label, the sound and a check image that toggles the alarm. Items are parsed from their AlarmString
 * when painted; the view keeps no copy of the alarms. Hovering repaints only the two items concerned.
 */
class TAlarmListView final : public QListView
{
    Q_OBJECT

public:
    explicit TAlarmListView(QWidget* parent = nullptr);

    /** Two-line items (time over days, label over sound) or 24-pixel single-line items. */
    void SetSingleLine(bool singleLine);
    bool IsSingleLine() const { return m_singleLine; }
    /** Texts and formats that come from the locale and the language. */
    void SetLocaleTexts(const QLocale& locale, const DayTexts& dayTexts);
    /** Marks the alarms that ask to wake the computer when it cannot be woken; an empty text marks none. */
    void SetWakeMark(const QString& text);
    bool WakeMarkShown(const QString& alarmString) const;
    /** What an item says about a skipped occurrence ("skips Tue, 8 Dec"), empty for none. */
    void SetSkipNote(std::function<QString(const QString& alarmString)> note);
    /** The word that marks a missed one-time alarm, in the current language. */
    void SetMissedMark(const QString& mark);

    int HoverIndex() const { return m_hoverIndex; }
    int CheckLeft() const { return m_singleLine ? 6 : 20; }
    int LabelLeft() const { return m_singleLine ? 220 : 160; }
    int ItemHeight() const;
    /** The check image's rectangle within an item's rectangle. */
    QRect CheckRect(const QRect& itemRect) const;
    /** Whether the cursor (read now, not from an event) is over the check image of row. */
    bool IsCursorOverCheck(int row) const;
    /** The time text without its AM/PM designator, and the designator ("" in 24-hour locales). */
    std::pair<QString, QString> SplitTime(QTime time) const;

    /** The selected row, the one the commands act on; -1 when nothing is highlighted. */
    int CurrentRow() const;
    /** Selects row and makes it current; an invalid row leaves nothing selected. */
    void SetCurrentRow(int row);

signals:
    void editRequested();
    void enableRequested();
    void addRequested();
    void deleteRequested();
    /** The context menu is wanted at a global position; the item under it is already selected. */
    void contextMenuWanted(const QPoint& globalPos);
    /** The mouse moved over the list; the window refreshes its command states. */
    void hovered();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    friend class AlarmItemDelegate;

    void redrawItem(int row);
    /** The check image under the cursor was pressed: select its item and toggle it. */
    bool toggleCheckUnderCursor();
    void paintItem(QPainter& p, const QRect& rect, const QString& alarmString, bool selected, bool hovered,
                   bool checkHot) const;
    /** The check image of index (0..3, as CheckImage), drawn once per scale factor. */
    const QPixmap& checkImage(int index) const;

    /** The colours for the list's current palette. */
    const TMgTheme& theme() const;

    mutable TMgTheme m_theme;
    mutable qint64 m_themePalette = -1; // cache key of the palette m_theme and m_checkImages were made for
    bool m_singleLine = false;
    int m_hoverIndex = -1;
    QLocale m_locale;
    DayTexts m_dayTexts;
    QString m_wakeMark;   // why the mark is there, as a tooltip would say it; empty: no mark
    QString m_missedMark; // empty: the English word
    std::function<QString(const QString&)> m_skipNote;
    mutable std::array<QPixmap, 4> m_checkImages;
    mutable qreal m_checkImageRatio = 0; // the scale factor m_checkImages were drawn for
};
