#include <model/KRObjectInfo.h>
#include <platform/foundation/KRUserDefaults.h>
#include <widgets/help/KRHelpButtonController.h>
#include <workspace/palette/KRPaletteObjectViewController.h>
#include <workspace/palette/KRPalettePane.h>

#include <KRTestSupport.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QApplication>
#include <QImage>
#include <QMimeData>
#include <QTest>
#include <QScrollBar>
#include <QToolButton>

namespace {

QString artifacts()
{
    const QString dir = QStringLiteral(KR_BUILD_DIR "/test-artifacts/workspace");
    QDir().mkpath(dir);
    return dir;
}

class PalettePane : public ::testing::Test
{
protected:
    void SetUp() override
    {
        defaults = std::make_unique<KRUserDefaults>(KRTest::makeTempDir() + QStringLiteral("/defaults.conf"));
        pane = std::make_unique<KRPalettePane>(*defaults);
        pane->resize(240, 600);
        pane->show();
    }
    int rowHeight(int row) const { return pane->list()->visualRect(pane->model()->index(row)).height(); }
    QRect rowRect(int row) const { return pane->list()->visualRect(pane->model()->index(row)); }
    KRPaletteObjectViewController *object(int row) const { return pane->paletteObjects().value(row); }
    double opacity(int row) const { return object(row)->helpButtonController()->helpButtonOpacity(); }
    bool opacityBecomes(int row, double value) const
    {
        return KRTest::processEventsUntil([&] { return qFuzzyCompare(1 + opacity(row), 1 + value); },
                                          std::chrono::seconds(2));
    }

    std::unique_ptr<KRUserDefaults> defaults;
    std::unique_ptr<KRPalettePane> pane;
};

TEST_F(PalettePane, BuiltInClassesComeFirstThenPlugins)
{
    const QStringList classes = pane->model()->classNames();
    ASSERT_EQ(KRPaletteModel::builtInClasses().size(), 27);
    EXPECT_EQ(classes.mid(0, 27), KRPaletteModel::builtInClasses());
    EXPECT_EQ(classes.mid(27), KRObjectInfo::sharedInstance().pluginObjects());
    EXPECT_EQ(classes.first(), QStringLiteral("JQMButton"));
    EXPECT_EQ(classes.value(26), QStringLiteral("KRStyleClass"));
}

TEST_F(PalettePane, CompactModeFollowsTheDefaultLiveAndHidesDescriptions)
{
    EXPECT_EQ(rowHeight(3), 40);
    const QRect row = pane->list()->visualRect(pane->model()->index(0));
    const QImage normal = pane->list()->viewport()->grab().toImage();
    ASSERT_TRUE(normal.save(artifacts() + QStringLiteral("/palette-normal.png")));
    ASSERT_TRUE(pane->grab().toImage().save(artifacts() + QStringLiteral("/palette-pane.png")));

    defaults->setValue(QStringLiteral("compactObjectPalette"), true);
    EXPECT_TRUE(pane->isCompact());
    EXPECT_EQ(rowHeight(3), 28);
    const QImage compact = pane->list()->viewport()->grab().toImage();
    ASSERT_TRUE(compact.save(artifacts() + QStringLiteral("/palette-compact.png")));

    // The description line of the first normal row holds dark text; in compact mode that
    // place belongs to the second row's icon column, not to any text.
    const auto darkPixels = [](const QImage &image, const QRect &area) {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                n += image.pixelColor(x, y).lightness() < 120;
        return n;
    };
    const QRect descriptionLine(row.left() + 44, row.top() + 22, 120, 12);
    EXPECT_GT(darkPixels(normal, descriptionLine), 10);
    const QRect secondRowText(row.left() + 34, 28 + 6, 150, 16);
    EXPECT_GT(darkPixels(compact, secondRowText), 10); // the name moved up beside a 22-point icon

    defaults->setValue(QStringLiteral("compactObjectPalette"), false);
    EXPECT_EQ(rowHeight(3), 40);
}

TEST_F(PalettePane, DraggingARowCarriesItsClassAndAnnouncesItFirst)
{
    QStringList announced;
    QObject::connect(pane.get(), &KRPalettePane::willDragObject, [&](const QString &c) { announced.append(c); });
    const int timer = int(pane->model()->classNames().indexOf(QStringLiteral("KRTimer")));
    std::unique_ptr<QMimeData> data(pane->model()->mimeData({pane->model()->index(timer)}));
    ASSERT_TRUE(data);
    EXPECT_EQ(announced, QStringList{QStringLiteral("KRTimer")});
    EXPECT_EQ(data->formats(), QStringList{QStringLiteral("KRObject")});
    EXPECT_EQ(data->data(QStringLiteral("KRObject")), QByteArray("KRTimer"));
    EXPECT_FALSE(pane->model()->mimeData({}));
    EXPECT_TRUE(pane->model()->flags(pane->model()->index(0)) & Qt::ItemIsDragEnabled);
}

TEST_F(PalettePane, EachRowCarriesItsClassHelpAndPlacesItsButtonAtTheRightEnd)
{
    ASSERT_EQ(pane->paletteObjects().size(), pane->model()->rowCount());
    const KRObjectInfo &info = KRObjectInfo::sharedInstance();
    for (int row = 0; row < pane->model()->rowCount(); ++row) {
        const QString className = pane->model()->classNames().value(row);
        EXPECT_EQ(object(row)->krClassName(), className);
        EXPECT_EQ(object(row)->objectHelpHTML(), info.objectHelpHTML(className)) << className.toStdString();
    }
    EXPECT_FALSE(object(0)->objectHelpHTML().isEmpty());

    // Normal rows keep the button 16 points above their bottom, compact ones on their bottom;
    // both follow their rows when the height changes.
    const auto buttonIn = [&](int row) { return object(row)->helpButton()->geometry().translated(-rowRect(row).topLeft()); };
    const auto expected = [&](int row, int top) { return QRect(rowRect(row).width() - 6 - 16, top, 16, 16); };
    EXPECT_EQ(buttonIn(5), expected(5, 40 - 16 - 16));
    defaults->setValue(QStringLiteral("compactObjectPalette"), true);
    EXPECT_EQ(buttonIn(5), expected(5, 28 - 16));
    defaults->setValue(QStringLiteral("compactObjectPalette"), false);
    EXPECT_EQ(buttonIn(5), expected(5, 40 - 16 - 16));
    // The rows take the scroll bar's width back when it goes; the buttons follow.
    ASSERT_TRUE(pane->list()->verticalScrollBar()->isVisible());
    pane->resize(240, 3000);
    QApplication::processEvents();
    EXPECT_FALSE(pane->list()->verticalScrollBar()->isVisible());
    EXPECT_EQ(buttonIn(5), expected(5, 40 - 16 - 16));

    // The button takes its clicks; the rest of the row still belongs to the list.
    QWidget *viewport = pane->list()->viewport();
    EXPECT_EQ(viewport->childAt(object(2)->helpButton()->geometry().center()), object(2)->helpButton());
    EXPECT_EQ(viewport->childAt(rowRect(2).center()), nullptr);
    QTest::mouseClick(viewport, Qt::LeftButton, {}, rowRect(2).center());
    EXPECT_EQ(pane->list()->currentIndex().row(), 2);
}

TEST_F(PalettePane, HelpButtonFadesInOverItsRowOnlyAndMakesNoPageUntilClicked)
{
    ASSERT_TRUE(QTest::qWaitForWindowExposed(pane.get()));
    for (KRPaletteObjectViewController *row : pane->paletteObjects()) {
        row->helpButtonController()->setFadeInDelay(10);
        row->helpButtonController()->setFadeDuration(20);
    }
    QWidget *viewport = pane->list()->viewport();
    const QRect button = object(2)->helpButton()->geometry();
    const QImage plain = viewport->grab().toImage();
    const auto changedPixels = [&](const QImage &image) {
        int n = 0;
        for (int y = button.top(); y <= button.bottom(); ++y)
            for (int x = button.left(); x <= button.right(); ++x)
                n += std::abs(image.pixelColor(x, y).lightness() - plain.pixelColor(x, y).lightness()) > 24;
        return n;
    };
    QTest::mouseMove(viewport, rowRect(2).center());
    EXPECT_TRUE(opacityBecomes(2, KRHelpButtonController::ShownOpacity));
    EXPECT_EQ(opacity(1), 0.0);
    EXPECT_EQ(opacity(3), 0.0);
    // The faded-in button is drawn over its row.
    const QImage hovered = viewport->grab().toImage();
    EXPECT_GT(changedPixels(hovered), 10);
    ASSERT_TRUE(hovered.save(artifacts() + QStringLiteral("/palette-hover.png")));

    // Onto the button itself and back to the row: it stays.
    QTest::mouseMove(object(2)->helpButton(), QPoint(8, 8));
    QTest::qWait(40);
    QTest::mouseMove(viewport, rowRect(2).center());
    QTest::qWait(40);
    EXPECT_EQ(opacity(2), KRHelpButtonController::ShownOpacity);

    // To another row: the first fades out, the other in.
    QTest::mouseMove(viewport, rowRect(4).center());
    EXPECT_TRUE(opacityBecomes(2, 0.0));
    EXPECT_TRUE(opacityBecomes(4, KRHelpButtonController::ShownOpacity));

    // Out of the list: every button goes.
    QWidget *scrollBar = pane->list()->verticalScrollBar();
    ASSERT_TRUE(scrollBar->isVisible());
    QTest::mouseMove(scrollBar, scrollBar->rect().center());
    EXPECT_TRUE(opacityBecomes(4, 0.0));

    for (KRPaletteObjectViewController *row : pane->paletteObjects()) {
        EXPECT_FALSE(row->helpButtonController()->popover());
        EXPECT_FALSE(row->helpButtonController()->helpViewController());
    }
}

} // namespace
