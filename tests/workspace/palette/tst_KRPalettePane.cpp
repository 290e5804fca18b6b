#include <model/KRObjectInfo.h>
#include <platform/foundation/KRUserDefaults.h>
#include <workspace/palette/KRPalettePane.h>

#include <KRTestSupport.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QMimeData>
#include <QTest>

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

} // namespace
