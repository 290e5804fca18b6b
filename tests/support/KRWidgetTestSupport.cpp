#include "KRWidgetTestSupport.h"

#include "KRTestSupport.h"

#include <gtest/gtest.h>

#include <QWidget>

namespace KRTest {

QImage renderWidget(QWidget &widget, const RenderOptions &options)
{
    QImage image(widget.size() * options.scale, QImage::Format_ARGB32);
    image.setDevicePixelRatio(options.scale);
    image.fill(options.backdrop);
    QWidget::RenderFlags flags = QWidget::DrawChildren;
    if (options.windowBackground)
        flags |= QWidget::DrawWindowBackground;
    widget.render(&image, QPoint(), QRegion(), flags);
    return image;
}

QImage saveScreenshot(QWidget &widget, const QString &component, const QString &fileName, RenderOptions options)
{
    const QImage image = renderWidget(widget, options);
    const QString path = artifactsDir(component) + QLatin1Char('/') + fileName;
    EXPECT_TRUE(image.save(path)) << path.toStdString();
    return image;
}

} // namespace KRTest
