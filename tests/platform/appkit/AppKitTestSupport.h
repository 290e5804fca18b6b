#pragma once

#include <KRTestSupport.h>
#include <KRWidgetTestSupport.h>

#include <QImage>
#include <QString>
#include <QWidget>

namespace KRAppKitTest {

// Grabs a window onto a light backdrop (so a translucent outline shows) and stores it.
inline QImage saveScreenshot(QWidget &widget, const QString &name)
{
    return KRTest::saveScreenshot(widget, QStringLiteral("appkit"), name + QStringLiteral(".png"),
                                  {1, QColor(236, 236, 236), false});
}

} // namespace KRAppKitTest
