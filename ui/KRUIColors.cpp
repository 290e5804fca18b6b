#include "KRUIColors.h"

#include <QLineF>

#include <cmath>

QGradientStops KRGradient::stops() const {
  return {{0.0, startColor}, {1.0, endColor}};
}

QLinearGradient KRGradient::linearGradient(const QRectF &rect, qreal angleDegrees) const {
  const qreal radians = angleDegrees * M_PI / 180.0;
  // Unit direction in y-down coordinates: a positive angle turns upwards on screen.
  const qreal dx = std::cos(radians);
  const qreal dy = -std::sin(radians);
  const qreal halfLength = std::abs(rect.width() / 2.0 * dx) + std::abs(rect.height() / 2.0 * dy);
  const QPointF centre = rect.center();
  const QPointF start(centre.x() - dx * halfLength, centre.y() - dy * halfLength);
  const QPointF end(centre.x() + dx * halfLength, centre.y() + dy * halfLength);
  QLinearGradient gradient(start, end);
  gradient.setStops(stops());
  return gradient;
}

QColor KRUIColors::white(qreal white) {
  return QColor::fromRgbF(float(white), float(white), float(white), 1.0f);
}

// The white levels are multiples of 1/256.
QColor KRUIColors::grayLineColor() { return white(100.0 / 256.0); }
QColor KRUIColors::darkGrayBackgroundColor() { return white(200.0 / 256.0); }
QColor KRUIColors::grayBackgroundColor() { return white(232.0 / 256.0); }
QColor KRUIColors::lightGrayBackgroundColor() { return white(240.0 / 256.0); }
QColor KRUIColors::offWhiteBackgroundColor() { return white(248.0 / 256.0); }

QColor KRUIColors::syntaxErrorBackgroundColor() {
  return QColor::fromRgbF(1.0f, 0.0f, 0.0f, 0.2f);
}

QColor KRUIColors::brightSyntaxErrorBackgroundColor() {
  return QColor::fromRgbF(1.0f, 0.1f, 0.1f, 0.5f);
}

KRGradient KRUIColors::headerGradient() {
  return {white(214.0 / 256.0), white(232.0 / 256.0)};
}

KRGradient KRUIColors::lightGrayGradient() {
  return {white(241.0 / 256.0), white(252.0 / 256.0)};
}

KRGradient KRUIColors::superlightGrayGradient() {
  return {white(248.0 / 256.0), white(252.0 / 256.0)};
}

KRGradient KRUIColors::blueHeaderGradient() {
  return {QColor::fromRgbF(0.74f, 0.76f, 0.83f, 1.0f), QColor::fromRgbF(0.93f, 0.93f, 0.98f, 1.0f)};
}
