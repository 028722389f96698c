#include "ui/AlarmListView.h"

#include "core/mglib/MgLanguages.h"
#include "core/mglib/MgLib.h"
#include "ui/CheckImages.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStyledItemDelegate>

namespace {

QFont sizedFont(const QFont& base, int pointSize, bool bold)
{
    QFont font = base;
    font.setPointSize(pointSize);
    font.setBold(bold);
    return font;
}

// The designator's position in a Qt time format: after the time, separated by white space.
bool designatorFollowsTime(const QString& format)
{
    // Plain string tests: a regular expression here costs the idle program half a megabyte of JIT pages.
    for (QStringView designator : {u"AP", u"ap", u"A", u"a"}) {
        if (format.endsWith(designator) && format.size() > designator.size() &&
            format.at(format.size() - designator.size() - 1).isSpace())
            return true;
    }
    return false;
}

constexpr int kWakeMarkSize = 12;

// A crescent moon struck through: the alarm will not bring the computer out of sleep.
void paintWakeMark(QPainter& p, const QRectF& box, const QColor& colour)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath moon;
    moon.addEllipse(box.adjusted(1, 1, -1, -1));
    QPainterPath bite;
    bite.addEllipse(box.adjusted(1, 1, -1, -1).translated(box.width() * 0.35, -box.height() * 0.2));
    p.fillPath(moon.subtracted(bite), colour);
    p.setPen(QPen(colour, 1.5));
    p.drawLine(box.bottomLeft(), box.topRight());
    p.restore();
}

} // namespace

class AlarmItemDelegate final : public QStyledItemDelegate
{
public:
    explicit AlarmItemDelegate(TAlarmListView& view)
        : QStyledItemDelegate(&view)
        , m_view(view)
    {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const int row = index.row();
        const bool hovered = row == m_view.m_hoverIndex;
        m_view.paintItem(*painter, option.rect, index.data().toString(), option.state & QStyle::State_Selected, hovered,
                         hovered && m_view.IsCursorOverCheck(row));
        if (option.state & QStyle::State_HasFocus && m_view.hasFocus()) {
            painter->setPen(QPen(m_view.palette().color(QPalette::Highlight), 1, Qt::DotLine));
            painter->setBrush(Qt::NoBrush);
            painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
        }
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override
    {
        // No width of its own: the list stretches every item to its viewport, which narrows when the
        // vertical scroll bar appears. A width taken from the viewport before that would stick out.
        return {1, m_view.ItemHeight()};
    }

private:
    TAlarmListView& m_view;
};

TAlarmListView::TAlarmListView(QWidget* parent)
    : QListView(parent)
    , m_locale(QLocale::system())
{
    setObjectName(QStringLiteral("lbAlarmView"));
    setItemDelegate(new AlarmItemDelegate(*this));
    setUniformItemSizes(true);
    setMouseTracking(true);
    setFrameShape(QFrame::NoFrame);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setContextMenuPolicy(Qt::DefaultContextMenu);
}

void TAlarmListView::SetWakeMark(const QString& text)
{
    m_wakeMark = text;
    viewport()->update();
}

bool TAlarmListView::WakeMarkShown(const QString& alarmString) const
{
    return !m_wakeMark.isEmpty() && AlarmField::Enabled(alarmString) && AlarmField::WakeUp(alarmString);
}

void TAlarmListView::SetSingleLine(bool singleLine)
{
    m_singleLine = singleLine;
    // Uniform sizes are cached by the view; a relayout picks up the new height.
    scheduleDelayedItemsLayout();
    viewport()->update();
}

void TAlarmListView::SetLocaleTexts(const QLocale& locale, const DayTexts& dayTexts)
{
    m_locale = locale;
    m_dayTexts = dayTexts;
    viewport()->update();
}

void TAlarmListView::SetSkipNote(std::function<QString(const QString& alarmString)> note)
{
    m_skipNote = std::move(note);
    viewport()->update();
}

void TAlarmListView::SetMissedMark(const QString& mark)
{
    m_missedMark = mark;
    viewport()->update();
}

int TAlarmListView::ItemHeight() const
{
    if (m_singleLine)
        return 24;
    const QFontMetrics metrics(sizedFont(font(), theme().fontSize, false));
    return qMax(55, 3 * metrics.boundingRect(QStringLiteral("Wq")).height() + 7);
}

QRect TAlarmListView::CheckRect(const QRect& itemRect) const
{
    return {itemRect.left() + CheckLeft(), (itemRect.top() + itemRect.bottom() + 1 - kCheckImageHeight) / 2,
            kCheckImageWidth, kCheckImageHeight};
}

bool TAlarmListView::IsCursorOverCheck(int row) const
{
    if (!model() || row < 0 || row >= model()->rowCount())
        return false;
    return CheckRect(visualRect(model()->index(row, 0))).contains(viewport()->mapFromGlobal(QCursor::pos()));
}

std::pair<QString, QString> TAlarmListView::SplitTime(QTime time) const
{
    const QString full = FormatShortTime(time, m_locale);
    if (!designatorFollowsTime(LocaleTimeFormat(m_locale, QLocale::ShortFormat)))
        return {full, QString()};
    const QString designator = m_locale.toString(time, QStringLiteral("AP"));
    return {full.left(full.size() - designator.size()).trimmed(), designator};
}

int TAlarmListView::CurrentRow() const
{
    if (!selectionModel())
        return -1;
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void TAlarmListView::SetCurrentRow(int row)
{
    if (!model() || row < 0 || row >= model()->rowCount()) {
        clearSelection();
        return;
    }
    setCurrentIndex(model()->index(row, 0));
}

void TAlarmListView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected)
{
    QListView::selectionChanged(selected, deselected);
    // A click on empty space or Ctrl+click takes the highlight away but leaves the current row: the
    // commands would act on an alarm that is not shown as chosen. Nothing highlighted, nothing current.
    if (selectionModel() && !selectionModel()->hasSelection() && currentIndex().isValid())
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
}

void TAlarmListView::scrollContentsBy(int dx, int dy)
{
    // Items are as wide as the list: there is nothing to the side to scroll to.
    QListView::scrollContentsBy(0, dy);
    if (dx != 0 && horizontalScrollBar()->value() != 0)
        horizontalScrollBar()->setValue(0);
}

void TAlarmListView::redrawItem(int row)
{
    if (model() && row >= 0 && row < model()->rowCount())
        viewport()->update(visualRect(model()->index(row, 0)));
}

void TAlarmListView::paintItem(QPainter& p, const QRect& rect, const QString& alarmString, bool selected, bool hovered,
                               bool checkHot) const
{
    const TMgTheme& colourSet = theme();
    p.save();
    p.translate(rect.topLeft());
    const int w = rect.width();
    const int h = rect.height();
    p.fillRect(0, 0, w, h, selected ? colourSet.selectedBackground : colourSet.background);
    const TMgTheme::StateColours& colours = selected  ? colourSet.selected
                                            : hovered ? colourSet.hovered
                                                      : colourSet.normal;

    // With a scroll bar the items get a right edge of their own.
    const bool overflow = model() && model()->rowCount() * h >= viewport()->height();
    const int inset = overflow ? 1 : 0;
    p.setPen(colours.line);
    p.drawLine(0, h - 1, w - inset, h - 1);
    if (overflow)
        p.drawLine(w - 1, h - 1, w - 1, 0);
    QLinearGradient gradient(0, 1, 0, h - 2);
    gradient.setColorAt(0, colours.gradientTop);
    gradient.setColorAt(1, colours.gradientBottom);
    p.fillRect(QRect(QPoint(1, 1), QPoint(w - 2 - inset, h - 3)), gradient);

    const AlarmRecord alarm = ParseAlarmString(alarmString);
    QRect t(QPoint(m_singleLine ? 40 : 60, 3), QPoint(w - 6, h - 3));
    const auto [timeText, designator] = SplitTime(alarm.Time);
    const QFont timeFont = sizedFont(font(), m_singleLine ? 10 : 14, true);
    const QFontMetrics timeMetrics(timeFont);
    QRect l = t;
    l.setBottom((timeMetrics.height() + t.top() + t.bottom()) / 2 - 1);
    p.setPen(colours.text);
    p.setFont(timeFont);
    p.drawText(l, Qt::AlignLeft | Qt::AlignBottom | Qt::TextSingleLine, timeText);
    l.setBottom(l.bottom() - (m_singleLine ? 1 : 2));
    if (!designator.isEmpty()) {
        l.setLeft(l.left() + timeMetrics.horizontalAdvance(timeText) + 2);
        p.setFont(sizedFont(font(), m_singleLine ? 7 : 9, true));
        p.drawText(l, Qt::AlignLeft | Qt::AlignBottom | Qt::TextSingleLine, designator);
    }

    QString days = DescribeDays(alarmString, m_dayTexts);
    const QFont daysFont = sizedFont(font(), m_singleLine ? 7 : 8, true);
    p.setFont(daysFont);
    // A one-time alarm that fell due while nothing could ring it says so where repeat days would stand,
    // in the colour of a warning.
    const bool missed = AlarmField::Missed(alarmString);
    if (missed) {
        const QString mark = m_missedMark.isEmpty() ? Text::MissedMark.English() : m_missedMark;
        days = days.isEmpty() ? mark : days + QStringLiteral(" - ") + mark;
        p.setPen(QColor(0xC0, 0x30, 0x20));
    }
    const QRect daysRect =
        m_singleLine ? QRect(QPoint(LabelLeft() - 110, l.top()), QPoint(LabelLeft(), l.bottom())) : t;
    p.drawText(daysRect, Qt::AlignLeft | Qt::AlignBottom | Qt::TextSingleLine,
               QFontMetrics(daysFont).elidedText(days, Qt::ElideRight, daysRect.width()));
    if (missed)
        p.setPen(colours.text);

    t.setLeft(LabelLeft());
    const QFont textFont = sizedFont(font(), colourSet.fontSize, false);
    const QFontMetrics textMetrics(textFont);
    // A skipped occurrence: on the free third line, or at the right end of a single line.
    const QString skipNote = m_skipNote ? m_skipNote(alarmString) : QString();
    if (!skipNote.isEmpty()) {
        p.setFont(daysFont);
        p.setPen(colourSet.soundText);
        const QFontMetrics noteMetrics(daysFont);
        if (m_singleLine) {
            const int width = qMin(noteMetrics.horizontalAdvance(skipNote), t.width() / 2);
            p.drawText(t, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine,
                       noteMetrics.elidedText(skipNote, Qt::ElideRight, width));
            t.setRight(t.right() - width - 6);
        } else {
            p.drawText(t, Qt::AlignLeft | Qt::AlignBottom | Qt::TextSingleLine,
                       noteMetrics.elidedText(skipNote, Qt::ElideRight, t.width()));
        }
        p.setPen(colours.text);
    }
    p.setFont(textFont);
    const QString label = QString(alarm.Label).replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    p.drawText(t, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
               textMetrics.elidedText(label, Qt::ElideRight, t.width()));
    if (!m_singleLine) {
        p.setPen(colourSet.soundText);
        p.drawText(t, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                   textMetrics.elidedText(alarm.Sound, Qt::ElideMiddle, t.width()));
    }

    const int image = (alarm.Enabled ? 1 : 0) + (checkHot ? 2 : 0);
    p.drawPixmap(CheckLeft(), (h - kCheckImageHeight) / 2, checkImage(image));
    if (WakeMarkShown(alarmString)) {
        const int markTop = m_singleLine ? (h - kWakeMarkSize) / 2 : h - 5 - kWakeMarkSize;
        paintWakeMark(p, QRect(w - 6 - inset - kWakeMarkSize, markTop, kWakeMarkSize, kWakeMarkSize), colours.text);
    }
    p.restore();
}

const TMgTheme& TAlarmListView::theme() const
{
    // A desktop that switches to a dark scheme changes the palette of a running program.
    const qint64 key = palette().cacheKey();
    if (key != m_themePalette) {
        m_theme = TMgTheme::ForPalette(palette());
        m_themePalette = key;
        m_checkImageRatio = 0;
    }
    return m_theme;
}

const QPixmap& TAlarmListView::checkImage(int index) const
{
    // Every visible item shows one on every paint; drawing it anew each time was a seventh of a frame.
    const TMgTheme& colours = theme();
    const qreal ratio = devicePixelRatioF();
    if (ratio != m_checkImageRatio) {
        for (int i = 0; i < int(m_checkImages.size()); ++i)
            m_checkImages[size_t(i)] = CheckImage(i, ratio, colours);
        m_checkImageRatio = ratio;
    }
    return m_checkImages[size_t(qBound(0, index, int(m_checkImages.size()) - 1))];
}

void TAlarmListView::mouseMoveEvent(QMouseEvent* event)
{
    QListView::mouseMoveEvent(event);
    const QModelIndex under = indexAt(event->position().toPoint());
    const int k = under.isValid() ? under.row() : -1;
    if (m_hoverIndex != k) {
        const int old = m_hoverIndex;
        m_hoverIndex = k;
        redrawItem(old);
        redrawItem(k);
    } else {
        redrawItem(k); // the check image follows the cursor within the item
        emit hovered();
    }
}

void TAlarmListView::leaveEvent(QEvent* event)
{
    const int old = m_hoverIndex;
    m_hoverIndex = -1;
    redrawItem(old);
    QListView::leaveEvent(event);
}

bool TAlarmListView::toggleCheckUnderCursor()
{
    if (!IsCursorOverCheck(m_hoverIndex))
        return false;
    SetCurrentRow(m_hoverIndex);
    emit enableRequested();
    return true;
}

void TAlarmListView::mousePressEvent(QMouseEvent* event)
{
    QListView::mousePressEvent(event);
    if (event->button() == Qt::LeftButton)
        toggleCheckUnderCursor();
}

void TAlarmListView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    // The second press of a double click arrives as this event, not as a press: on the check image it
    // toggles once more, as every press there does, and never edits.
    if (toggleCheckUnderCursor())
        return;
    if (indexAt(event->position().toPoint()).isValid())
        emit editRequested();
}

void TAlarmListView::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit editRequested();
        return;
    case Qt::Key_Space:
        emit enableRequested();
        return;
    case Qt::Key_Insert:
        emit addRequested();
        return;
    case Qt::Key_Delete:
        emit deleteRequested();
        return;
    default:
        QListView::keyPressEvent(event);
    }
}

void TAlarmListView::contextMenuEvent(QContextMenuEvent* event)
{
    const QModelIndex under = indexAt(event->pos());
    if (under.isValid())
        SetCurrentRow(under.row());
    emit contextMenuWanted(event->globalPos());
}

void TAlarmListView::resizeEvent(QResizeEvent* event)
{
    QListView::resizeEvent(event);
    viewport()->update();
}
