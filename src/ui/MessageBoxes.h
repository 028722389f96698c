#pragma once

#include <QString>

class QWidget;

// Message boxes captioned "Larkbell" that show above the program's stay-on-top windows, which get
// their stay-on-top back afterwards. parent may be null (the active window is used).

void ShowError(QWidget* parent, const QString& text);
void ShowWarning(QWidget* parent, const QString& text);
/** True only when Yes was pressed. */
bool AskYesNo(QWidget* parent, const QString& text);
/** A warning that does not wait for an answer: start-up goes on, so alarms are armed meanwhile. */
void ShowWarningNonModal(const QString& text);
