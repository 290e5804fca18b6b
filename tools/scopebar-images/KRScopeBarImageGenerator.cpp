// Draws the scope bar's overflow button: two dark chevrons pointing right, in paths only.
// Writes overflowImage.png (16 x 16) and overflowImage@2x.png (32 x 32) into the folder given
// as the only argument.

#include "KRImageTool.h"

#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

void drawOverflow(QPainter &p)
{
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
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kr-scopebar-images <output folder>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder))
        return 1;
    return KRImageTool::saveAt1xAnd2x(folder, QStringLiteral("overflowImage"), QSize(16, 16), drawOverflow) ? 0 : 1;
}
