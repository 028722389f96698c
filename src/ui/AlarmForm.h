#pragma once

#include "AlarmRecord.h"
#include "MgForm.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QTimeEdit;

/** The modal editor of one alarm. Execute fills the controls from alarm and, on OK, writes them back. */
class TAlarmForm final : public QDialog, public TMgForm
{
    Q_OBJECT

public:
    explicit TAlarmForm(TMgLang& lang, QWidget* parent = nullptr);

    /** Shows the editor modally; on OK alarm holds the edited values with Enabled set. */
    bool Execute(AlarmRecord& alarm);
    void SetDonateVisible(bool visible) { m_donateVisible = visible; }
    /** The locale's time format or first weekday may have changed. */
    void RefreshLocale() {}

    void LoadFromRecord(const AlarmRecord& alarm);
    AlarmRecord SaveToRecord() const;

protected:
    void DoLanguageChanged() override;

private:
    QTimeEdit* m_time;
    QCheckBox* m_days[7];
    QPlainTextEdit* memoLabel;
    QLineEdit* cbSound;
    AlarmRecord m_alarm;
    bool m_donateVisible = true;
};
