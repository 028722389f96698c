#pragma once

#include "core/mglib/MgLanguages.h"

#include <QDateTime>
#include <QKeySequence>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QTime>

#include <memory>
#include <utility>

class QAbstractButton;
class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QMenu;
class QWidget;
class TAppIni;
class TMgLang;

/**
 * The base of every window. A window class derives from its Qt window class first and from TMgForm
 * second, and is made with CreateForm, which calls DoLanguageChanged once the whole object exists
 * (a call from this constructor would only reach the base):
 *
 *     class TMainForm final : public QMainWindow, public TMgForm {
 *     public:
 *         TMainForm(TMgLang& lang) : TMgForm(this, lang) {}
 *     protected:
 *         void DoLanguageChanged() override {
 *             TMgForm::DoLanguageChanged();
 *             TranslateAction(Lang(), actAdd, Text::Add);
 *         }
 *     };
 *     auto mainForm = CreateForm<TMainForm>(lang);
 *
 * ApplyLanguage calls DoLanguageChanged again on every living TMgForm of that language object.
 */
class TMgForm
{
public:
    /** self is the window itself; only its address is kept here, so the Qt base need not be built yet. */
    TMgForm(QWidget* self, TMgLang& lang);
    virtual ~TMgForm();
    TMgForm(const TMgForm&) = delete;
    TMgForm& operator=(const TMgForm&) = delete;

    QWidget* FormWidget() const { return m_self; }
    TMgLang& Lang() const { return m_lang; }

protected:
    /** Sets every text of the window for the current language. Overrides call this base first. */
    virtual void DoLanguageChanged();

private:
    template <class Form, class... Args> friend std::unique_ptr<Form> CreateForm(Args&&... args);
    friend void ApplyLanguage(TMgLang& lang);

    QWidget* m_self;
    TMgLang& m_lang;
};

/** Constructs a window and then translates it, so it never shows untranslated. */
template <class Form, class... Args> std::unique_ptr<Form> CreateForm(Args&&... args)
{
    auto form = std::make_unique<Form>(std::forward<Args>(args)...);
    static_cast<TMgForm&>(*form).DoLanguageChanged();
    return form;
}

/**
 * After a language was loaded: refreshes NoneText, then re-translates and repaints every open window
 * that belongs to lang. A window that throws while translating is left as it is.
 */
void ApplyLanguage(TMgLang& lang);

// Translators: each sets one control's text from a numbered string.

/** Only when the language has the key: the caption, and the tooltip shows the new caption. */
void TranslateAction(const TMgLang& lang, QAction* action, LangText text);
/** Menu entry's caption; the current caption stays when the language lacks the key. */
void TranslateMenuItem(const TMgLang& lang, QAction* item, LangText text);
/** A submenu's title, likewise. */
void TranslateMenuItem(const TMgLang& lang, QMenu* menu, LangText text);
void TranslateButton(const TMgLang& lang, QAbstractButton* button, LangText text);
void TranslateLabel(const TMgLang& lang, QLabel* label, LangText text);
void TranslateCheckBox(const TMgLang& lang, QCheckBox* checkBox, LangText text);
/** Only when the language has the key: the title, framed by a space on each side. */
void TranslateGroupBox(const TMgLang& lang, QGroupBox* groupBox, LangText text);

// Texts for the keyboard and for screen readers.

/** A caption as a tooltip or a screen reader says it: without its mnemonic marker ("&&" is a real "&"). */
QString WithoutMnemonic(const QString& caption);
/**
 * caption with a mnemonic on its first letter or digit that is not in taken, unless it has one already;
 * the letter chosen (lower case) is added to taken.
 */
QString WithMnemonic(const QString& caption, QString& taken);
/** "Key: command", as a control's accessible description names a key and what it does. */
QString KeyCommandText(const QKeySequence& key, const QString& command);

// Window placement, stored in Data.ini under the window's class name followed by "Top", "Left",
// "Height", "Width" and "State" (TMainFormTop, TFloatingFormLeft, ...). The class name is the one
// Q_OBJECT gives the window class. Positions are those of the outer frame, sizes those of the
// window's inside, so what is saved is restored unchanged. (Wayland does not let a program place its
// windows; there the stored position is kept but the compositor decides.)

/** Where a window goes when no placement has been stored. */
enum class FormStartPosition {
    Designed,         // where it was put before LoadFormPlacement
    CenterOfWorkArea, // centred on its monitor's work area
};

/** The class name under which the placement of form is stored. */
QString FormClassName(const QWidget* form);

/**
 * A maximized or minimized window stores only State = 1, keeping its normal placement; a normal one
 * stores its position, its size when it has a maximize button, and State = 0. Failures are ignored.
 */
void SaveFormPlacement(const QWidget* form, TAppIni& ini);
/**
 * Restores what SaveFormPlacement stored, with the current placement (centred first when asked) for
 * absent keys; a window with a maximize button becomes maximized when State is not 0. A position off
 * every monitor is left for KeepOnScreen to correct.
 */
void LoadFormPlacement(QWidget* form, const TAppIni& ini, FormStartPosition start = FormStartPosition::Designed);
/** Centres the window on the work area of its monitor. */
void CenterOnWorkArea(QWidget* form);
/**
 * Pulls a normal window back inside the work area of its monitor; a larger window aligns to the left and
 * top edges. Before its first show the title bar and borders it will get are counted too.
 */
void KeepOnScreen(QWidget* form);
/** The window's outer frame; before the window manager framed it, the frame it is expected to get. */
QRect ExpectedFrameGeometry(const QWidget* form);

/** Work area (the monitor's space without panels) of the monitor holding most of the window, or the nearest one. */
QRect FormWorkArea(const QWidget* form);
/** Top-left corner that centres a window of size on workArea, halves rounded toward zero. */
QPoint CenteredPosition(const QRect& workArea, const QSize& size);
/** Top-left corner that brings frame inside workArea: right and bottom edges first, then left and top. */
QPoint KeptOnScreenPosition(const QRect& frame, const QRect& workArea);
/** Whether the window's frame offers a maximize button. */
bool HasMaximizeButton(const QWidget* form);

// Clock readers.

/** The current local time of day, seconds and milliseconds 0. */
QTime CurrentHourMinute();
