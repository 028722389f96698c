#include "TestSupport.h"
#include "core/app/AppIni.h"
#include "core/mglib/MgLanguages.h"
#include "ui/MgForm.h"

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <stdexcept>

namespace {

const QByteArray kBom = QByteArrayLiteral("\xEF\xBB\xBF");

QByteArray languageFile(const QByteArray& displayName, int languageId, const QByteArray& body)
{
    return kBom + "; test language\r\n1000=" + displayName + "\r\n1001=" + QByteArray::number(languageId) + "\r\n" +
           body;
}

QRect workArea()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

} // namespace

// A main window as the program builds them: design-time English texts, translated by number.
class TPlacementMainForm final : public QMainWindow, public TMgForm
{
    Q_OBJECT

public:
    explicit TPlacementMainForm(TMgLang& lang)
        : TMgForm(this, lang)
    {
        actAdd = new QAction(QStringLiteral("Add"), this);
        actAdd->setToolTip(QStringLiteral("Add"));
        miOptions = menuBar()->addMenu(QStringLiteral("Options"));
        miStayOnTop = miOptions->addAction(QStringLiteral("Stay on top"));
        lblNext = new QLabel(QStringLiteral("Next 3 Alarms:"), this);
    }

    int languageChanges = 0;
    QAction* actAdd;
    QMenu* miOptions;
    QAction* miStayOnTop;
    QLabel* lblNext;

protected:
    void DoLanguageChanged() override
    {
        TMgForm::DoLanguageChanged();
        ++languageChanges;
        TranslateAction(Lang(), actAdd, Text::Add);
        TranslateMenuItem(Lang(), miOptions, Text::Options);
        TranslateMenuItem(Lang(), miStayOnTop, Text::StayOnTop);
        lblNext->setText(FormatText(Lang().GetText(Text::NextAlarms), {QStringLiteral("3")}));
    }
};

class TPlacementDialogForm final : public QDialog, public TMgForm
{
    Q_OBJECT

public:
    explicit TPlacementDialogForm(TMgLang& lang)
        : TMgForm(this, lang)
    {
        gbTime = new QGroupBox(QStringLiteral(" Time "), this);
        btnOk = new QPushButton(QStringLiteral("OK"), this);
        chkSoundLoop = new QCheckBox(QStringLiteral("Repeat sound"), this);
        lblLabel = new QLabel(QStringLiteral("Label:"), this);
    }

    bool failOnLanguageChange = false;
    QGroupBox* gbTime;
    QPushButton* btnOk;
    QCheckBox* chkSoundLoop;
    QLabel* lblLabel;

protected:
    void DoLanguageChanged() override
    {
        TMgForm::DoLanguageChanged();
        if (failOnLanguageChange)
            throw std::runtime_error("translation failed");
        TranslateGroupBox(Lang(), gbTime, Text::TimeGroup);
        TranslateButton(Lang(), btnOk, Text::Ok);
        TranslateCheckBox(Lang(), chkSoundLoop, Text::RepeatSound);
        TranslateLabel(Lang(), lblLabel, Text::LabelCaption);
    }
};

class TestMgForm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void normalPlacementRoundTrip();
    void maximizedSaveKeepsTheNormalPlacement();
    void minimizedWindowStoresOnlyItsState();
    void windowWithoutMaximizeButtonKeepsItsSize();
    void absentPlacementCentresWhenAsked();
    void positionOffEveryMonitorIsLeftToKeepOnScreen();

    void keepOnScreen_data();
    void keepOnScreen();
    void keptOnScreenPosition_data();
    void keptOnScreenPosition();
    void keepOnScreenLeavesMaximizedWindows();
    void keepOnScreenCountsTheFrameBeforeTheFirstShow_data();
    void keepOnScreenCountsTheFrameBeforeTheFirstShow();
    void centeredPosition_data();
    void centeredPosition();
    void centerOnWorkArea();

    void formIsTranslatedWhenCreated();
    void languageSwitchRetranslatesEveryOpenForm();
    void failingFormDoesNotStopTheOthers();
    void missingKeysLeaveControlsUntouched();
    void doubleHashShowsALineBreak();
    void japaneseReachesEveryForm();

    void clockReadersDropSeconds();

private:
    void writeLanguage(const QString& name, const QByteArray& bytes);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TAppIni> m_ini;
};

void TestMgForm::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_ini = std::make_unique<TAppIni>(m_dir->path(), m_dir->filePath(QStringLiteral("Sounds")));
    m_ini->SetFileName(m_dir->filePath(QStringLiteral("Data.ini")));
    QDir(m_dir->path()).mkdir(QStringLiteral("Langs"));
}

void TestMgForm::cleanup()
{
    m_ini.reset();
    m_dir.reset();
}

void TestMgForm::writeLanguage(const QString& name, const QByteArray& bytes)
{
    WriteFileBytes(m_dir->filePath(QStringLiteral("Langs/") + name + QStringLiteral(".txt")), bytes);
}

void TestMgForm::normalPlacementRoundTrip()
{
    TMgLang lang(m_dir->filePath(QStringLiteral("Langs")), 1033);
    const QRect area = workArea();
    {
        auto form = CreateForm<TPlacementMainForm>(lang);
        form->move(area.left() + 120, area.top() + 90);
        form->resize(400, 300);
        form->show();
        SaveFormPlacement(form.get(), *m_ini);
    }
    QCOMPARE(m_ini->ReadInteger(QStringLiteral("TPlacementMainFormLeft"), -1), area.left() + 120);
    QCOMPARE(m_ini->ReadInteger(QStringLiteral("TPlacementMainFormTop"), -1), area.top() + 90);
    QCOMPARE(m_ini->ReadInteger(QStringLiteral("TPlacementMainFormWidth"), -1), 400);
    QCOMPARE(m_ini->ReadInteger(QStringLiteral("TPlacementMainFormHeight"), -1), 300);
    QCOMPARE(m_ini->ReadInteger(QStringLiteral("TPlacementMainFormState"), -1), 0);

    auto reopened = CreateForm<TPlacementMainForm>(lang);
    reopened->resize(200, 100);
    LoadFormPlacement(reopened.get(), *m_ini);
    reopened->show();
    QCOMPARE(reopened->pos(), QPoint(area.left() + 120, area.top() + 90));
    QCOMPARE(reopened->size(), QSize(400, 300));
    QVERIFY(!reopened->isMaximized());
}

void TestMgForm::maximizedSaveKeepsTheNormalPlacement()
{
    TMgLang lang(m_dir->filePath(QStringLiteral("Langs")), 1033);
    {
        auto form = CreateForm<TPlacementMainForm>(lang);
        form->move(130, 70);
        form->resize(420, 310);
        form->show();
        SaveFormPlacement(form.get(), *m_ini);
        form->showMaximized();
        QVERIFY(form->isMaximized());
        SaveFormPlacement(form.get(), *m_ini);
    }
    QCOMPARE(m_ini->ReadInteger(QStringLiteral("TPlacementMainFormState"), -1), 1);
    QCOMPARE(m_ini->ReadInteger(QStringLiteral("TPlacementMainFormLeft"), -1), 130);
    QCOMPARE(m_ini->ReadInteger(QStringLiteral("TPlacementMainFormWidth"), -1), 420);

    auto reopened = CreateForm<TPlacementMainForm>(lang);
    LoadFormPlacement(reopened.get(), *m_ini);
    reopened->show();
    QVERIFY(reopened->isMaximized());
    // Restoring it brings back the bounds of the last normal save.
    reopened->showNormal();
    QCOMPARE(reopened->pos(), QPoint(130, 70));
    QCOMPARE(reopened->size(), QSize(420, 310));
}

void TestMgForm::minimizedWindowStoresOnlyItsState()
{
    TMgLang lang(m_dir->filePath(QStringLiteral("Langs")), 1033);
    auto form = CreateForm<TPlacementMainForm>(lang);
    form->move(40, 30);
    form->show();
    form->showMinimized();
    SaveFormPlacement(form.get(), *m_ini);
    QCOMPARE(m_ini->ReadInteger(QStringLiteral("TPlacementMainFormState"), -1), 1);
    QCOMPARE(m_ini->ReadInteger(QStringLiteral("TPlacementMainFormLeft"), -1), -1);
}

void TestMgForm::windowWithoutMaximizeButtonKeepsItsSize()
{
    TMgLang lang(m_dir->filePath(QStringLiteral("Langs")), 1033);
    {
        auto dialog = CreateForm<TPlacementDialogForm>(lang);
        QVERIFY(!HasMaximizeButton(dialog.get()));
        dialog->move(60, 50);
        dialog->resize(300, 200);
        SaveFormPlacement(dialog.get(), *m_ini);
    }
    QCOMPARE(m_ini->ReadInteger(QStringLiteral("TPlacementDialogFormLeft"), -1), 60);
    QCOMPARE(m_ini->ReadInteger(QStringLiteral("TPlacementDialogFormWidth"), -1), -1);
    QCOMPARE(m_ini->ReadInteger(QStringLiteral("TPlacementDialogFormState"), -1), 0);

    // A State of 1 does not maximize a window that offers no maximize button.
    m_ini->WriteInteger(QStringLiteral("TPlacementDialogFormState"), 1);
    auto reopened = CreateForm<TPlacementDialogForm>(lang);
    reopened->resize(250, 150);
    LoadFormPlacement(reopened.get(), *m_ini);
    QCOMPARE(reopened->pos(), QPoint(60, 50));
    QCOMPARE(reopened->size(), QSize(250, 150));
    QVERIFY(!(reopened->windowState() & Qt::WindowMaximized));
}

void TestMgForm::absentPlacementCentresWhenAsked()
{
    TMgLang lang(m_dir->filePath(QStringLiteral("Langs")), 1033);
    const QRect area = workArea();
    auto centred = CreateForm<TPlacementMainForm>(lang);
    centred->move(area.topLeft());
    centred->resize(301, 201);
    LoadFormPlacement(centred.get(), *m_ini, FormStartPosition::CenterOfWorkArea);
    QCOMPARE(centred->pos(), CenteredPosition(area, centred->frameGeometry().size()));
    QCOMPARE(centred->size(), QSize(301, 201));

    auto designed = CreateForm<TPlacementDialogForm>(lang);
    designed->move(area.left() + 7, area.top() + 9);
    LoadFormPlacement(designed.get(), *m_ini);
    QCOMPARE(designed->pos(), QPoint(area.left() + 7, area.top() + 9));
}

void TestMgForm::positionOffEveryMonitorIsLeftToKeepOnScreen()
{
    TMgLang lang(m_dir->filePath(QStringLiteral("Langs")), 1033);
    const QRect area = workArea();
    m_ini->WriteInteger(QStringLiteral("TPlacementMainFormLeft"), area.right() + 5000);
    m_ini->WriteInteger(QStringLiteral("TPlacementMainFormTop"), area.bottom() + 5000);
    m_ini->WriteInteger(QStringLiteral("TPlacementMainFormWidth"), 300);
    m_ini->WriteInteger(QStringLiteral("TPlacementMainFormHeight"), 200);
    auto form = CreateForm<TPlacementMainForm>(lang);
    LoadFormPlacement(form.get(), *m_ini);
    QCOMPARE(form->pos(), QPoint(area.right() + 5000, area.bottom() + 5000));
    KeepOnScreen(form.get());
    QCOMPARE(ExpectedFrameGeometry(form.get()).bottomRight(), area.bottomRight());
}

void TestMgForm::keepOnScreen_data()
{
    // Offsets from the work area's edges; the window is 300 x 200.
    QTest::addColumn<QPoint>("start");    // relative to the work area's top-left corner
    QTest::addColumn<QPoint>("expected"); // likewise; (-1, -1) stands for "flush with right and bottom"
    QTest::newRow("off the left edge") << QPoint(-120, 40) << QPoint(0, 40);
    QTest::newRow("off the top edge") << QPoint(50, -80) << QPoint(50, 0);
    QTest::newRow("off the right edge") << QPoint(100000, 40) << QPoint(-1, 40);
    QTest::newRow("off the bottom edge") << QPoint(50, 100000) << QPoint(50, -1);
    QTest::newRow("off the top-left corner") << QPoint(-500, -500) << QPoint(0, 0);
    QTest::newRow("off the bottom-right corner") << QPoint(100000, 100000) << QPoint(-1, -1);
    QTest::newRow("inside stays where it is") << QPoint(10, 20) << QPoint(10, 20);
}

void TestMgForm::keepOnScreen()
{
    QFETCH(QPoint, start);
    QFETCH(QPoint, expected);
    TMgLang lang(m_dir->filePath(QStringLiteral("Langs")), 1033);
    const QRect area = workArea();
    auto form = CreateForm<TPlacementMainForm>(lang);
    form->resize(300, 200);
    form->move(area.topLeft() + start);
    form->show();
    const QSize frame = form->frameGeometry().size();

    KeepOnScreen(form.get());

    const QPoint place = form->frameGeometry().topLeft();
    QCOMPARE(place.x(), expected.x() == -1 ? area.left() + area.width() - frame.width() : area.left() + expected.x());
    QCOMPARE(place.y(), expected.y() == -1 ? area.top() + area.height() - frame.height() : area.top() + expected.y());
    QVERIFY(area.contains(form->frameGeometry()));
}

void TestMgForm::keptOnScreenPosition_data()
{
    // A work area that leaves a 40-pixel panel on the left and 30 at the top of a 1920 x 1080 monitor.
    const QRect area(40, 30, 1880, 1050);
    QTest::addColumn<QRect>("workArea");
    QTest::addColumn<QRect>("frame");
    QTest::addColumn<QPoint>("expected");
    QTest::newRow("under the left panel") << area << QRect(0, 100, 400, 300) << QPoint(40, 100);
    QTest::newRow("under the top panel") << area << QRect(500, 10, 400, 300) << QPoint(500, 30);
    QTest::newRow("over the right edge") << area << QRect(1700, 100, 400, 300) << QPoint(1520, 100);
    QTest::newRow("over the bottom edge") << area << QRect(500, 900, 400, 300) << QPoint(500, 780);
    QTest::newRow("exactly filling the work area") << area << QRect(40, 30, 1880, 1050) << QPoint(40, 30);
    QTest::newRow("wider and taller than the work area aligns left and top")
        << area << QRect(900, 600, 2000, 1200) << QPoint(40, 30);
    QTest::newRow("inside is untouched") << area << QRect(600, 400, 400, 300) << QPoint(600, 400);
}

void TestMgForm::keptOnScreenPosition()
{
    QFETCH(QRect, workArea);
    QFETCH(QRect, frame);
    QFETCH(QPoint, expected);
    QCOMPARE(KeptOnScreenPosition(frame, workArea), expected);
}

void TestMgForm::keepOnScreenLeavesMaximizedWindows()
{
    TMgLang lang(m_dir->filePath(QStringLiteral("Langs")), 1033);
    auto form = CreateForm<TPlacementMainForm>(lang);
    form->move(-3000, -3000);
    form->setWindowState(Qt::WindowMaximized);
    const QPoint before = form->pos();
    KeepOnScreen(form.get());
    QCOMPARE(form->pos(), before);
}

void TestMgForm::keepOnScreenCountsTheFrameBeforeTheFirstShow_data()
{
    QTest::addColumn<bool>("framedBefore"); // whether another window was framed already
    QTest::newRow("another window is framed") << true;
    QTest::newRow("the first window of the program") << false;
}

void TestMgForm::keepOnScreenCountsTheFrameBeforeTheFirstShow()
{
    QFETCH(bool, framedBefore);
    TMgLang lang(m_dir->filePath(QStringLiteral("Langs")), 1033);
    const QRect area = workArea();
    std::unique_ptr<TPlacementMainForm> other;
    if (framedBefore) {
        other = CreateForm<TPlacementMainForm>(lang);
        other->resize(200, 100);
        other->move(area.topLeft());
        other->show();
        QVERIFY(QTest::qWaitForWindowExposed(other.get()));
        QVERIFY(other->frameGeometry() != other->geometry());
    }
    // Restored below the work area, kept on screen before it is shown, as at start-up.
    auto form = CreateForm<TPlacementMainForm>(lang);
    form->resize(300, 200);
    form->move(area.left() + 50, area.bottom() + 400);
    KeepOnScreen(form.get());
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    const QRect frame = form->frameGeometry();
    QVERIFY(frame != form->geometry());
    QVERIFY2(area.contains(frame),
             qPrintable(QStringLiteral("frame bottom %1, work area bottom %2").arg(frame.bottom()).arg(area.bottom())));
    if (framedBefore)
        QCOMPARE(frame.bottom(), area.bottom());
}

void TestMgForm::centeredPosition_data()
{
    QTest::addColumn<QRect>("workArea");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("expected");
    QTest::newRow("even margins") << QRect(0, 0, 800, 600) << QSize(400, 200) << QPoint(200, 200);
    QTest::newRow("odd margins round toward zero") << QRect(0, 0, 800, 600) << QSize(401, 203) << QPoint(199, 198);
    QTest::newRow("a work area beside panels") << QRect(40, 30, 1880, 1050) << QSize(400, 300) << QPoint(780, 405);
    QTest::newRow("larger than the work area overhangs evenly")
        << QRect(0, 0, 800, 600) << QSize(1000, 700) << QPoint(-100, -50);
    QTest::newRow("negative odd halves round toward zero too")
        << QRect(0, 0, 800, 600) << QSize(803, 603) << QPoint(-1, -1);
}

void TestMgForm::centeredPosition()
{
    QFETCH(QRect, workArea);
    QFETCH(QSize, size);
    QFETCH(QPoint, expected);
    QCOMPARE(CenteredPosition(workArea, size), expected);
}

void TestMgForm::centerOnWorkArea()
{
    TMgLang lang(m_dir->filePath(QStringLiteral("Langs")), 1033);
    const QRect area = workArea();
    auto form = CreateForm<TPlacementDialogForm>(lang);
    form->resize(333, 111);
    form->move(area.topLeft() + QPoint(5, 5));
    form->show();
    CenterOnWorkArea(form.get());
    const QRect frame = form->frameGeometry();
    QCOMPARE(frame.left() - area.left(), (area.width() - frame.width()) / 2);
    QCOMPARE(frame.top() - area.top(), (area.height() - frame.height()) / 2);
}

void TestMgForm::formIsTranslatedWhenCreated()
{
    writeLanguage(QStringLiteral("de"), languageFile("Deutsch", 7, "0001=Hinzufügen\r\n0039=Nächste %1 Wecker:\r\n"));
    TMgLang lang(m_dir->filePath(QStringLiteral("Langs")), 1031);
    lang.LoadStartupLanguage(lang.CurrentLanguageId());

    auto form = CreateForm<TPlacementMainForm>(lang);
    QCOMPARE(form->languageChanges, 1);
    QCOMPARE(form->actAdd->text(), QStringLiteral("Hinzufügen"));
    QCOMPARE(form->lblNext->text(), QStringLiteral("Nächste 3 Wecker:"));
}

void TestMgForm::languageSwitchRetranslatesEveryOpenForm()
{
    writeLanguage(QStringLiteral("en"), languageFile("English", 9,
                                                     "0001=Add\r\n0015=OK\r\n0026=Time\r\n0033=Repeat sound\r\n"
                                                     "0023=Label:\r\n0059=Stay on top\r\n0104=Options\r\n"));
    writeLanguage(QStringLiteral("ru"), languageFile("Русский", 25,
                                                     "0001=&Добавить\r\n0015=Готово\r\n0026=Время\r\n"
                                                     "0033=Повторять звук\r\n0023=Подпись:\r\n"
                                                     "0059=Поверх всех окон\r\n0104=Параметры\r\n"
                                                     "0039=Следующие будильники (%1):\r\n"));
    TMgLang lang(m_dir->filePath(QStringLiteral("Langs")), 1033);
    lang.LoadStartupLanguage(lang.CurrentLanguageId());
    auto mainForm = CreateForm<TPlacementMainForm>(lang);
    auto dialog = CreateForm<TPlacementDialogForm>(lang);
    auto hiddenDialog = CreateForm<TPlacementDialogForm>(lang);
    mainForm->show();
    dialog->show();
    QCOMPARE(mainForm->actAdd->text(), QStringLiteral("Add"));
    QCOMPARE(dialog->gbTime->title(), QStringLiteral(" Time "));

    lang.ChooseLanguage(1049);
    ApplyLanguage(lang);

    QCOMPARE(lang.CurrentLanguageId(), 25);
    QCOMPARE(lang.NoneText(), QStringLiteral("(None)")); // key 14 is not in this file
    QCOMPARE(mainForm->languageChanges, 2);
    QCOMPARE(mainForm->actAdd->text(), QStringLiteral("&Добавить"));
    QCOMPARE(mainForm->actAdd->toolTip(), QStringLiteral("Добавить"));
    QCOMPARE(mainForm->miOptions->title(), QStringLiteral("Параметры"));
    QCOMPARE(mainForm->miStayOnTop->text(), QStringLiteral("Поверх всех окон"));
    QCOMPARE(mainForm->lblNext->text(), QStringLiteral("Следующие будильники (3):"));
    for (TPlacementDialogForm* form : {dialog.get(), hiddenDialog.get()}) {
        QCOMPARE(form->gbTime->title(), QStringLiteral(" Время "));
        QCOMPARE(form->btnOk->text(), QStringLiteral("Готово"));
        QCOMPARE(form->chkSoundLoop->text(), QStringLiteral("Повторять звук"));
        QCOMPARE(form->lblLabel->text(), QStringLiteral("Подпись:"));
    }

    // Back to English from the menu, and a form closed in between is simply not there any more.
    hiddenDialog.reset();
    lang.ChooseLanguage(9);
    ApplyLanguage(lang);
    QCOMPARE(mainForm->actAdd->text(), QStringLiteral("Add"));
    QCOMPARE(mainForm->lblNext->text(), QStringLiteral("Next 3 Alarms:"));
    QCOMPARE(dialog->gbTime->title(), QStringLiteral(" Time "));
    QCOMPARE(dialog->btnOk->text(), QStringLiteral("OK"));
}

void TestMgForm::failingFormDoesNotStopTheOthers()
{
    writeLanguage(QStringLiteral("de"), languageFile("Deutsch", 7, "0001=Hinzufügen\r\n0015=Fertig\r\n"));
    TMgLang lang(m_dir->filePath(QStringLiteral("Langs")), 1033);
    auto failing = CreateForm<TPlacementDialogForm>(lang);
    auto mainForm = CreateForm<TPlacementMainForm>(lang);
    auto dialog = CreateForm<TPlacementDialogForm>(lang);
    failing->failOnLanguageChange = true;

    lang.ChooseLanguage(7);
    ApplyLanguage(lang);
    QCOMPARE(mainForm->actAdd->text(), QStringLiteral("Hinzufügen"));
    QCOMPARE(dialog->btnOk->text(), QStringLiteral("Fertig"));
    QCOMPARE(failing->btnOk->text(), QStringLiteral("OK"));
}

void TestMgForm::missingKeysLeaveControlsUntouched()
{
    // No en.txt, so nothing fills in keys 1 and 26.
    writeLanguage(QStringLiteral("xx"), languageFile("Sparse", 50, "0015=Fine\r\n"));
    TMgLang lang(m_dir->filePath(QStringLiteral("Langs")), 1033);
    auto mainForm = CreateForm<TPlacementMainForm>(lang);
    auto dialog = CreateForm<TPlacementDialogForm>(lang);
    mainForm->actAdd->setText(QStringLiteral("Add one"));
    mainForm->actAdd->setToolTip(QStringLiteral("Adds an alarm"));
    dialog->gbTime->setTitle(QStringLiteral("When"));

    lang.ChooseLanguage(50);
    ApplyLanguage(lang);
    QCOMPARE(dialog->btnOk->text(), QStringLiteral("Fine"));
    QCOMPARE(mainForm->actAdd->text(), QStringLiteral("Add one"));
    QCOMPARE(mainForm->actAdd->toolTip(), QStringLiteral("Adds an alarm"));
    QCOMPARE(dialog->gbTime->title(), QStringLiteral("When"));
}

void TestMgForm::doubleHashShowsALineBreak()
{
    writeLanguage(QStringLiteral("de"), languageFile("Deutsch", 7, "0023=Bezeichnung##des Weckers:\r\n"));
    TMgLang lang(m_dir->filePath(QStringLiteral("Langs")), 1031);
    lang.LoadStartupLanguage(lang.CurrentLanguageId());
    auto dialog = CreateForm<TPlacementDialogForm>(lang);
    dialog->show();
    QCOMPARE(dialog->lblLabel->text(), QStringLiteral("Bezeichnung\r\ndes Weckers:"));
    // Two lines of text stand taller than one.
    QLabel oneLine(QStringLiteral("Bezeichnung"));
    QVERIFY(dialog->lblLabel->sizeHint().height() > oneLine.sizeHint().height());
}

void TestMgForm::japaneseReachesEveryForm()
{
    writeLanguage(QStringLiteral("ja"), languageFile("日本語", 1041, "0001=追加\r\n"));
    TMgLang lang(m_dir->filePath(QStringLiteral("Langs")), 1033);
    auto mainForm = CreateForm<TPlacementMainForm>(lang);
    auto dialog = CreateForm<TPlacementDialogForm>(lang);

    lang.ChooseLanguage(1041);
    ApplyLanguage(lang);
    QCOMPARE(mainForm->actAdd->text(), QStringLiteral("追加"));
}

void TestMgForm::clockReadersDropSeconds()
{
    const QTime time = CurrentHourMinute();
    QCOMPARE(time.second(), 0);
    QCOMPARE(time.msec(), 0);
    QVERIFY(qAbs(QTime(time).secsTo(QTime::currentTime())) < 61 ||
            qAbs(QTime(time).secsTo(QTime::currentTime())) > 86300); // across midnight
}

QTEST_MAIN(TestMgForm)
#include "tst_mgform.moc"
