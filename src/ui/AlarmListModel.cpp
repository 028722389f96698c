#include "ui/AlarmListModel.h"

#include "core/alarms/AlarmRecord.h"
#include "core/alarms/AlarmScheduler.h"
#include "core/alarms/AppClock.h"
#include "core/alarms/SkipNext.h"
#include "core/mglib/MgLanguages.h"
#include "core/mglib/MgLib.h"

namespace {

QString word(const TMgLang* lang, LangText text)
{
    return lang ? lang->GetText(text) : text.English();
}

// The list's own repeat texts: the language's words, the locale's day names and week order.
DayTexts dayTexts(const QLocale& locale, const TMgLang* lang)
{
    DayTexts texts;
    texts.everyDay = word(lang, Text::EveryDay);
    texts.weekdays = word(lang, Text::Weekdays);
    texts.weekends = word(lang, Text::Weekends);
    for (int day = 1; day <= 7; ++day)
        texts.shortDayNames[size_t(day - 1)] = locale.dayName(day == 1 ? 7 : day - 1, QLocale::LongFormat);
    texts.firstWeekdayOffset = FirstWeekdayOffset(locale);
    return texts;
}

} // namespace

AlarmListModel::AlarmListModel(AlarmScheduler& scheduler, QObject* parent)
    : QAbstractListModel(parent)
    , m_scheduler(scheduler)
{}

int AlarmListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_scheduler.Alarms().size());
}

QVariant AlarmListModel::data(const QModelIndex& index, int role) const
{
    const QVariant value = rowData(index, role);
    if (role != Qt::AccessibleTextRole || m_wakeNote.isEmpty() || !value.isValid())
        return value;
    const QString& alarmString = m_scheduler.Alarms().at(index.row());
    if (!AlarmField::Enabled(alarmString) || !AlarmField::WakeUp(alarmString))
        return value;
    return QString(value.toString() + QStringLiteral(", ") + m_wakeNote);
}

void AlarmListModel::SetWakeNote(const QString& note)
{
    m_wakeNote = note;
    if (rowCount() > 0)
        emit dataChanged(index(0), index(rowCount() - 1), {Qt::AccessibleTextRole});
}

QVariant AlarmListModel::rowData(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_scheduler.Alarms().size())
        return {};
    const QString& alarmString = m_scheduler.Alarms().at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return alarmString;
    case Qt::AccessibleTextRole:
        return ReadableText(alarmString, QLocale(), m_lang, m_scheduler.WallNow());
    case Qt::CheckStateRole:
        return AlarmField::Enabled(alarmString) ? Qt::Checked : Qt::Unchecked;
    default:
        return {};
    }
}

Qt::ItemFlags AlarmListModel::flags(const QModelIndex& index) const
{
    // Checkable only so that assistive technology reports the state; the view toggles it itself.
    Qt::ItemFlags flags = QAbstractListModel::flags(index);
    if (index.isValid())
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

void AlarmListModel::SetLanguage(const TMgLang* lang)
{
    m_lang = lang;
}

void AlarmListModel::Reset()
{
    beginResetModel();
    endResetModel();
}

void AlarmListModel::RowChanged(int row)
{
    const QModelIndex changed = index(row);
    emit dataChanged(changed, changed);
}

QString AlarmListModel::SkipNote(const QString& alarmString, const LocalDateTime& now, const QLocale& locale,
                                 const TMgLang* lang)
{
    if (!AlarmField::SkipDate(alarmString).isValid())
        return {};
    const AlarmRecord alarm = ParseAlarmString(alarmString);
    if (!SkipPending(alarm, now))
        return {};
    return FormatText(word(lang, Text::SkipsOn), {ShortDayText(alarm.SkipDate, locale)});
}

QString AlarmListModel::ReadableText(const QString& alarmString, const QLocale& locale, const TMgLang* lang,
                                     const std::optional<LocalDateTime>& now)
{
    const AlarmRecord alarm = ParseAlarmString(alarmString);
    QStringList parts;
    parts.append(locale.toString(alarm.Time, QLocale::ShortFormat));
    const QString days = DescribeDays(alarmString, dayTexts(locale, lang));
    if (!days.isEmpty())
        parts.append(days);
    const QString skip =
        SkipNote(alarmString, now.value_or(LocalDateTime::fromDateTime(AppClock::Program().Now())), locale, lang);
    if (!skip.isEmpty())
        parts.append(skip);
    if (alarm.Missed)
        parts.append(word(lang, Text::MissedMark));
    const QString label = QString(alarm.Label).replace(QStringLiteral("\r\n"), QStringLiteral(" ")).trimmed();
    if (!label.isEmpty())
        parts.append(label);
    const QString none = lang ? lang->NoneText() : Text::NoSound.English();
    parts.append(word(lang, Text::Sound).remove(u':').trimmed() + u' ' + (alarm.Sound.isEmpty() ? none : alarm.Sound));
    // The language files have no words for the two states; the check state carries them in the
    // reader's own language as well.
    parts.append(alarm.Enabled ? QStringLiteral("on") : QStringLiteral("off"));
    return parts.join(QStringLiteral(", "));
}
