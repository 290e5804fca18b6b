#include <core/ui/KRUIColors.h>

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

void expectGrey(const QColor &color, double white) {
  EXPECT_NEAR(color.redF(), white, 1e-4);
  EXPECT_NEAR(color.greenF(), white, 1e-4);
  EXPECT_NEAR(color.blueF(), white, 1e-4);
  EXPECT_NEAR(color.alphaF(), 1.0, 1e-4);
}

void expectRgba(const QColor &color, double r, double g, double b, double a) {
  EXPECT_NEAR(color.redF(), r, 1e-4);
  EXPECT_NEAR(color.greenF(), g, 1e-4);
  EXPECT_NEAR(color.blueF(), b, 1e-4);
  EXPECT_NEAR(color.alphaF(), a, 1e-4);
}

QImage paint(const KRGradient &gradient, qreal angle) {
  QImage image(40, 30, QImage::Format_ARGB32);
  image.fill(Qt::magenta);
  QPainter painter(&image);
  const QRectF rect(0, 0, 40, 30);
  painter.fillRect(rect, gradient.linearGradient(rect, angle));
  return image;
}

// Within one 8-bit step: the gradient is sampled at pixel centres.
void expectPixel(const QImage &image, int x, int y, const QColor &expected, int tolerance = 3) {
  const QColor actual = image.pixelColor(x, y);
  EXPECT_NEAR(actual.red(), expected.red(), tolerance) << "at " << x << "," << y;
  EXPECT_NEAR(actual.green(), expected.green(), tolerance) << "at " << x << "," << y;
  EXPECT_NEAR(actual.blue(), expected.blue(), tolerance) << "at " << x << "," << y;
}

} // namespace

TEST(KRUIColors, ExactValues) {
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
  expectRgba(KRUIColors::blueHeaderGradient().startColor, 0.74, 0.76, 0.83, 1);
  expectRgba(KRUIColors::blueHeaderGradient().endColor, 0.93, 0.93, 0.98, 1);
}

// A high-contrast gradient so a flipped direction cannot pass by accident.
TEST(KRUIColors, GradientDirectionFollowsTheAngle) {
  const KRGradient blackToWhite{Qt::black, Qt::white};

  const QImage up = paint(blackToWhite, 90);
  expectPixel(up, 20, 29, Qt::black, 12);
  expectPixel(up, 20, 0, Qt::white, 12);
  expectPixel(up, 0, 29, up.pixelColor(39, 29), 1); // constant along each row

  const QImage right = paint(blackToWhite, 0);
  expectPixel(right, 0, 15, Qt::black, 12);
  expectPixel(right, 39, 15, Qt::white, 12);

  const QImage down = paint(blackToWhite, 270);
  expectPixel(down, 20, 0, Qt::black, 12);
  expectPixel(down, 20, 29, Qt::white, 12);

  // A diagonal angle still covers the rectangle corner to corner.
  const QImage diagonal = paint(blackToWhite, 45);
  expectPixel(diagonal, 0, 29, Qt::black, 12);
  expectPixel(diagonal, 39, 0, Qt::white, 12);
}

TEST(KRUIColors, HeaderGradientAtNinetyDegreesStartsAtTheBottom) {
  const KRGradient header = KRUIColors::headerGradient();
  const QImage image = paint(header, 90);
  expectPixel(image, 10, 29, header.startColor);
  expectPixel(image, 10, 0, header.endColor);
}
