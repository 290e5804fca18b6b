#pragma once

// What the picture generators share: drawing one picture at 1x and 2x into name.png and
// name@2x.png.

#include <QImage>
#include <QPainter>
#include <QSize>
#include <QString>

#include <cstdio>
#include <functional>

namespace KRImageTool {

// Draws in points: the painter is scaled to the image's scale and antialiased, the image
// starts transparent.
using Drawing = std::function<void(QPainter &)>;

inline QImage draw(QSize size, int scale, const Drawing &drawing)
{
    QImage image(size * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    drawing(p);
    p.end();
    return image;
}

// Writes folder/name.png and folder/name@2x.png; says on stderr which file it could not write.
inline bool saveAt1xAnd2x(const QString &folder, const QString &name, QSize size, const Drawing &drawing)
{
    for (int scale : {1, 2}) {
        const QString file = folder + QLatin1Char('/') + name + (scale == 2 ? QStringLiteral("@2x.png") : QStringLiteral(".png"));
        if (!draw(size, scale, drawing).save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return false;
        }
    }
    return true;
}

} // namespace KRImageTool
