#include <ui/KRUIColors.h>

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

void expectRgba(const QColor &c, double r, double g, double b, double a = 1.0)
{
    EXPECT_NEAR(c.redF(), r, 1e-4);
    EXPECT_NEAR(c.greenF(), g, 1e-4);
    EXPECT_NEAR(c.blueF(), b, 1e-4);
    EXPECT_NEAR(c.alphaF(), a, 1e-4);
}

void expectGrey(const QColor &c, double w) { expectRgba(c, w, w, w); }

// The gray level of a pixel of the gradient painted over a 40 × 30 image.
int greyAt(const KRGradient &gradient, qreal angle, int x, int y)
{
    QImage image(40, 30, QImage::Format_ARGB32);
    QPainter painter(&image);
    painter.fillRect(image.rect(), gradient.linearGradient(image.rect(), angle));
    return image.pixelColor(x, y).red();
}

} // namespace

TEST(KRUIColors, ExactValues)
{
    expectGrey(KRUIColors::grayLineColor(), 0.390625);
    expectGrey(KRUIColors::darkGrayBackgroundColor(), 0.78125);
    expectGrey(KRUIColors::grayBackgroundColor(), 0.90625);
    expectGrey(KRUIColors::lightGrayBackgroundColor(), 0.9375);
    expectGrey(KRUIColors::offWhiteBackgroundColor(), 0.96875);
    expectRgba(KRUIColors::syntaxErrorBackgroundColor(), 1, 0, 0, 0.2);
    expectRgba(KRUIColors::brightSyntaxErrorBackgroundColor(), 1, 0.1, 0.1, 0.5);
    expectGrey(KRUIColors::headerGradient().startColor, 0.8359375);
    expectGrey(KRUIColors::headerGradient().endColor, 0.90625);
    expectGrey(KRUIColors::lightGrayGradient().startColor, 0.94140625);
    expectGrey(KRUIColors::lightGrayGradient().endColor, 0.984375);
    expectGrey(KRUIColors::superlightGrayGradient().startColor, 0.96875);
    expectGrey(KRUIColors::superlightGrayGradient().endColor, 0.984375);
    expectRgba(KRUIColors::blueHeaderGradient().startColor, 0.74, 0.76, 0.83);
    expectRgba(KRUIColors::blueHeaderGradient().endColor, 0.93, 0.93, 0.98);
}

// At 90° the start colour lies along the bottom edge; 0° runs left to right; a diagonal
// covers the rectangle corner to corner. Black to white, so a flip cannot pass.
TEST(KRUIColors, GradientDirectionFollowsTheAngle)
{
    const KRGradient g{Qt::black, Qt::white};
    EXPECT_LT(greyAt(g, 90, 20, 29), 12);
    EXPECT_GT(greyAt(g, 90, 20, 0), 243);
    EXPECT_EQ(greyAt(g, 90, 0, 15), greyAt(g, 90, 39, 15));
    EXPECT_LT(greyAt(g, 0, 0, 15), 12);
    EXPECT_GT(greyAt(g, 0, 39, 15), 243);
    EXPECT_LT(greyAt(g, 45, 0, 29), 12);
    EXPECT_GT(greyAt(g, 45, 39, 0), 243);

    const KRGradient header = KRUIColors::headerGradient();
    EXPECT_NEAR(greyAt(header, 90, 10, 29), header.startColor.red(), 2);
    EXPECT_NEAR(greyAt(header, 90, 10, 0), header.endColor.red(), 2);
}
