#include "ui/MgForm.h"

#include "core/alarms/AppClock.h"
#include "core/app/AppIni.h"
#include "ui/WindowPlacement.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QStyle>
#include <QWidget>

#include <algorithm>
#include <limits>
#include <vector>

namespace {

// Every living TMgForm in creation order: the windows that a language change re-translates.
std::vector<TMgForm*>& openForms()
{
    static std::vector<TMgForm*> forms;
    return forms;
}

constexpr Qt::WindowStates kNotNormal = Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen;

qint64 squaredDistance(const QRect& a, const QRect& b)
{
    const qint64 dx = std::max({qint64(0), qint64(b.left()) - a.right(), qint64(a.left()) - b.right()});
    const qint64 dy = std::max({qint64(0), qint64(b.top()) - a.bottom(), qint64(a.top()) - b.bottom()});
    return dx * dx + dy * dy;
}

QScreen* screenOfForm(const QWidget* form)
{
    const QRect frame = form->frameGeometry();
    QScreen* best = nullptr;
    qint64 bestArea = 0;
    qint64 bestDistance = std::numeric_limits<qint64>::max();
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect overlap = screen->geometry().intersected(frame);
        const qint64 area = overlap.isEmpty() ? 0 : qint64(overlap.width()) * overlap.height();
        const qint64 distance = squaredDistance(frame, screen->geometry());
        if (area > bestArea || (bestArea == 0 && area == 0 && distance < bestDistance)) {
            best = screen;
            bestArea = area;
            bestDistance = distance;
        }
    }
    return best ? best : QGuiApplication::primaryScreen();
}

} // namespace

TMgForm::TMgForm(QWidget* self, TMgLang& lang)
    : m_self(self)
    , m_lang(lang)
{
    openForms().push_back(this);
}

TMgForm::~TMgForm()
{
    auto& forms = openForms();
    forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
}

void TMgForm::DoLanguageChanged() {}

void ApplyLanguage(TMgLang& lang)
{
    lang.UpdateNoneText();
    // A copy: a window may open or close another while it translates itself.
    const std::vector<TMgForm*> forms = openForms();
    for (TMgForm* form : forms) {
        const auto& current = openForms();
        if (std::find(current.begin(), current.end(), form) == current.end() || &form->m_lang != &lang)
            continue;
        try {
            form->DoLanguageChanged();
        } catch (...) {
            // One window failing to translate must not keep the others in the old language.
        }
        form->m_self->update();
    }
}

void TranslateAction(const TMgLang& lang, QAction* action, LangText text)
{
    if (!action || !lang.HasText(text.key))
        return;
    const QString caption = lang.GetText(text.key, action->text());
    action->setText(caption);
    action->setToolTip(WithoutMnemonic(caption));
}

QString WithoutMnemonic(const QString& caption)
{
    QString text;
    text.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption.at(i) == u'&' && i + 1 < caption.size())
            ++i;
        text.append(caption.at(i));
    }
    return text;
}

QString WithMnemonic(const QString& caption, QString& taken)
{
    for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
        if (caption.at(i) != u'&')
            continue;
        if (caption.at(i + 1) != u'&') {
            taken.append(caption.at(i + 1).toLower());
            return caption;
        }
        ++i;
    }
    for (qsizetype i = 0; i < caption.size(); ++i) {
        const QChar letter = caption.at(i).toLower();
        if (letter.isLetterOrNumber() && !taken.contains(letter)) {
            taken.append(letter);
            return caption.left(i) + u'&' + caption.mid(i);
        }
    }
    return caption;
}

QString KeyCommandText(const QKeySequence& key, const QString& command)
{
    return key.toString(QKeySequence::NativeText) + QStringLiteral(": ") + WithoutMnemonic(command);
}

void TranslateMenuItem(const TMgLang& lang, QAction* item, LangText text)
{
    if (item)
        item->setText(lang.GetText(text.key, item->text()));
}

void TranslateMenuItem(const TMgLang& lang, QMenu* menu, LangText text)
{
    if (menu)
        menu->setTitle(lang.GetText(text.key, menu->title()));
}

void TranslateButton(const TMgLang& lang, QAbstractButton* button, LangText text)
{
    if (button)
        button->setText(lang.GetText(text.key, button->text()));
}

void TranslateLabel(const TMgLang& lang, QLabel* label, LangText text)
{
    if (label)
        label->setText(lang.GetText(text.key, label->text()));
}

void TranslateCheckBox(const TMgLang& lang, QCheckBox* checkBox, LangText text)
{
    if (checkBox)
        checkBox->setText(lang.GetText(text.key, checkBox->text()));
}

void TranslateGroupBox(const TMgLang& lang, QGroupBox* groupBox, LangText text)
{
    if (!groupBox || !lang.HasText(text.key))
        return;
    groupBox->setTitle(u' ' + lang.GetText(text.key, QStringLiteral("No text")) + u' ');
}

QString FormClassName(const QWidget* form)
{
    return QString::fromLatin1(form->metaObject()->className());
}

bool HasMaximizeButton(const QWidget* form)
{
    return form->windowFlags().testFlag(Qt::WindowMaximizeButtonHint);
}

void SaveFormPlacement(const QWidget* form, TAppIni& ini)
{
    if (!form)
        return;
    const QPoint place =
        PositionToStore(form, ini, CenteredPosition(FormWorkArea(form), ExpectedFrameGeometry(form).size()));
    const FormGeometry current{place.y(), place.x(), form->height(), form->width(),
                               (form->windowState() & kNotNormal) != 0};
    ini.SaveFormGeometry(FormClassName(form), current, false, HasMaximizeButton(form));
}

void LoadFormPlacement(QWidget* form, const TAppIni& ini, FormStartPosition start)
{
    if (!form)
        return;
    if (start == FormStartPosition::CenterOfWorkArea)
        CenterOnWorkArea(form);
    const bool maximized = form->isMaximized();
    const FormGeometry current{form->y(), form->x(), form->height(), form->width(), maximized};
    const FormGeometry placed = ini.RestoreFormGeometry(FormClassName(form), current, false, HasMaximizeButton(form));
    if (!maximized) {
        form->move(placed.left, placed.top);
        // A size of nothing can only come from a damaged file; the window keeps its own then.
        if (placed.width > 0 && placed.height > 0)
            form->resize(placed.width, placed.height);
    }
    Qt::WindowStates state = form->windowState() & ~(Qt::WindowMaximized | Qt::WindowMinimized);
    if (placed.maximized)
        state |= Qt::WindowMaximized;
    form->setWindowState(state);
}

void CenterOnWorkArea(QWidget* form)
{
    if (form)
        form->move(CenteredPosition(FormWorkArea(form), form->frameGeometry().size()));
}

void KeepOnScreen(QWidget* form)
{
    if (!form || (form->windowState() & kNotNormal))
        return;
    const QRect frame = ExpectedFrameGeometry(form);
    const QPoint place = KeptOnScreenPosition(frame, FormWorkArea(form));
    if (place != frame.topLeft())
        form->move(place);
}

QRect ExpectedFrameGeometry(const QWidget* form)
{
    const QRect frame = form->frameGeometry();
    const QRect inside = form->geometry();
    if (frame != inside || form->isVisible() || form->windowFlags().testFlag(Qt::FramelessWindowHint) ||
        form->windowType() == Qt::Popup || form->windowType() == Qt::ToolTip)
        return frame;
    // Not framed yet: the window manager adds its title bar and borders only when the window is first
    // shown, and a window kept on screen without them would end up that much below the work area.
    QMargins margins;
    for (QWidget* other : QApplication::topLevelWidgets()) {
        if (other != form && other->isVisible() && !other->windowFlags().testFlag(Qt::FramelessWindowHint) &&
            other->windowType() == form->windowType() && other->frameGeometry() != other->geometry()) {
            const QRect otherFrame = other->frameGeometry();
            const QRect otherInside = other->geometry();
            margins = QMargins(otherInside.left() - otherFrame.left(), otherInside.top() - otherFrame.top(),
                               otherFrame.right() - otherInside.right(), otherFrame.bottom() - otherInside.bottom());
            break;
        }
    }
    if (margins.isNull()) {
        // No framed window to learn from: the style's idea of a title bar and a frame edge.
        const int border = form->style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, form);
        margins = QMargins(border, form->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, form) + border,
                           border, border);
    }
    return QRect(frame.topLeft(), inside.size().grownBy(margins));
}

QRect FormWorkArea(const QWidget* form)
{
    QScreen* screen = form ? screenOfForm(form) : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

QPoint CenteredPosition(const QRect& workArea, const QSize& size)
{
    // Integer division truncates toward zero, so a window larger than the work area overhangs evenly.
    return {workArea.left() + (workArea.width() - size.width()) / 2,
            workArea.top() + (workArea.height() - size.height()) / 2};
}

QPoint KeptOnScreenPosition(const QRect& frame, const QRect& workArea)
{
    const int right = workArea.left() + workArea.width();
    const int bottom = workArea.top() + workArea.height();
    int left = frame.left();
    int top = frame.top();
    if (left + frame.width() > right)
        left = right - frame.width();
    if (top + frame.height() > bottom)
        top = bottom - frame.height();
    if (left < workArea.left())
        left = workArea.left();
    if (top < workArea.top())
        top = workArea.top();
    return {left, top};
}

QTime CurrentHourMinute()
{
    const QTime now = AppClock::Program().CurrentTime();
    return QTime(now.hour(), now.minute());
}
