// The drawn views rendered offscreen: sampled pixels, geometry through accessors, and one
// screenshot per view under test-artifacts/widgets/.

#include <widgets/views/KRBorderedView.h>
#include <widgets/views/KRCornerBadgeView.h>
#include <widgets/views/KRDeviceBrowserHeaderView.h>
#include <widgets/views/KRPaneHeaderView.h>
#include <widgets/views/QZTextField.h>

#include <KRWidgetTestSupport.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPointer>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// The view's own drawing over transparent pixels.
QImage render(QWidget &view)
{
    return KRTest::renderWidget(view, {1, Qt::transparent, false});
}

// A window drawn whole, twice the size so that a person can judge the details.
void screenshot(QWidget &widget, const QString &name)
{
    KRTest::saveScreenshot(widget, QStringLiteral("widgets"), name, {2, QColor(236, 236, 236)});
}

int gray(const QImage &image, int x, int y)
{
    return qGray(image.pixel(x, y));
}

QImage icon32(QColor color)
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

} // namespace

TEST(KRBorderedView, NothingIsDrawnUntilAFlagIsSet)
{
    KRBorderedView view;
    view.resize(40, 20);
    view.setBackgroundGradient(KRGradient{Qt::red, Qt::blue});
    view.setTopBorderColor(QColor(Qt::green));
    const QImage image = render(view);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ASSERT_EQ(qAlpha(image.pixel(x, y)), 0) << x << "," << y;
}

TEST(KRBorderedView, EachBorderIsTheRowOrColumnAlongItsEdge)
{
    KRBorderedView view;
    view.resize(40, 20);
    view.setDrawTopBorder(true);
    view.setDrawBottomBorder(true);
    view.setDrawLeftBorder(true);
    view.setDrawRightBorder(true);

    // No colour of their own: the shared grey line (100 of 256).
    QImage image = render(view);
    for (QPoint p : {QPoint(20, 0), QPoint(20, 19), QPoint(0, 10), QPoint(39, 10)}) {
        EXPECT_EQ(qAlpha(image.pixel(p)), 255) << p.x() << "," << p.y();
        EXPECT_NEAR(gray(image, p.x(), p.y()), 100, 1) << p.x() << "," << p.y();
    }
    for (QPoint p : {QPoint(20, 1), QPoint(20, 18), QPoint(1, 10), QPoint(38, 10)})
        EXPECT_EQ(qAlpha(image.pixel(p)), 0) << p.x() << "," << p.y();

    // Own colours, each on its own edge; a colour set back to none is the grey again.
    view.setTopBorderColor(QColor(Qt::red));
    view.setBottomBorderColor(QColor(Qt::green));
    view.setLeftBorderColor(QColor(Qt::blue));
    view.setRightBorderColor(QColor(Qt::yellow));
    image = render(view);
    EXPECT_EQ(image.pixel(20, 0), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(20, 19), qRgb(0, 255, 0));
    EXPECT_EQ(image.pixel(0, 10), qRgb(0, 0, 255));
    EXPECT_EQ(image.pixel(39, 10), qRgb(255, 255, 0));
    view.setLeftBorderColor(std::nullopt);
    EXPECT_NEAR(gray(render(view), 0, 10), 100, 1);
}

TEST(KRBorderedView, BackgroundGradientStartsAtTheBottom)
{
    KRBorderedView view;
    view.resize(30, 60);
    view.setDrawBackground(true);

    // The shared header gradient: 214 of 256 at the bottom, 232 at the top.
    QImage image = render(view);
    EXPECT_NEAR(gray(image, 15, 59), 214 * 255 / 256, 2);
    EXPECT_NEAR(gray(image, 15, 0), 232 * 255 / 256, 2);

    view.setBackgroundGradient(KRGradient{Qt::red, Qt::blue});
    image = render(view);
    EXPECT_GT(qRed(image.pixel(15, 59)), 240);
    EXPECT_GT(qBlue(image.pixel(15, 0)), 240);
}

TEST(KRPaneHeaderView, IconAndTitleAreLaidOutFromTheLeft)
{
    KRPaneHeaderView header;
    header.resize(200, 22);
    header.setDrawBackground(true);
    header.setDrawBottomBorder(true);
    header.setLabelText(QStringLiteral("Project"));

    EXPECT_TRUE(header.imageRect().isEmpty());
    EXPECT_DOUBLE_EQ(header.labelOrigin().x(), 4.0);
    const qreal lineHeight = QFontMetricsF(KRPaneHeaderView::labelFont()).height();
    EXPECT_DOUBLE_EQ(header.labelOrigin().y(), 22 - 4 - lineHeight);

    // A 32 × 32 icon is drawn 16 × 16, 3 from the left and the bottom; the title follows at 24.
    header.setImage(icon32(QColor(200, 0, 0)));
    EXPECT_EQ(header.imageRect(), QRectF(3, 3, 16, 16));
    EXPECT_DOUBLE_EQ(header.labelOrigin().x(), 24.0);
    const QImage image = render(header);
    EXPECT_EQ(image.pixel(10, 10), qRgb(200, 0, 0));
    EXPECT_NE(qRed(image.pixel(20, 10)), 200);

    // A wide icon keeps its proportions.
    header.setImage(QImage(64, 32, QImage::Format_ARGB32));
    EXPECT_EQ(header.imageRect(), QRectF(3, 3, 32, 16));
    EXPECT_DOUBLE_EQ(header.labelOrigin().x(), 40.0);
}

TEST(KRPaneHeaderView, ANewButtonReplacesTheOldOneAtTheRightEnd)
{
    KRPaneHeaderView header;
    header.resize(200, 22);
    QPointer<QToolButton> first = new QToolButton;
    header.setButton(first);
    EXPECT_EQ(first->parentWidget(), &header);
    EXPECT_EQ(first->geometry(), QRect(178, 0, 22, 22));

    auto *second = new QToolButton;
    header.setButton(second);
    EXPECT_EQ(header.button(), second);
    EXPECT_FALSE(header.children().contains(first.data()));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());

    header.show();
    header.resize(150, 24);
    EXPECT_EQ(second->geometry(), QRect(126, 0, 24, 24));
}

TEST(KRPaneHeaderView, KeepsItsHeightAboveAPaneInALayout)
{
    QWidget pane;
    auto *layout = new QVBoxLayout(&pane);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *header = new KRPaneHeaderView;
    header->setLabelText(QStringLiteral("Object Palette"));
    layout->addWidget(header);
    layout->addWidget(new QWidget, 1);
    pane.resize(240, 400);
    pane.show();
    EXPECT_EQ(header->geometry(), QRect(0, 0, 240, KRPaneHeaderView::PreferredHeight));
}

TEST(KRPaneHeaderView, Screenshot)
{
    QWidget pane;
    pane.resize(240, 90);
    auto *layout = new QVBoxLayout(&pane);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (const char *title : {"Project", "Object Palette", "JavaScript Syntax Errors"}) {
        auto *header = new KRPaneHeaderView;
        header->setFixedHeight(22);
        header->setDrawBackground(true);
        header->setDrawBottomBorder(true);
        header->setLabelText(QString::fromLatin1(title));
        if (QByteArray(title) == "Project") {
            header->setImage(icon32(QColor(96, 150, 210)));
            auto *button = new QToolButton;
            button->setText(QStringLiteral("+"));
            button->setAutoRaise(true);
            header->setButton(button);
        }
        layout->addWidget(header);
    }
    auto *bordered = new KRBorderedView;
    bordered->setDrawRightBorder(true);
    bordered->setDrawBottomBorder(true);
    bordered->setBottomBorderColor(KRUIColors::white(0.6));
    layout->addWidget(bordered, 1);
    pane.show();
    screenshot(pane, QStringLiteral("pane-headers.png"));

    // Each header: its title in dark ink after the icon or the left margin, a bottom line
    // darker than the background above it; the first one's icon and button at their ends.
    const QImage image = KRTest::renderWidget(pane, {1, QColor(236, 236, 236), false});
    const QList<KRPaneHeaderView *> headers = pane.findChildren<KRPaneHeaderView *>();
    ASSERT_EQ(headers.size(), 3);
    for (KRPaneHeaderView *header : headers) {
        const QRect frame = header->geometry();
        const int titleLeft = frame.left() + int(header->labelOrigin().x());
        int ink = 0;
        for (int x = titleLeft; x < titleLeft + 40; ++x)
            for (int y = frame.top(); y < frame.bottom(); ++y)
                ink += gray(image, x, y) < 100;
        EXPECT_GT(ink, 10) << header->labelText().toStdString();
        EXPECT_LT(gray(image, frame.left() + 150, frame.bottom()) + 20, gray(image, frame.left() + 150, frame.bottom() - 3))
            << header->labelText().toStdString();
    }
    const QRectF icon = headers[0]->imageRect();
    EXPECT_EQ(image.pixel(int(icon.center().x()), int(icon.center().y())), qRgb(96, 150, 210));
    const QRect button = headers[0]->button()->geometry();
    EXPECT_EQ(button.right(), headers[0]->width() - 1);
}

TEST(KRDeviceBrowserHeaderView, DarkerWhileItsWindowIsActive)
{
    KRDeviceBrowserHeaderView header;
    header.resize(320, 30);
    header.show();
    header.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&header));

    // 0.74 at the top down to 0.73, over a black bottom line.
    QImage image = render(header);
    EXPECT_NEAR(gray(image, 100, 0), 189, 2);
    EXPECT_NEAR(gray(image, 100, 28), 186, 2);
    EXPECT_EQ(image.pixel(100, 29), qRgb(0, 0, 0));
    screenshot(header, QStringLiteral("device-browser-header-active.png"));

    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    ASSERT_FALSE(header.isActiveWindow());
    image = render(header);
    EXPECT_NEAR(gray(image, 100, 0), 229, 2);
    EXPECT_NEAR(gray(image, 100, 28), 217, 2);
    EXPECT_EQ(image.pixel(100, 29), qRgb(0, 0, 0));
    screenshot(header, QStringLiteral("device-browser-header-inactive.png"));
}

TEST(QZTextField, FocusRingOnlyWhileEditing)
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *field = new QZTextField;
    field->setText(QStringLiteral("index.html"));
    auto *other = new QZTextField;
    other->setPlaceholderText(QStringLiteral("Title"));
    layout->addWidget(field);
    layout->addWidget(other);
    window.resize(220, 80);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    const auto leftEdge = [&] { return render(*field).pixel(1, field->height() / 2); };
    other->setFocus();
    ASSERT_TRUE(other->hasFocus());
    EXPECT_FALSE(field->isFocusRingVisible());
    QRgb edge = leftEdge();
    EXPECT_LT(std::abs(qBlue(edge) - qRed(edge)), 4); // the grey frame

    field->setFocus();
    EXPECT_TRUE(field->isFocusRingVisible());
    edge = leftEdge();
    EXPECT_GT(qBlue(edge) - qRed(edge), 40);
    screenshot(window, QStringLiteral("text-field.png"));

    field->setDrawsFocusRing(false);
    edge = leftEdge();
    EXPECT_LT(std::abs(qBlue(edge) - qRed(edge)), 4);

    // Inside: white, with the lighter inner edge along the bottom.
    const QImage image = render(*field);
    EXPECT_EQ(gray(image, field->width() - 4, 3), 255);
    EXPECT_NEAR(gray(image, field->width() / 2, field->height() - 2), 224, 2);

}

TEST(KRCornerBadgeView, RedRibbonInTheTopLeftCorner)
{
    KRCornerBadgeView badge;
    badge.resize(40, 40);

    const QImage image = render(badge);
    const QRgb corner = image.pixel(1, 1);
    EXPECT_EQ(qAlpha(corner), 255);
    EXPECT_GT(qRed(corner), 170);
    EXPECT_LT(qGreen(corner), 100);
    EXPECT_LT(qBlue(corner), 100);
    EXPECT_EQ(qAlpha(image.pixel(38, 38)), 0);
    EXPECT_EQ(qAlpha(image.pixel(25, 25)), 0);

    QWidget item;
    item.resize(160, 60);
    item.setAutoFillBackground(true);
    item.setPalette(QPalette(Qt::white));
    auto *onItem = new KRCornerBadgeView(&item);
    onItem->setGeometry(0, 0, 40, 40);
    item.show();
    screenshot(item, QStringLiteral("corner-badge.png"));
}
