#pragma once

#include <QColor>
#include <QGradientStops>
#include <QLinearGradient>
#include <QRectF>

// A two-colour gradient: the start colour at position 0, the end colour at 1.
struct KRGradient {
  QColor startColor;
  QColor endColor;

  QGradientStops stops() const;

  // A linear gradient covering `rect` along `angleDegrees`, measured counter-clockwise from
  // the positive x axis as a person sees it: 0° runs left to right, 90° runs bottom to top
  // (the start colour along the bottom edge, in Qt's y-down coordinates). The gradient line
  // goes through the centre and is long enough that its end points touch the rectangle's
  // corners, so every pixel of the rectangle lies between the start and the end colour.
  QLinearGradient linearGradient(const QRectF &rect, qreal angleDegrees = 90.0) const;
};

// The fixed greys, reds and gradients the custom views draw with. Each call returns a new
// value.
class KRUIColors {
public:
  KRUIColors() = delete;

  static QColor grayLineColor();
  static QColor darkGrayBackgroundColor();
  static QColor grayBackgroundColor();
  static QColor lightGrayBackgroundColor();
  static QColor offWhiteBackgroundColor();
  static QColor syntaxErrorBackgroundColor();
  static QColor brightSyntaxErrorBackgroundColor();

  static KRGradient headerGradient();
  static KRGradient lightGrayGradient();
  static KRGradient superlightGrayGradient();
  static KRGradient blueHeaderGradient();

  // A grey of white level `white` (0–1) with alpha 1.
  static QColor white(qreal white);
};
