#include "core/app/AppIni.h"
#include "core/mglib/MgLanguages.h"
#include "ui/FloatingForm.h"

#include <QAction>
#include <QDialog>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QWindow>

#include <memory>
#include <optional>

namespace {

constexpr int kSettleMs = 5000; // generous: the window system answers moves and resizes in its own time

} // namespace

class TestFloatingForm final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void pressWithoutMoveOpensTheMainWindow();
    void dragMovesWithoutOpening();
    void doubleClickOpensOnce();
    void clickWhileRingingStopsTheAlarm();
    void clickWhileBlinkingStopsTheBlinking();
    void rightButtonNeitherDragsNorClicks();
    void gripResizesDownToTheMinimum();
    void gripShowsOnlyWhileTheMouseIsOver();
    void fontNeverGoesBelowFourPoints();
    void fontGrowsToFillTheWindow_data();
    void fontGrowsToFillTheWindow();
    void lowWindowShowsOneLine();
    void clockTextLeavesOutTheTimeZone_data();
    void clockTextLeavesOutTheTimeZone();
    void samplesAreTheWidestTexts();
    void positionIsSavedAboutASecondAfterAMove();
    void destructionSavesPlacementAndStayOnTop();
    void loadRestoresPlacementAndStayOnTop();
    void stayOnTopFollowsTheMenu();
    void closeFromTheMenuHidesAndTells();
    void closeRequestOnlyHides();
    void highlightBlinksEveryHalfSecond();
    void alarmButtonAsksForTheNextAlarm();
    void alarmButtonHintShowsWhileAnotherWindowIsActive();
    void modalDialogsStandInFrontOfTheClock();
    void edgesStickToTheWorkArea_data();
    void edgesStickToTheWorkArea();

private:
    std::unique_ptr<TFloatingForm> makeForm();
    void showAt(TFloatingForm& form, QPoint place, QSize size = QSize(196, 77));

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TMgLang> m_lang;
    std::unique_ptr<TAppIni> m_ini;
};

void TestFloatingForm::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_lang = std::make_unique<TMgLang>(m_dir->filePath(QStringLiteral("Langs")), 1033);
    m_ini = std::make_unique<TAppIni>(m_dir->path(), m_dir->filePath(QStringLiteral("Sounds")));
    m_ini->SetFileName(m_dir->filePath(QStringLiteral("Data.ini")));
}

void TestFloatingForm::cleanup()
{
    QLocale::setDefault(QLocale::c());
    m_ini.reset();
    m_lang.reset();
    m_dir.reset();
}

std::unique_ptr<TFloatingForm> TestFloatingForm::makeForm()
{
    return CreateForm<TFloatingForm>(*m_lang, *m_ini);
}

void TestFloatingForm::showAt(TFloatingForm& form, QPoint place, QSize size)
{
    form.move(place);
    form.resize(size);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTRY_COMPARE_WITH_TIMEOUT(form.pos(), place, kSettleMs);
    QTRY_COMPARE_WITH_TIMEOUT(form.size(), size, kSettleMs);
}

void TestFloatingForm::pressWithoutMoveOpensTheMainWindow()
{
    const auto form = makeForm();
    showAt(*form, {200, 200});
    QSignalSpy open(form.get(), &TFloatingForm::openMainWindowRequested);
    QTest::mouseClick(form.get(), Qt::LeftButton, {}, QPoint(60, 30));
    QCOMPARE(open.size(), 1);
    QCOMPARE(form->pos(), QPoint(200, 200));
}

void TestFloatingForm::dragMovesWithoutOpening()
{
    const auto form = makeForm();
    showAt(*form, {200, 200});
    QSignalSpy open(form.get(), &TFloatingForm::openMainWindowRequested);
    QTest::mousePress(form.get(), Qt::LeftButton, {}, QPoint(60, 30));
    QTest::mouseMove(form.get(), QPoint(61, 30));
    QTRY_COMPARE_WITH_TIMEOUT(form->pos(), QPoint(201, 200), kSettleMs);
    // The cursor stays over the same spot of the window while it follows.
    QTest::mouseMove(form.get(), QPoint(60 + 40, 30 + 25));
    QTRY_COMPARE_WITH_TIMEOUT(form->pos(), QPoint(241, 225), kSettleMs);
    QTest::mouseRelease(form.get(), Qt::LeftButton, {}, QPoint(60, 30));
    QCOMPARE(open.size(), 0);

    // The next press without a move is a click again.
    QTest::mouseClick(form.get(), Qt::LeftButton, {}, QPoint(60, 30));
    QCOMPARE(open.size(), 1);
}

void TestFloatingForm::doubleClickOpensOnce()
{
    const auto form = makeForm();
    showAt(*form, {200, 200});
    QSignalSpy open(form.get(), &TFloatingForm::openMainWindowRequested);
    // What the window system sends for a double click: press, release, double click, release.
    QTest::mouseClick(form.get(), Qt::LeftButton, {}, QPoint(60, 30));
    QTest::mouseDClick(form.get(), Qt::LeftButton, {}, QPoint(60, 30));
    QTest::mouseRelease(form.get(), Qt::LeftButton, {}, QPoint(60, 30));
    QCOMPARE(open.size(), 1);
    QTest::mouseClick(form.get(), Qt::LeftButton, {}, QPoint(60, 30));
    QCOMPARE(open.size(), 2);
}

void TestFloatingForm::clickWhileRingingStopsTheAlarm()
{
    const auto form = makeForm();
    showAt(*form, {200, 200});
    bool ringing = true;
    form->SetRingingQuery([&ringing] { return ringing; });
    form->SetHighlight(true);
    QSignalSpy open(form.get(), &TFloatingForm::openMainWindowRequested);
    QSignalSpy stop(form.get(), &TFloatingForm::stopRingingRequested);
    QTest::mouseClick(form.get(), Qt::LeftButton, {}, QPoint(60, 30));
    QCOMPARE(stop.size(), 1);
    QCOMPARE(open.size(), 0);

    ringing = false;
    form->SetHighlight(false);
    QTest::mouseClick(form.get(), Qt::LeftButton, {}, QPoint(60, 30));
    QCOMPARE(stop.size(), 1);
    QCOMPARE(open.size(), 1);
}

void TestFloatingForm::clickWhileBlinkingStopsTheBlinking()
{
    const auto form = makeForm();
    showAt(*form, {200, 200});
    form->SetRingingQuery([] { return false; });
    form->SetHighlight(true);
    QVERIFY(form->tmrHighlight.isActive());
    QSignalSpy open(form.get(), &TFloatingForm::openMainWindowRequested);
    QTest::mouseClick(form.get(), Qt::LeftButton, {}, QPoint(60, 30));
    QVERIFY(!form->Highlighting());
    QVERIFY(!form->tmrHighlight.isActive());
    QCOMPARE(open.size(), 0);
}

void TestFloatingForm::rightButtonNeitherDragsNorClicks()
{
    const auto form = makeForm();
    showAt(*form, {200, 200});
    QSignalSpy open(form.get(), &TFloatingForm::openMainWindowRequested);
    QTest::mousePress(form.get(), Qt::RightButton, {}, QPoint(60, 30));
    QTest::mouseMove(form.get(), QPoint(90, 50));
    QTest::mouseRelease(form.get(), Qt::RightButton, {}, QPoint(90, 50));
    QCOMPARE(open.size(), 0);
    QCOMPARE(form->pos(), QPoint(200, 200));
}

void TestFloatingForm::gripResizesDownToTheMinimum()
{
    const auto form = makeForm();
    showAt(*form, {200, 200});
    QTest::mouseMove(form.get(), QPoint(60, 30));
    QLabel* grip = form->imgGrip;
    QCOMPARE(grip->cursor().shape(), Qt::SizeFDiagCursor);
    QTest::mousePress(grip, Qt::LeftButton, {}, QPoint(8, 8));
    QTest::mouseMove(grip, QPoint(8 + 24, 8 + 13));
    QTRY_COMPARE_WITH_TIMEOUT(form->size(), QSize(220, 90), kSettleMs);
    QCOMPARE(form->pos(), QPoint(200, 200));
    QTest::mouseRelease(grip, Qt::LeftButton, {}, QPoint(8, 8));

    QTest::mousePress(grip, Qt::LeftButton, {}, QPoint(8, 8));
    QTest::mouseMove(grip, QPoint(8 - 500, 8 - 500));
    QTRY_COMPARE_WITH_TIMEOUT(form->size(), QSize(TFloatingForm::kMinWidth, TFloatingForm::kMinHeight), kSettleMs);
    QTest::mouseRelease(grip, Qt::LeftButton, {}, QPoint(8, 8));
    QCOMPARE(form->pos(), QPoint(200, 200));
    // The grip sits in the corner of the smaller window.
    QCOMPARE(grip->geometry().bottomRight(), form->rect().bottomRight());
}

void TestFloatingForm::gripShowsOnlyWhileTheMouseIsOver()
{
    const auto form = makeForm();
    QVERIFY(form->imgGrip->isHidden());
    showAt(*form, {200, 200});
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(form.get(), &leave);
    QVERIFY(form->imgGrip->isHidden());
    QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), QPointF(210, 210));
    QCoreApplication::sendEvent(form.get(), &enter);
    QVERIFY(form->imgGrip->isVisible());
    QCoreApplication::sendEvent(form.get(), &leave);
    QVERIFY(form->imgGrip->isHidden());
}

void TestFloatingForm::fontNeverGoesBelowFourPoints()
{
    const auto form = makeForm();
    showAt(*form, {200, 200}, QSize(TFloatingForm::kMinWidth, TFloatingForm::kMinHeight));
    QVERIFY(form->IsSmall());
    QCOMPARE(form->lblTime->font().pointSize(), TFloatingForm::kMinFontPoints);
}

void TestFloatingForm::fontGrowsToFillTheWindow_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("lines");

    QTest::newRow("the designed size holds three lines") << QSize(196, 77) << 3;
    QTest::newRow("a large window holds three large lines") << QSize(420, 260) << 3;
    QTest::newRow("a low wide window holds one large line") << QSize(400, 48) << 1;
}

void TestFloatingForm::fontGrowsToFillTheWindow()
{
    QFETCH(QSize, size);
    QFETCH(int, lines);

    const auto form = makeForm();
    showAt(*form, {100, 100}, size);
    const QRect room = form->lblTime->geometry();
    QCOMPARE(room, QRect(12, 4, size.width() - 24, size.height() - 8));
    QFont font = form->lblTime->font();
    const auto needs = [&](const QFont& f) {
        const QFontMetrics metrics(f);
        const int height = std::max(metrics.height(), metrics.boundingRect(form->HeightSample()).height());
        return QSize(metrics.horizontalAdvance(form->WidthSample()), lines * height);
    };
    const QSize fitted = needs(font);
    const QString need =
        QStringLiteral("%1 pt needs %2 x %3").arg(font.pointSize()).arg(fitted.width()).arg(fitted.height());
    QVERIFY2(fitted.width() <= room.width() && fitted.height() <= room.height(), qPrintable(need));
    font.setPointSize(font.pointSize() + 1);
    const QSize bigger = needs(font);
    QVERIFY(bigger.width() >= room.width() || bigger.height() >= room.height());
    QVERIFY(font.pointSize() > TFloatingForm::kMinFontPoints + 1);
}

void TestFloatingForm::lowWindowShowsOneLine()
{
    const auto form = makeForm();
    showAt(*form, {200, 200}, QSize(196, 77));
    form->ShowTime(QDateTime(QDate(2024, 3, 5), QTime(7, 8, 9)));
    QCOMPARE(form->lblTime->text().count(u'\n'), 2);
    form->resize(196, TFloatingForm::kSmallHeight - 1);
    QTRY_VERIFY_WITH_TIMEOUT(form->IsSmall(), kSettleMs);
    QCOMPARE(form->lblTime->text().count(u'\n'), 0);
    form->resize(196, TFloatingForm::kSmallHeight);
    QTRY_VERIFY_WITH_TIMEOUT(!form->IsSmall(), kSettleMs);

    // A text of the program's own is left alone by a resize.
    form->SetTimeText(QStringLiteral("Lunch"));
    form->resize(196, 30);
    QTRY_VERIFY_WITH_TIMEOUT(form->IsSmall(), kSettleMs);
    QCOMPARE(form->lblTime->text(), QStringLiteral("Lunch"));
}

void TestFloatingForm::clockTextLeavesOutTheTimeZone_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("small");
    QTest::addColumn<QString>("tall");

    QTest::newRow("US English") << QStringLiteral("en_US") << QStringLiteral("7:08:09 PM")
                                << QStringLiteral("7:08:09 PM\nTuesday\n3/5/24");
    QTest::newRow("German") << QStringLiteral("de_DE") << QStringLiteral("19:08:09")
                            << QStringLiteral("19:08:09\nDienstag\n05.03.24");
    QTest::newRow("Chinese, whose zone comes first")
        << QStringLiteral("zh_CN") << QStringLiteral("19:08:09") << QStringLiteral("19:08:09\n星期二\n2024/3/5");
    QTest::newRow("Basque, whose zone is in brackets")
        << QStringLiteral("eu_ES") << QStringLiteral("19:08:09") << QStringLiteral("19:08:09\nasteartea\n24/3/5");
    QTest::newRow("Albanian, whose zone follows a comma")
        << QStringLiteral("sq_AL") << QStringLiteral("7:08:09 E PASDITES")
        << QStringLiteral("7:08:09 E PASDITES\ne martë\n5.3.24");
    // Qt writes the day period as "B", which it cannot format; the clock shows the afternoon marker.
    QTest::newRow("Taiwanese, whose day period comes first")
        << QStringLiteral("zh_TW") << QStringLiteral("下午7:08:09") << QStringLiteral("下午7:08:09\n星期二\n2024/3/5");
}

void TestFloatingForm::clockTextLeavesOutTheTimeZone()
{
    QFETCH(QString, locale);
    QFETCH(QString, small);
    QFETCH(QString, tall);

    const QDateTime when(QDate(2024, 3, 5), QTime(19, 8, 9));
    QCOMPARE(TFloatingForm::ClockText(when, QLocale(locale), true), small);
    QCOMPARE(TFloatingForm::ClockText(when, QLocale(locale), false), tall);
}

void TestFloatingForm::samplesAreTheWidestTexts()
{
    QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
    const auto form = makeForm();
    form->PrepareSamples();
    const QLocale locale;
    QStringList texts{locale.toString(QTime(23, 59, 59), QStringLiteral("HH:mm:ss")),
                      locale.toString(QDate(2099, 12, 31), QLocale::ShortFormat)};
    for (int day = 1; day <= 7; ++day)
        texts.append(locale.dayName(day));
    QVERIFY(texts.contains(form->WidthSample()));
    QVERIFY(texts.contains(form->HeightSample()));
    // German day names such as "Donnerstag" are longer than the time.
    QVERIFY(form->WidthSample() != texts.first());
    const QFontMetrics metrics(form->lblTime->font());
    for (const QString& text : std::as_const(texts))
        QVERIFY(metrics.horizontalAdvance(text) <= metrics.horizontalAdvance(form->WidthSample()));
}

void TestFloatingForm::positionIsSavedAboutASecondAfterAMove()
{
    const auto form = makeForm();
    form->LoadSettings();
    showAt(*form, {200, 200});
    QTRY_VERIFY_WITH_TIMEOUT(!form->tmrSave.isActive(), kSettleMs);

    QElapsedTimer clock;
    clock.start();
    QTest::mousePress(form.get(), Qt::LeftButton, {}, QPoint(60, 30));
    QTest::mouseMove(form.get(), QPoint(60 + 50, 30 + 20));
    QTest::mouseRelease(form.get(), Qt::LeftButton, {}, QPoint(60, 30));
    QTRY_COMPARE_WITH_TIMEOUT(form->pos(), QPoint(250, 220), kSettleMs);
    QVERIFY(form->tmrSave.isActive());
    QTRY_COMPARE_WITH_TIMEOUT(m_ini->ReadInteger(QStringLiteral("TFloatingFormLeft"), -1), 250, kSettleMs);
    QCOMPARE(m_ini->ReadInteger(QStringLiteral("TFloatingFormTop"), -1), 220);
    // A coarse timer may fire up to five per cent early.
    QVERIFY2(clock.elapsed() >= 950, qPrintable(QString::number(clock.elapsed())));
}

void TestFloatingForm::destructionSavesPlacementAndStayOnTop()
{
    {
        const auto form = makeForm();
        form->LoadSettings();
        showAt(*form, {310, 140}, QSize(150, 60));
        form->SetStayOnTop(false);
    }
    QCOMPARE(m_ini->ReadInteger(QStringLiteral("TFloatingFormLeft"), -1), 310);
    QCOMPARE(m_ini->ReadInteger(QStringLiteral("TFloatingFormTop"), -1), 140);
    QCOMPARE(m_ini->ReadInteger(QStringLiteral("TFloatingFormWidth"), -1), 150);
    QCOMPARE(m_ini->ReadInteger(QStringLiteral("TFloatingFormHeight"), -1), 60);
    QCOMPARE(m_ini->Read(Settings::FloatingOnTop), false);
}

void TestFloatingForm::loadRestoresPlacementAndStayOnTop()
{
    m_ini->WriteInteger(QStringLiteral("TFloatingFormLeft"), 123);
    m_ini->WriteInteger(QStringLiteral("TFloatingFormTop"), 234);
    m_ini->WriteInteger(QStringLiteral("TFloatingFormWidth"), 111);
    m_ini->WriteInteger(QStringLiteral("TFloatingFormHeight"), 44);
    m_ini->Write(Settings::FloatingOnTop, false);
    const auto form = makeForm();
    QVERIFY(form->StayOnTop());
    form->LoadSettings();
    QCOMPARE(form->pos(), QPoint(123, 234));
    QCOMPARE(form->size(), QSize(111, 44));
    QVERIFY(form->IsSmall());
    QVERIFY(!form->StayOnTop());
    QVERIFY(!form->pmiStayOnTop->isChecked());
    QVERIFY(!form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

void TestFloatingForm::stayOnTopFollowsTheMenu()
{
    const auto form = makeForm();
    showAt(*form, {200, 200});
    QVERIFY(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(form->pmiStayOnTop->isChecked());
    form->pmiStayOnTop->trigger();
    QVERIFY(!form->StayOnTop());
    QVERIFY(!form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(form->isVisible());
    form->pmiStayOnTop->trigger();
    QVERIFY(form->StayOnTop());
    QVERIFY(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(form->windowFlags().testFlag(Qt::Tool));
    QVERIFY(form->windowFlags().testFlag(Qt::FramelessWindowHint));
}

void TestFloatingForm::closeFromTheMenuHidesAndTells()
{
    const auto form = makeForm();
    showAt(*form, {200, 200});
    QSignalSpy closed(form.get(), &TFloatingForm::closedByUser);
    form->pmiClose->trigger();
    QVERIFY(form->isHidden());
    QCOMPARE(closed.size(), 1);
}

void TestFloatingForm::closeRequestOnlyHides()
{
    const auto form = makeForm();
    showAt(*form, {200, 200});
    QSignalSpy closed(form.get(), &TFloatingForm::closedByUser);
    QVERIFY(!form->close());
    QVERIFY(form->isHidden());
    QCOMPARE(closed.size(), 0);
}

void TestFloatingForm::highlightBlinksEveryHalfSecond()
{
    const auto form = makeForm();
    QCOMPARE(form->tmrHighlight.interval(), 500);
    form->SetHighlight(true);
    QVERIFY(form->HighlightPhase());
    QTRY_VERIFY_WITH_TIMEOUT(!form->HighlightPhase(), kSettleMs);
    QTRY_VERIFY_WITH_TIMEOUT(form->HighlightPhase(), kSettleMs);
    QVERIFY(form->Highlighting());
    form->SetHighlight(false);
    QVERIFY(!form->HighlightPhase());
    QVERIFY(!form->tmrHighlight.isActive());
}

void TestFloatingForm::alarmButtonAsksForTheNextAlarm()
{
    const auto form = makeForm();
    showAt(*form, {200, 200});
    QSignalSpy edit(form.get(), &TFloatingForm::editNextAlarmRequested);
    QSignalSpy open(form.get(), &TFloatingForm::openMainWindowRequested);
    form->SetAlarmIndicator(true, QStringLiteral("Next: 7:30"));
    QCOMPARE(form->btnAlarm->toolTip(), QStringLiteral("Next: 7:30"));
    QCOMPARE(form->btnAlarm->size(), QSize(16, 18));
    QCOMPARE(form->btnAlarm->geometry().bottomLeft(), form->rect().bottomLeft());
    QTest::mouseClick(form->btnAlarm, Qt::LeftButton);
    QCOMPARE(edit.size(), 1);
    QCOMPARE(open.size(), 0);
    form->SetAlarmIndicator(false, QString());
    QVERIFY(form->btnAlarm->isHidden());
}

void TestFloatingForm::alarmButtonHintShowsWhileAnotherWindowIsActive()
{
    const auto form = makeForm();
    showAt(*form, {200, 200});
    form->SetAlarmIndicator(true, QStringLiteral("Next: 7:30"));
    QWidget work;
    work.setGeometry(500, 200, 200, 100);
    work.show();
    work.activateWindow();
    QTRY_VERIFY_WITH_TIMEOUT(work.isActiveWindow(), kSettleMs);
    QVERIFY(!form->isActiveWindow());

    QTest::mouseMove(form.get(), form->rect().center());
    QTest::mouseMove(form->btnAlarm);
    QTRY_VERIFY_WITH_TIMEOUT(QToolTip::isVisible(), kSettleMs);
    QCOMPARE(QToolTip::text(), QStringLiteral("Next: 7:30"));
    QToolTip::hideText();
}

void TestFloatingForm::modalDialogsStandInFrontOfTheClock()
{
    const auto form = makeForm();
    showAt(*form, {200, 200});
    QVERIFY(form->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    const QWindow* const clockWindow = form->windowHandle();

    const auto clockOnTopWhileOpen = [&form](QDialog& dialog) {
        std::optional<bool> onTop;
        QTimer::singleShot(0, &dialog, [&] {
            onTop = form->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint);
            QVERIFY(form->isVisible()); // behind, not away
            dialog.accept();
        });
        dialog.exec();
        return onTop;
    };
    QDialog dialog;
    QCOMPARE(clockOnTopWhileOpen(dialog), std::optional<bool>(false));
    QVERIFY(form->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(form->windowHandle(), clockWindow); // the same window, not one made anew
    QVERIFY(form->isVisible());
    QVERIFY(form->StayOnTop());
    QVERIFY(form->pmiStayOnTop->isChecked());

    // A clock the user took off the top stays off it after the dialog.
    form->pmiStayOnTop->trigger();
    QCOMPARE(clockOnTopWhileOpen(dialog), std::optional<bool>(false));
    QVERIFY(!form->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!form->StayOnTop());
    QVERIFY(form->isVisible());
}

void TestFloatingForm::edgesStickToTheWorkArea_data()
{
    QTest::addColumn<QRect>("frame");
    QTest::addColumn<QPoint>("expected");

    const QRect area(0, 0, 800, 600);
    QTest::newRow("a window in the middle stays where it is") << QRect(300, 200, 100, 50) << QPoint(300, 200);
    QTest::newRow("near the left edge it sticks to it") << QRect(7, 200, 100, 50) << QPoint(0, 200);
    QTest::newRow("just past the left edge it sticks back") << QRect(-9, 200, 100, 50) << QPoint(0, 200);
    QTest::newRow("near the right and bottom edges it sticks to both") << QRect(695, 545, 100, 50) << QPoint(700, 550);
    QTest::newRow("ten pixels away it is free") << QRect(10, 10, 100, 50) << QPoint(10, 10);
}

void TestFloatingForm::edgesStickToTheWorkArea()
{
    QFETCH(QRect, frame);
    QFETCH(QPoint, expected);
    QCOMPARE(TFloatingForm::SnappedPosition(frame, QRect(0, 0, 800, 600)), expected);
}

QTEST_MAIN(TestFloatingForm)
#include "tst_floatingform.moc"
