#include "AlarmForm.h"

#include "MgLib.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimeEdit>

TAlarmForm::TAlarmForm(TMgLang& lang, QWidget* parent)
    : QDialog(parent)
    , TMgForm(this, lang)
{
    setObjectName(QStringLiteral("AlarmForm"));
    auto* form = new QFormLayout(this);
    m_time = new QTimeEdit(this);
    m_time->setDisplayFormat(QLocale().timeFormat(QLocale::ShortFormat));
    form->addRow(m_time);
    auto* days = new QHBoxLayout;
    const int offset = FirstWeekdayOffset(QLocale());
    for (int column = 1; column <= 7; ++column) {
        const int day = DayOfColumn(column, offset);
        m_days[day - 1] = new QCheckBox(QLocale().dayName(day == 1 ? 7 : day - 1, QLocale::ShortFormat), this);
        days->addWidget(m_days[day - 1]);
    }
    form->addRow(days);
    memoLabel = new QPlainTextEdit(this);
    form->addRow(memoLabel);
    cbSound = new QLineEdit(this);
    form->addRow(cbSound);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

void TAlarmForm::DoLanguageChanged()
{
    TMgForm::DoLanguageChanged();
    setWindowTitle(Lang().GetText(Text::Alarm));
}

void TAlarmForm::LoadFromRecord(const AlarmRecord& alarm)
{
    m_alarm = alarm;
    m_time->setTime(alarm.Time);
    for (int i = 0; i < 7; ++i)
        m_days[i]->setChecked(alarm.Days[i]);
    memoLabel->setPlainText(alarm.Label);
    cbSound->setText(alarm.Sound);
}

AlarmRecord TAlarmForm::SaveToRecord() const
{
    AlarmRecord alarm = m_alarm;
    alarm.Time = QTime(m_time->time().hour(), m_time->time().minute());
    for (int i = 0; i < 7; ++i)
        alarm.Days[i] = m_days[i]->isChecked();
    alarm.Label = memoLabel->toPlainText().replace(u'\n', QStringLiteral("\r\n"));
    if (alarm.Label.isEmpty())
        alarm.Label = Lang().GetText(Text::Alarm);
    alarm.Sound = cbSound->text().trimmed();
    return alarm;
}

bool TAlarmForm::Execute(AlarmRecord& alarm)
{
    LoadFromRecord(alarm);
    if (exec() != QDialog::Accepted)
        return false;
    alarm = SaveToRecord();
    alarm.Enabled = true;
    return true;
}
