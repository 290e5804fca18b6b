#pragma once

#include <QDir>
#include <QImage>
#include <QString>
#include <QWidget>

namespace KRAppKitTest {

inline QString artifactsDir()
{
    const QString dir = QStringLiteral(KR_BUILD_DIR "/test-artifacts/appkit");
    QDir().mkpath(dir);
    return dir;
}

// Grabs a window onto a light backdrop (so a translucent outline shows) and stores it.
inline QImage saveScreenshot(QWidget &widget, const QString &name)
{
    QImage shot(widget.size(), QImage::Format_ARGB32);
    shot.fill(QColor(236, 236, 236));
    widget.render(&shot, QPoint(), QRegion(), QWidget::DrawChildren);
    shot.save(artifactsDir() + QLatin1Char('/') + name + QStringLiteral(".png"));
    return shot;
}

} // namespace KRAppKitTest
