#pragma once

// Pictures of widgets for the tests: images to sample pixels from, and screenshots that a person
// looks at, written under KRTest::artifactsDir(component).

#include <QColor>
#include <QImage>
#include <QString>

class QWidget;

namespace KRTest {

struct RenderOptions {
    int scale = 1;                      // device pixels per point
    QColor backdrop = Qt::transparent;  // what the image holds before the widget draws
    bool windowBackground = true;       // false: only the widget's own painting and children
};

// The widget as it draws itself, `scale` times its size.
QImage renderWidget(QWidget &widget, const RenderOptions &options = {});

// Renders the widget (at twice its size unless told otherwise) into
// artifactsDir(component)/fileName and returns the image; fails the current test when the
// file cannot be written.
QImage saveScreenshot(QWidget &widget, const QString &component, const QString &fileName,
                      RenderOptions options = {2});

} // namespace KRTest
