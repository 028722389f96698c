#include "ui/AlarmForm.h"

#include "core/mglib/MgLib.h"
#include "ui/Icons.h"
#include "ui/MessageBoxes.h"
#include "ui/WakeCheck.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace {

constexpr int kClientWidth = 394;
constexpr int kMemoWidth = 361;
constexpr int kMemoHeight = 49;
constexpr int kTimeComboWidth = 58; // room for two digits or a designator beside the drop-down arrow
constexpr int kSoundComboWidth = 249;
constexpr int kVolumeWidth = 150;

const QColor kLinkColour(0, 0, 255);
const QColor kLinkHoverColour(128, 0, 0);

QString object(const char* name)
{
    return QString::fromLatin1(name);
}

template <class Widget> Widget* named(Widget* widget, const char* name)
{
    widget->setObjectName(object(name));
    return widget;
}

void call(const std::function<void()>& hook)
{
    if (hook)
        hook();
}

// Qt numbers weekdays from Monday = 1; the alarm record from Sunday = 1.
int qtDayOfWeek(int sundayFirstDay)
{
    return sundayFirstDay == 1 ? 7 : sundayFirstDay - 1;
}

QString linkStyle(const QColor& colour)
{
    return QStringLiteral("QLabel { color: %1; text-decoration: underline; }").arg(colour.name());
}

// The per-alarm snooze lengths the editor offers after the global one; a length set elsewhere is added.
constexpr int kSnoozeLengthChoices[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 15, 20, 30};
constexpr int kDefaultSnoozeMinutes = 9;

QString minutesText(const TMgLang& lang, int minutes)
{
    if (minutes == 1)
        return lang.GetText(Text::EditorOneMinute);
    // Some languages give 2-4 (and 22-24, ...) a form of their own; the others translate both texts alike.
    const int lastTwo = minutes % 100;
    const int last = minutes % 10;
    const bool few = last >= 2 && last <= 4 && (lastTwo < 12 || lastTwo > 14);
    return FormatText(lang.GetText(few ? Text::EditorMinutesCountFew : Text::EditorMinutesCount),
                      {QString::number(minutes)});
}

QString rampText(const TMgLang& lang, int seconds)
{
    if (seconds <= 0)
        return lang.GetText(Text::RampOff);
    if (seconds % 60 != 0)
        return FormatText(lang.GetText(Text::RampSecondsCount), {QString::number(seconds)});
    return minutesText(lang, seconds / 60);
}

} // namespace

// ---- locale and sound helpers ----

EditorTimeFormat EditorTimeFormat::FromLocale(const QLocale& locale)
{
    EditorTimeFormat format;
    const QString shortFormat = LocaleTimeFormat(locale, QLocale::ShortFormat);
    if (shortFormat.contains(QLatin1String("hh")) || shortFormat.contains(QLatin1String("HH")))
        format.hourFormat = QStringLiteral("hh");
    const TimeDesignator designator = FindTimeDesignator(shortFormat);
    if (!designator.TwelveHour())
        return format;
    const QString token = designator.token;
    const QString am = locale.toString(QTime(10, 0), token);
    const QString pm = locale.toString(QTime(23, 20), token);
    if (am.isEmpty() && pm.isEmpty())
        return format;
    format.designatorFormat = token;
    format.amText = am;
    format.pmText = pm;
    return format;
}

QStringList EditorHourTexts(const QLocale& locale, const EditorTimeFormat& format)
{
    QStringList texts;
    if (!format.TwelveHour()) {
        const QString hourFormat = format.hourFormat.toUpper();
        for (int hour = 0; hour < 24; ++hour)
            texts.append(locale.toString(QTime(hour, 0), hourFormat));
        return texts;
    }
    // Qt writes a 12-hour hour only in a format that also holds the designator; the text before the
    // first blank is the hour.
    const QString withDesignator = format.hourFormat + u' ' + format.designatorFormat;
    for (int hour = 0; hour < 12; ++hour) {
        const QString text = locale.toString(QTime(hour, 0), withDesignator);
        const qsizetype blank = text.indexOf(u' ');
        texts.append(blank < 0 ? text : text.left(blank));
    }
    // A 12-hour day starts at 12 but the list reads 1 .. 12.
    texts.append(texts.takeFirst());
    return texts;
}

QStringList StockSoundNames(const QString& soundsFolder)
{
    if (soundsFolder.isEmpty())
        return {};
    // Case matters: a stock name becomes the file name + ".mp3" when it is played.
    QDir folder(soundsFolder);
    folder.setNameFilters({QStringLiteral("*.mp3")});
    folder.setFilter(QDir::Files | QDir::Hidden | QDir::System | QDir::CaseSensitive);
    folder.setSorting(QDir::Name | QDir::IgnoreCase);
    QStringList names;
    for (const QString& file : folder.entryList()) {
        const QString name = file.chopped(4);
        if (!name.isEmpty())
            names.append(name);
    }
    return names;
}

QString SoundNameForChoice(const QString& chosenPath, const QString& soundsFolder, const QStringList& stockNames)
{
    if (soundsFolder.isEmpty())
        return chosenPath;
    const QString chosen = QDir::cleanPath(QFileInfo(chosenPath).absoluteFilePath());
    const QString folder = QDir::cleanPath(QFileInfo(soundsFolder).absoluteFilePath()) + u'/';
    if (!chosen.startsWith(folder))
        return chosenPath;
    const QString fileName = chosen.mid(folder.size());
    // Only a file right in the folder whose name is "<stock name>.mp3" is that stock sound: a file in
    // a subfolder, or another format under the same name, would be played as something else.
    const QString name = fileName.section(u'.', 0, 0);
    if (fileName == name + QStringLiteral(".mp3") && stockNames.contains(name))
        return name;
    return chosenPath;
}

// ---- the dialog ----

TAlarmForm::TAlarmForm(TMgLang& lang, QWidget* parent)
    : QDialog(parent)
    , TMgForm(this, lang)
{
    setObjectName(object("AlarmForm"));
    setWindowTitle(Text::Alarm.English());
    // A fixed-size dialog: nothing to minimize or maximize, and no help button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);
    createControls();
    translateDays();
    FillTimeLists();
    applyAccessibleTexts();
}

TAlarmForm::~TAlarmForm() = default;

void TAlarmForm::createControls()
{
    gbTime = named(new QGroupBox(QStringLiteral(" Time "), this), "gbTime");
    cbHours = named(new QComboBox(gbTime), "cbHours");
    cbMinutes = named(new QComboBox(gbTime), "cbMinutes");
    cbAMPM = named(new QComboBox(gbTime), "cbAMPM");
    auto* timeRow = new QHBoxLayout(gbTime);
    for (QComboBox* combo : {cbHours, cbMinutes, cbAMPM}) {
        combo->setMinimumWidth(kTimeComboWidth);
        combo->setMaxVisibleItems(12);
        timeRow->addWidget(combo);
    }
    timeRow->addStretch();

    gbRepeat = named(new QGroupBox(QStringLiteral(" Repeat "), this), "gbRepeat");
    auto* days = new QVBoxLayout(gbRepeat);
    days->setSpacing(2);
    for (int column = 0; column < 7; ++column) {
        chkDay[column] = new QCheckBox(gbRepeat);
        chkDay[column]->setObjectName(QStringLiteral("chkDay%1").arg(column + 1));
        days->addWidget(chkDay[column]);
    }

    lblLabel = named(new QLabel(QStringLiteral("Label:"), this), "lblLabel");
    memoLabel = named(new QPlainTextEdit(this), "memoLabel");
    memoLabel->setFixedSize(kMemoWidth, kMemoHeight);
    memoLabel->setTabChangesFocus(true);
    lblLabel->setBuddy(memoLabel);
    chkShowMessage = named(new QCheckBox(QStringLiteral("Show message"), this), "chkShowMessage");

    lblSound = named(new QLabel(this), "lblSound");
    cbSound = named(new QComboBox(this), "cbSound");
    cbSound->setEditable(true);
    cbSound->setInsertPolicy(QComboBox::NoInsert);
    cbSound->setFixedWidth(kSoundComboWidth);
    lblSound->setBuddy(cbSound);
    btnPlaySound = named(new QToolButton(this), "btnPlaySound");
    btnPlaySound->setFixedSize(25, 23);
    btnPlaySound->setIconSize(QSize(11, 11));
    btnSoundFile = named(new QPushButton(QStringLiteral("Browse..."), this), "btnSoundFile");
    btnSoundFile->setAutoDefault(false);
    SetPreviewState(false);

    chkVolumeOn = named(new QCheckBox(QStringLiteral("Turn on the volume"), this), "chkVolumeOn");
    trbVolume = named(new QSlider(Qt::Horizontal, this), "trbVolume");
    trbVolume->setRange(0, 100);
    trbVolume->setTickInterval(25);
    trbVolume->setPageStep(25);
    trbVolume->setTickPosition(QSlider::NoTicks);
    trbVolume->setFixedWidth(kVolumeWidth);
    trbVolume->setEnabled(false);
    lblVolume = named(new QLabel(QStringLiteral("100%"), this), "lblVolume");
    lblVolume->setMinimumWidth(lblVolume->fontMetrics().horizontalAdvance(QStringLiteral("100%")) + 2);

    lblRamp = named(new QLabel(Text::GradualVolume.English(), this), "lblRamp");
    cbRamp = named(new QComboBox(this), "cbRamp");
    lblRamp->setBuddy(cbRamp);
    fillRampList();

    chkSoundLoop = named(new QCheckBox(QStringLiteral("Repeat sound"), this), "chkSoundLoop");
    chkSnooze = named(new QCheckBox(QStringLiteral("Snooze"), this), "chkSnooze");
    cbSnoozeLength = named(new QComboBox(this), "cbSnoozeLength");
    cbSnoozeLength->setMaxVisibleItems(14);
    fillSnoozeLengthList();
    cbSnoozeLength->setEnabled(chkSnooze->isChecked());
    chkWakeup = named(new QCheckBox(this), "chkWakeup");
    lblWakeup = named(new QLabel(QStringLiteral("Wake up computer from a sleep mode"), this), "lblWakeup");
    lblWakeup->setCursor(Qt::PointingHandCursor);
    lblWakeup->setFocusPolicy(Qt::TabFocus); // a link is a command: Tab reaches it, Enter or Space opens it
    lblWakeup->setStyleSheet(linkStyle(kLinkColour));
    lblWakeup->installEventFilter(this);
    lblWakeup->hide();
    // Whether an alarm will really bring this computer out of sleep is decided by the system, not by the
    // box: the user reads it where they tick it, with the page that says what each way of waking needs.
    lblWakeStatus = named(new QLabel(this), "lblWakeStatus");
    lblWakeStatus->setWordWrap(true);
    lblWakeStatus->setMaximumWidth(kMemoWidth);
    lblWakeStatus->setTextFormat(Qt::RichText);
    // No Tab stop of its own: the keyboard has F1 for help, and screen readers read it as the window's text.
    lblWakeStatus->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    lblWakeStatus->setFocusPolicy(Qt::NoFocus);
    lblWakeStatus->hide();
    connect(lblWakeStatus, &QLabel::linkActivated, this, [this](const QString& page) {
        if (m_hooks.openLink)
            m_hooks.openLink(page);
    });
    chkMonitorOn = named(new QCheckBox(QStringLiteral("Turn on the monitor power"), this), "chkMonitorOn");

    btnDonate = named(new QPushButton(QStringLiteral("Donate"), this), "btnDonate");
    btnDonate->setAutoDefault(false);
    btnOk = named(new QPushButton(QStringLiteral("OK"), this), "btnOk");
    btnOk->setDefault(true);
    btnCancel = named(new QPushButton(QStringLiteral("Cancel"), this), "btnCancel");
    btnCancel->setAutoDefault(false);

    auto* top = new QGridLayout;
    top->addWidget(gbTime, 0, 0, Qt::AlignTop);
    top->addWidget(gbRepeat, 0, 1);
    top->setColumnStretch(1, 1);

    auto* soundRow = new QHBoxLayout;
    soundRow->addWidget(cbSound);
    soundRow->addWidget(btnPlaySound);
    soundRow->addWidget(btnSoundFile);
    soundRow->addStretch();

    // The slider and the percentage follow the check box's caption, whatever its length.
    auto* volumeRow = new QHBoxLayout;
    volumeRow->addWidget(chkVolumeOn);
    volumeRow->addWidget(trbVolume);
    volumeRow->addWidget(lblVolume);
    volumeRow->addStretch();

    auto* rampRow = new QHBoxLayout;
    rampRow->addWidget(lblRamp);
    rampRow->addWidget(cbRamp);
    rampRow->addStretch();

    auto* snoozeRow = new QHBoxLayout;
    snoozeRow->addWidget(chkSnooze);
    snoozeRow->addWidget(cbSnoozeLength);
    snoozeRow->addStretch();

    // The link stands where the check box's caption would be when wake timers are not available.
    auto* wakeRow = new QHBoxLayout;
    wakeRow->setSpacing(0);
    wakeRow->addWidget(chkWakeup);
    wakeRow->addWidget(lblWakeup);
    wakeRow->addStretch();

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnDonate);
    buttons->addStretch();
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);

    // The fields scroll when the screen is too small for them (a low screen, a large scale); the buttons
    // below them stay in view. Where they fit, the scroll area is exactly their size and shows no bars.
    auto* page = new QWidget;
    page->setObjectName(object("pgFields"));
    auto* fields = new QVBoxLayout(page);
    fields->setContentsMargins(0, 0, 0, 0);
    fields->addLayout(top);
    fields->addSpacing(4);
    fields->addWidget(lblLabel);
    fields->addWidget(memoLabel);
    fields->addWidget(chkShowMessage);
    fields->addSpacing(4);
    fields->addWidget(lblSound);
    fields->addLayout(soundRow);
    fields->addLayout(volumeRow);
    fields->addLayout(rampRow);
    fields->addWidget(chkSoundLoop);
    fields->addLayout(snoozeRow);
    fields->addLayout(wakeRow);
    fields->addWidget(lblWakeStatus);
    fields->addWidget(chkMonitorOn);
    sbxFields = named(new QScrollArea(this), "sbxFields");
    sbxFields->setFrameShape(QFrame::NoFrame);
    sbxFields->setWidgetResizable(true);
    sbxFields->setWidget(page);
    sbxFields->viewport()->setAutoFillBackground(false);
    page->setAutoFillBackground(false);

    auto* form = new QVBoxLayout(this);
    form->setSizeConstraint(QLayout::SetFixedSize);
    form->addWidget(sbxFields);
    form->addSpacing(8);
    form->addLayout(buttons);
    setMinimumWidth(kClientWidth);

    // Group by group as they stand: the time, the days, then from the label down to the buttons.
    QList<QWidget*> tabOrder{cbHours, cbMinutes, cbAMPM};
    for (QCheckBox* day : chkDay)
        tabOrder.append(day);
    tabOrder.append({memoLabel, chkShowMessage, cbSound, btnPlaySound, btnSoundFile, chkVolumeOn, trbVolume, cbRamp,
                     chkSoundLoop, chkSnooze, cbSnoozeLength, chkWakeup, lblWakeup, chkMonitorOn, btnDonate, btnOk,
                     btnCancel});
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder.at(i - 1), tabOrder.at(i));
    // A container is no stop of its own: Tab goes from field to field, and the area follows the focus.
    for (QAbstractScrollArea* area : findChildren<QScrollArea*>())
        area->setFocusPolicy(Qt::NoFocus);

    connect(cbSound, &QComboBox::editTextChanged, this, &TAlarmForm::updatePlayButton);
    connect(cbSound, &QComboBox::activated, this, &TAlarmForm::cbSoundSelected);
    connect(btnPlaySound, &QToolButton::clicked, this, &TAlarmForm::btnPlaySoundClick);
    connect(btnSoundFile, &QPushButton::clicked, this, &TAlarmForm::btnSoundFileClick);
    connect(chkVolumeOn, &QCheckBox::toggled, trbVolume, &QSlider::setEnabled);
    connect(chkSnooze, &QCheckBox::toggled, cbSnoozeLength, &QComboBox::setEnabled);
    connect(trbVolume, &QSlider::valueChanged, this, &TAlarmForm::trbVolumeChange);
    connect(trbVolume, &QSlider::sliderMoved, this, [this](int position) {
        const QPoint above = trbVolume->mapToGlobal(QPoint(trbVolume->width() * position / 100, -trbVolume->height()));
        QToolTip::showText(above, QString::number(position), trbVolume);
    });
    connect(btnDonate, &QPushButton::clicked, this, [this] { call(m_hooks.donate); });
    connect(btnOk, &QPushButton::clicked, this, &TAlarmForm::accept);
    connect(btnCancel, &QPushButton::clicked, this, &TAlarmForm::reject);
}

void TAlarmForm::SetHooks(AlarmFormHooks hooks)
{
    m_hooks = std::move(hooks);
    FillSoundList();
    updateDonateButton();
}

void TAlarmForm::SetDonateVisible(bool visible)
{
    m_donateVisible = visible;
    updateDonateButton();
}

void TAlarmForm::updateDonateButton()
{
    btnDonate->setVisible(m_donateVisible && m_hooks.donate);
}

void TAlarmForm::DoLanguageChanged()
{
    TMgForm::DoLanguageChanged();
    const TMgLang& lang = Lang();
    setWindowTitle(lang.GetText(Text::Alarm.key, windowTitle()));
    TranslateGroupBox(lang, gbTime, Text::TimeGroup);
    TranslateGroupBox(lang, gbRepeat, Text::RepeatGroup);
    TranslateLabel(lang, lblLabel, Text::LabelCaption);
    TranslateCheckBox(lang, chkShowMessage, Text::ShowMessage);
    TranslateButton(lang, btnSoundFile, Text::Browse);
    TranslateCheckBox(lang, chkVolumeOn, Text::TurnOnVolume);
    TranslateCheckBox(lang, chkSoundLoop, Text::RepeatSound);
    TranslateCheckBox(lang, chkSnooze, Text::Snooze);
    TranslateLabel(lang, lblRamp, Text::GradualVolume);
    fillRampList();
    fillSnoozeLengthList();
    TranslateLabel(lang, lblWakeup, Text::WakeUpComputer);
    m_wakeCaption = lblWakeup->text();
    updateWakeStatusText();
    TranslateCheckBox(lang, chkMonitorOn, Text::TurnOnMonitor);
    TranslateButton(lang, btnDonate, Text::Donate);
    TranslateButton(lang, btnOk, Text::Ok);
    TranslateButton(lang, btnCancel, Text::Cancel);

    lblSound->setText(lang.GetText(Text::Sound).remove(u':') + QStringLiteral(" (") + lang.GetText(Text::File) +
                      QStringLiteral(", ") + lang.GetText(Text::Directory) + QStringLiteral(", ") +
                      lang.GetText(Text::Url) + QStringLiteral("):"));
    translateAudioDialog();
    translateDays();
    updateWakeControls();
    FillSoundList();
    applyAccessibleTexts();
}

void TAlarmForm::applyAccessibleTexts()
{
    const TMgLang& lang = Lang();
    const auto text = [&lang](LangText key) { return WithoutMnemonic(lang.GetText(key)).remove(u':').trimmed(); };
    const auto caption = [](const QString& shown) { return WithoutMnemonic(shown).remove(u':').trimmed(); };
    const QString time = text(Text::TimeGroup);
    const QString alarm = text(Text::Alarm);
    const QString sound = text(Text::Sound);
    // Some desktops read a combo box's value in place of its name, and the group box's title as its label:
    // the description tells the three lists apart there.
    cbHours->setAccessibleName(text(Text::Hour));
    cbMinutes->setAccessibleName(text(Text::Minutes));
    cbAMPM->setAccessibleName(m_timeFormat.amText + QStringLiteral(" / ") + m_timeFormat.pmText);
    for (QComboBox* combo : {cbHours, cbMinutes, cbAMPM})
        combo->setAccessibleDescription(combo->accessibleName());
    gbTime->setAccessibleName(time);
    for (QCheckBox* day : chkDay) {
        day->setAccessibleName(caption(day->text()));
        day->setAccessibleDescription(text(Text::RepeatGroup));
    }
    memoLabel->setAccessibleName(caption(lblLabel->text()));
    memoLabel->setAccessibleDescription(alarm);
    cbSound->setAccessibleName(sound);
    cbSound->setAccessibleDescription(caption(lblSound->text()));
    btnPlaySound->setAccessibleName(text(Text::PlaySound));
    btnPlaySound->setAccessibleDescription(sound);
    btnSoundFile->setAccessibleName(caption(btnSoundFile->text()));
    btnSoundFile->setAccessibleDescription(text(Text::BrowseForSound));
    // The slider stands right after the check box that switches it on: that caption is its label.
    trbVolume->setAccessibleName(caption(chkVolumeOn->text()));
    trbVolume->setAccessibleDescription(sound);
    // As for the time lists: where the value stands in for the name, the description says what is chosen.
    cbRamp->setAccessibleName(caption(lblRamp->text()));
    cbRamp->setAccessibleDescription(cbRamp->accessibleName());
    cbSnoozeLength->setAccessibleName(text(Text::AlarmSnoozeLength));
    cbSnoozeLength->setAccessibleDescription(cbSnoozeLength->accessibleName());
    for (QCheckBox* box : {chkShowMessage, chkVolumeOn, chkSoundLoop, chkSnooze, chkMonitorOn}) {
        box->setAccessibleName(caption(box->text()));
        box->setAccessibleDescription(box == chkVolumeOn || box == chkSoundLoop ? sound : alarm);
    }
    // Without wake timers the box has no caption; the link beside it says what it would do.
    chkWakeup->setAccessibleName(caption(m_wakeCaption));
    chkWakeup->setAccessibleDescription(alarm);
    lblWakeup->setAccessibleName(caption(m_wakeCaption));
    lblWakeup->setAccessibleDescription(KeyCommandText(Qt::Key_Enter, text(Text::Help)));
    btnDonate->setAccessibleName(caption(btnDonate->text()));
    btnDonate->setAccessibleDescription(text(Text::OpenWebSite));
    btnOk->setAccessibleName(caption(btnOk->text()));
    btnOk->setAccessibleDescription(KeyCommandText(Qt::Key_Enter, btnOk->text()));
    btnCancel->setAccessibleName(caption(btnCancel->text()));
    btnCancel->setAccessibleDescription(KeyCommandText(Qt::Key_Escape, btnCancel->text()));
}

void TAlarmForm::translateDays()
{
    QString prefix = Lang().GetText(Text::Every);
    if (!prefix.isEmpty())
        prefix += u' ';
    const QLocale locale;
    m_weekOffset = FirstWeekdayOffset(locale);
    for (int column = 1; column <= 7; ++column) {
        const int day = DayOfColumn(column, m_weekOffset);
        chkDay[column - 1]->setText(prefix + locale.dayName(qtDayOfWeek(day), QLocale::LongFormat));
    }
}

void TAlarmForm::RefreshLocale()
{
    // The ticks stay with their days when a new first weekday moves the captions.
    std::array<bool, 7> days{};
    for (int column = 1; column <= 7; ++column)
        days[DayOfColumn(column, m_weekOffset) - 1] = chkDay[column - 1]->isChecked();
    FillTimeLists();
    translateDays();
    for (int column = 1; column <= 7; ++column)
        chkDay[column - 1]->setChecked(days[DayOfColumn(column, m_weekOffset) - 1]);
    applyAccessibleTexts();
}

void TAlarmForm::FillTimeLists()
{
    const std::optional<QTime> chosen = SelectedTime();
    const QLocale locale;
    m_timeFormat = EditorTimeFormat::FromLocale(locale);
    const bool twelve = m_timeFormat.TwelveHour();

    cbHours->clear();
    const QStringList hours = EditorHourTexts(locale, m_timeFormat);
    for (int i = 0; i < hours.size(); ++i) {
        // The hour each item stands for: 1..11 and 0 for "12" in a 12-hour list, else 0..23.
        const int hour = twelve ? (i + 1) % 12 : i;
        cbHours->addItem(hours.at(i), hour);
    }
    cbMinutes->clear();
    for (int minute = 0; minute < 60; ++minute)
        cbMinutes->addItem(locale.toString(QTime(0, minute), QStringLiteral("mm")), minute);
    cbAMPM->clear();
    cbAMPM->addItem(m_timeFormat.amText, 0);
    cbAMPM->addItem(m_timeFormat.pmText, 12);
    cbAMPM->setVisible(twelve);
    selectTime(chosen.value_or(m_alarm.Time));
}

void TAlarmForm::FillSoundList()
{
    QString text = cbSound->currentText();
    // The none entry of the previous language stands for no sound, not for a file of that name.
    if (text.isEmpty() || (cbSound->count() > 0 && text == cbSound->itemText(0)))
        text = Lang().NoneText();
    m_stockNames = StockSoundNames(m_hooks.soundsFolder);
    const QSignalBlocker blocker(cbSound);
    cbSound->clear();
    cbSound->addItem(Lang().NoneText());
    cbSound->addItems(m_stockNames);
    cbSound->setCurrentIndex(cbSound->findText(text));
    cbSound->setEditText(text);
    updatePlayButton();
}

void TAlarmForm::selectTime(QTime time)
{
    if (!time.isValid())
        time = QTime(0, 0);
    const bool twelve = m_timeFormat.TwelveHour();
    cbHours->setCurrentIndex(cbHours->findData(twelve ? time.hour() % 12 : time.hour()));
    cbMinutes->setCurrentIndex(cbMinutes->findData(time.minute()));
    cbAMPM->setCurrentIndex(twelve && time.hour() >= 12 ? 1 : 0);
}

std::optional<QTime> TAlarmForm::SelectedTime() const
{
    // The time comes from the positions in the lists, never from reading their texts back: what a
    // locale writes (digits, designators, separators) need not be something it can parse again.
    if (cbHours->currentIndex() < 0 || cbMinutes->currentIndex() < 0)
        return std::nullopt;
    int hour = cbHours->currentData().toInt();
    if (m_timeFormat.TwelveHour()) {
        if (cbAMPM->currentIndex() < 0)
            return std::nullopt;
        hour += cbAMPM->currentData().toInt();
    }
    return QTime(hour, cbMinutes->currentData().toInt());
}

void TAlarmForm::LoadFromRecord(const AlarmRecord& alarm)
{
    m_alarm = alarm;
    selectTime(alarm.Time);
    for (int column = 1; column <= 7; ++column)
        chkDay[column - 1]->setChecked(alarm.Days[DayOfColumn(column, m_weekOffset) - 1]);
    const QString label = alarm.Label.isEmpty() ? Lang().GetText(Text::Alarm) : alarm.Label;
    memoLabel->setPlainText(QString(label).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    chkShowMessage->setChecked(alarm.ShowMessage);
    {
        const QSignalBlocker blocker(cbSound);
        const QString sound = alarm.Sound.isEmpty() ? Lang().NoneText() : alarm.Sound;
        const int item = cbSound->findText(sound);
        cbSound->setCurrentIndex(item);
        cbSound->setEditText(sound);
        if (cbSound->currentText().isEmpty())
            cbSound->setCurrentIndex(0);
    }
    chkSoundLoop->setChecked(alarm.SoundLoop);
    chkSnooze->setChecked(alarm.Snooze);
    cbSnoozeLength->setEnabled(alarm.Snooze);
    // Filled afresh: a length another alarm brought into the list goes again.
    cbSnoozeLength->setCurrentIndex(-1);
    fillSnoozeLengthList();
    cbRamp->setCurrentIndex(-1);
    fillRampList();
    chkWakeup->setChecked(alarm.WakeUp);
    chkMonitorOn->setChecked(alarm.MonitorOn);
    chkVolumeOn->setChecked(alarm.VolumeOn);
    trbVolume->setEnabled(alarm.VolumeOn);
    {
        // Loading is no volume change: a sound that plays meanwhile keeps its volume.
        const QSignalBlocker blocker(trbVolume);
        trbVolume->setValue(std::clamp(alarm.Volume, 0, 100));
    }
    lblVolume->setText(QString::number(trbVolume->value()) + u'%');
    updatePlayButton();
}

AlarmRecord TAlarmForm::SaveToRecord() const
{
    AlarmRecord alarm = m_alarm;
    if (const std::optional<QTime> time = SelectedTime())
        alarm.Time = *time;
    for (int column = 1; column <= 7; ++column)
        alarm.Days[DayOfColumn(column, m_weekOffset) - 1] = chkDay[column - 1]->isChecked();
    alarm.Label = memoLabel->toPlainText().replace(u'\n', QStringLiteral("\r\n"));
    if (alarm.Label.isEmpty())
        alarm.Label = Lang().GetText(Text::Alarm);
    alarm.ShowMessage = chkShowMessage->isChecked();
    const QString sound = cbSound->currentText();
    alarm.Sound = sound == Lang().NoneText() ? QString() : sound;
    alarm.SoundLoop = chkSoundLoop->isChecked();
    alarm.Snooze = chkSnooze->isChecked();
    // Kept while Snooze is off, so that switching it on again brings the chosen length back.
    alarm.SnoozeMinutes = std::clamp(cbSnoozeLength->currentData().toInt(), 0, kMaxSnoozeMinutes);
    alarm.RampSeconds = cbRamp->currentData().toInt();
    alarm.WakeUp = chkWakeup->isChecked();
    alarm.MonitorOn = chkMonitorOn->isChecked();
    alarm.VolumeOn = chkVolumeOn->isChecked();
    alarm.Volume = trbVolume->value();
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

void TAlarmForm::accept()
{
    if (!SelectedTime()) {
        // Cannot happen with filled lists; should a locale ever leave one empty, the user is told
        // instead of the alarm silently getting another time.
        ShowWarning(this, QStringLiteral("Please choose the hour and the minutes of the alarm."));
        cbHours->setFocus();
        return;
    }
    QDialog::accept();
}

void TAlarmForm::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        updateWakeControls();
        updatePlayButton();
        // The global length may have changed in the main window since the list was filled.
        fillSnoozeLengthList();
        fitToScreen();
        if (QWidget* owner = parentWidget(); owner && owner->isVisible())
            move(owner->frameGeometry().center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
        else
            CenterOnWorkArea(this);
        KeepOnScreen(this);
        cbHours->setFocus();
    }
    QDialog::showEvent(event);
}

void TAlarmForm::fitToScreen()
{
    QWidget* owner = parentWidget();
    QScreen* where = owner && owner->isVisible() ? owner->screen() : screen();
    if (!where)
        return;
    // The window manager's frame is known once the window has been shown; until then a title bar's height
    // and a frame's width stand for it.
    QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    if (frame.isNull()) {
        const int edge = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
        frame = QMargins(edge, style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this) + edge, edge, edge);
    }
    const QSize room = where->availableGeometry().size().shrunkBy(frame);

    // The fields were shown just now, together with the dialog: their layouts have yet to count them in.
    for (QLayout* part : sbxFields->widget()->findChildren<QLayout*>())
        part->invalidate();
    const QSize natural = sbxFields->widget()->sizeHint();
    sbxFields->setFixedSize(natural);
    layout()->activate();
    const QSize around = sizeHint() - natural; // margins and the button row

    QSize shown = natural;
    if (around.height() + shown.height() > room.height()) {
        shown.setHeight(room.height() - around.height());
        shown.rwidth() += sbxFields->verticalScrollBar()->sizeHint().width();
    }
    if (around.width() + shown.width() > room.width()) {
        shown.setWidth(room.width() - around.width());
        shown.rheight() -= sbxFields->horizontalScrollBar()->sizeHint().height();
    }
    // Never less than a few lines: a screen that small gets a dialog that runs off it rather than none.
    const int lineHeight = fontMetrics().height();
    sbxFields->setFixedSize(shown.expandedTo(QSize(lineHeight * 8, lineHeight * 3)));
    layout()->activate();
}

void TAlarmForm::hideEvent(QHideEvent* event)
{
    // Only a sound this dialog started: an alarm that rings meanwhile keeps ringing.
    if (!event->spontaneous() && m_previewStarted) {
        m_previewStarted = false;
        call(m_hooks.stopSound);
    }
    QDialog::hideEvent(event);
}

void TAlarmForm::SetWakeStatus(const std::optional<WakeStatus>& status)
{
    m_wakeStatus = status;
    updateWakeStatusText();
}

void TAlarmForm::updateWakeStatusText()
{
    lblWakeStatus->setVisible(m_wakeStatus.has_value());
    if (!m_wakeStatus)
        return;
    const TMgLang& lang = Lang();
    const QString text = *m_wakeStatus ? WakeBoxText(lang, **m_wakeStatus) : lang.GetText(Text::WakeChecking);
    const QString help = WithoutMnemonic(lang.GetText(Text::Help));
    lblWakeStatus->setText(text.toHtmlEscaped() +
                           QStringLiteral(" <a href=\"waketimers.html\">%1</a>").arg(help.toHtmlEscaped()));
    lblWakeStatus->setAccessibleName(text);
    lblWakeStatus->setAccessibleDescription(help);
}

void TAlarmForm::updateWakeControls()
{
    const bool available = !m_hooks.wakeTimersAvailable || m_hooks.wakeTimersAvailable();
    chkWakeup->setEnabled(available);
    chkWakeup->setText(available ? m_wakeCaption : QString());
    lblWakeup->setVisible(!available);
}

bool TAlarmForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lblWakeup) {
        switch (event->type()) {
        case QEvent::Enter:
        case QEvent::Leave:
            m_wakeLinkHovered = event->type() == QEvent::Enter;
            lblWakeup->setStyleSheet(linkStyle(m_wakeLinkHovered ? kLinkHoverColour : kLinkColour));
            break;
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && m_hooks.openLink)
                m_hooks.openLink(QStringLiteral("waketimers.html"));
            return true;
        case QEvent::KeyPress:
            switch (static_cast<QKeyEvent*>(event)->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Space:
                if (m_hooks.openLink)
                    m_hooks.openLink(QStringLiteral("waketimers.html"));
                return true;
            default:
                break;
            }
            break;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// ---- sound ----

void TAlarmForm::SetPreviewState(bool playing)
{
    m_playGlyph = playing ? 1 : 0;
    btnPlaySound->setIcon(AppIcon(playing ? u"stop" : u"play"));
    if (!playing)
        m_previewStarted = false;
}

void TAlarmForm::updatePlayButton()
{
    const QString text = cbSound->currentText();
    btnPlaySound->setEnabled(!text.isEmpty() && text != Lang().NoneText());
}

bool TAlarmForm::isPlaying() const
{
    return m_hooks.isPlaying && m_hooks.isPlaying();
}

void TAlarmForm::cbSoundSelected()
{
    updatePlayButton();
    if (btnPlaySound->isEnabled())
        preview(true);
}

void TAlarmForm::btnPlaySoundClick()
{
    preview(false);
}

void TAlarmForm::preview(bool silent)
{
    if (isPlaying()) {
        call(m_hooks.stopSound);
        m_previewStarted = false;
        // The button toggles; a new selection replaces what plays with the newly chosen sound.
        if (!silent)
            return;
    }
    if (chkVolumeOn->isChecked()) {
        try {
            call(m_hooks.saveSystemVolume);
            if (m_hooks.setSystemVolume)
                m_hooks.setSystemVolume(trbVolume->value());
        } catch (...) {
            // A volume that cannot be set must not keep the user from hearing the sound.
        }
    }
    if (m_hooks.playSound) {
        m_hooks.playSound(cbSound->currentText(), false, !silent, !silent, silent ? 0 : cbRamp->currentData().toInt());
        m_previewStarted = true;
    }
}

QString TAlarmForm::BrowseStartFolder() const
{
    const QString text = cbSound->currentText();
    if (text.contains(u'/')) {
        const QFileInfo info(text);
        if (info.isDir())
            return info.absoluteFilePath();
        if (info.absoluteDir().exists())
            return info.absolutePath();
    }
    return m_hooks.soundsFolder;
}

void TAlarmForm::btnSoundFileClick()
{
    QFileDialog* dialog = audioDialog();
    const QString start = BrowseStartFolder();
    if (!start.isEmpty())
        dialog->setDirectory(start);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return;
    ApplySoundChoice(dialog->selectedFiles().constFirst());
}

QFileDialog* TAlarmForm::audioDialog()
{
    // Made on the first Browse: a file dialog costs more at start-up than all the rest of the editor
    // (icon theme look-ups, a file system model with its own thread and folder watch).
    if (!odAudio) {
        odAudio = named(new QFileDialog(this), "odAudio");
        odAudio->setFileMode(QFileDialog::ExistingFile);
        odAudio->setOption(QFileDialog::ReadOnly);
        odAudio->setSizeGripEnabled(true);
        translateAudioDialog();
    }
    return odAudio;
}

void TAlarmForm::translateAudioDialog()
{
    if (!odAudio)
        return;
    const TMgLang& lang = Lang();
    odAudio->setWindowTitle(lang.GetText(Text::BrowseForSound));
    QStringList audioPatterns;
    for (const QString& extension : AudioFileExtensions())
        audioPatterns.append(u'*' + extension);
    audioPatterns.append(QStringLiteral("*.m3u"));
    // Programs on Linux rarely carry an extension; scripts and application images are the usual ones.
    odAudio->setNameFilters({
        lang.GetText(Text::Mp3Files) + QStringLiteral(" (*.mp3)"),
        lang.GetText(Text::AudioFiles) + QStringLiteral(" (") + audioPatterns.join(u' ') + u')',
        lang.GetText(Text::ExecutableFiles) + QStringLiteral(" (*.sh *.AppImage *.desktop)"),
        lang.GetText(Text::AllFilesSound) + QStringLiteral(" (*)"),
    });
}

void TAlarmForm::ApplySoundChoice(const QString& chosenPath)
{
    const QString sound = SoundNameForChoice(chosenPath, m_hooks.soundsFolder, m_stockNames);
    {
        const QSignalBlocker blocker(cbSound);
        cbSound->setCurrentIndex(cbSound->findText(sound));
        cbSound->setEditText(sound);
    }
    cbSoundSelected();
}

void TAlarmForm::trbVolumeChange(int position)
{
    lblVolume->setText(QString::number(position) + u'%');
    if (isPlaying() && m_hooks.setSystemVolume) {
        try {
            m_hooks.setSystemVolume(position);
        } catch (...) {
            // The preview goes on at the volume it had.
        }
    }
}

// ---- gradual volume and snooze length ----

void TAlarmForm::fillRampList()
{
    const int chosen = cbRamp->currentIndex() < 0 ? m_alarm.RampSeconds : cbRamp->currentData().toInt();
    cbRamp->clear();
    for (const int seconds : kRampChoices)
        cbRamp->addItem(rampText(Lang(), seconds), seconds);
    const int item = cbRamp->findData(chosen);
    cbRamp->setCurrentIndex(item < 0 ? 0 : item);
}

void TAlarmForm::fillSnoozeLengthList()
{
    const int chosen =
        cbSnoozeLength->currentIndex() < 0 ? m_alarm.SnoozeMinutes : cbSnoozeLength->currentData().toInt();
    const int global = m_hooks.defaultSnoozeMinutes ? m_hooks.defaultSnoozeMinutes() : kDefaultSnoozeMinutes;
    cbSnoozeLength->clear();
    cbSnoozeLength->addItem(FormatText(Lang().GetText(Text::SnoozeLengthDefault), {QString::number(global)}), 0);
    for (const int minutes : kSnoozeLengthChoices)
        cbSnoozeLength->addItem(minutesText(Lang(), minutes), minutes);
    selectSnoozeMinutes(chosen);
}

void TAlarmForm::selectSnoozeMinutes(int minutes)
{
    if (minutes < 0 || minutes > kMaxSnoozeMinutes)
        minutes = 0;
    int item = cbSnoozeLength->findData(minutes);
    if (item < 0) {
        // A length written by another editor or a backup stays what it was unless the user picks another.
        item = 1;
        while (item < cbSnoozeLength->count() && cbSnoozeLength->itemData(item).toInt() < minutes)
            ++item;
        cbSnoozeLength->insertItem(item, minutesText(Lang(), minutes), minutes);
    }
    cbSnoozeLength->setCurrentIndex(item);
}
