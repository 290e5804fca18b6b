// Draws the scope bar's overflow button: two dark chevrons pointing right, in paths only.
// Writes overflowImage.png (16 x 16) and overflowImage@2x.png (32 x 32) into the folder given
// as the only argument.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

QImage drawOverflow(int scale)
{
    const int size = 16 * scale;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);

    QPainterPath chevrons;
    for (double x : {3.5, 8.5}) {
        chevrons.moveTo(x, 4.0);
        chevrons.lineTo(x + 4.0, 8.0);
        chevrons.lineTo(x, 12.0);
    }
    // A light line under the dark one, as the bar's engraved titles have.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 160), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(chevrons.translated(0, 1));
    p.setPen(QPen(QColor(64, 64, 64), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(chevrons);
    return image;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kr-scopebar-images <output folder>\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(dir.path()))
        return 1;
    const bool ok = drawOverflow(1).save(dir.filePath(QStringLiteral("overflowImage.png")))
                 && drawOverflow(2).save(dir.filePath(QStringLiteral("overflowImage@2x.png")));
    return ok ? 0 : 1;
}
