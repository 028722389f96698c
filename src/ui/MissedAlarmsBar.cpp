#include "ui/MissedAlarmsBar.h"

#include "core/alarms/MissedAlarms.h"
#include "core/mglib/MgLanguages.h"
#include "ui/MgForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace {

QString word(const TMgLang* lang, LangText text)
{
    return lang ? lang->GetText(text) : text.English();
}

} // namespace

TMissedAlarmsBar::TMissedAlarmsBar(QWidget* parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("barMissedAlarms"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    QPalette tinted = palette();
    tinted.setColor(QPalette::Window, QColor(0xFF, 0xF1, 0xC8));
    tinted.setColor(QPalette::WindowText, QColor(0x20, 0x20, 0x20));
    setPalette(tinted);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 4, 4, 4);
    lblMissed = new QLabel(this);
    lblMissed->setObjectName(QStringLiteral("lblMissed"));
    lblMissed->setWordWrap(true);
    lblMissed->setTextFormat(Qt::PlainText);
    lblMissed->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(lblMissed, 1);
    btnGotIt = new QPushButton(Text::MissedGotIt.English(), this);
    btnGotIt->setObjectName(QStringLiteral("btnGotIt"));
    btnGotIt->setAutoDefault(false);
    layout->addWidget(btnGotIt, 0, Qt::AlignTop);
    connect(btnGotIt, &QPushButton::clicked, this, &TMissedAlarmsBar::acknowledged);
    setVisible(false);
    refresh();
}

void TMissedAlarmsBar::SetEntries(const QStringList& entries)
{
    const bool hadFocus = btnGotIt->hasFocus();
    m_entries = entries;
    refresh();
    setVisible(!m_entries.isEmpty());
    // The button the keyboard was on goes with the bar: the focus moves on rather than to nowhere.
    if (hadFocus && m_entries.isEmpty())
        focusNextPrevChild(true);
}

void TMissedAlarmsBar::ApplyLanguage(const TMgLang& lang)
{
    m_lang = &lang;
    btnGotIt->setText(lang.GetText(Text::MissedGotIt));
    refresh();
}

QString TMissedAlarmsBar::Text() const
{
    return lblMissed->text();
}

void TMissedAlarmsBar::refresh()
{
    const QLocale locale;
    QStringList lines;
    const QString format = word(m_lang, Text::MissedWhileOff);
    for (const QString& entry : m_entries.mid(0, kShownLines))
        lines.append(FormatText(format, {DescribeMissedEntry(entry, locale)}));
    if (m_entries.size() > kShownLines)
        lines.append(FormatText(word(m_lang, Text::MissedMore), {QString::number(m_entries.size() - kShownLines)}));
    lblMissed->setText(lines.join(u'\n'));
    const QString name = word(m_lang, Text::MissedBarName);
    setAccessibleName(name);
    setAccessibleDescription(lblMissed->text());
    btnGotIt->setAccessibleName(WithoutMnemonic(btnGotIt->text()));
    btnGotIt->setAccessibleDescription(name);
}
