// Draws the help button: a round, softly shaded button with a question mark, drawn in paths
// only so that the result does not depend on the fonts installed. Writes helpButton.png
// (22 x 22) and helpButton@2x.png (44 x 44) into the folder given as the only argument.

#include "KRImageTool.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

void drawHelpButton(QPainter &p)
{
    QLinearGradient face(0, 1, 0, 21);
    face.setColorAt(0, QColor(255, 255, 255));
    face.setColorAt(1, QColor(222, 224, 228));
    p.setPen(QPen(QColor(128, 132, 140), 1));
    p.setBrush(face);
    p.drawEllipse(QRectF(1.5, 1.5, 19, 19));

    // The hook of the question mark: an arc over the top, bending down to the stem.
    QPainterPath hook;
    hook.moveTo(7.6, 8.6);
    hook.arcTo(QRectF(7.6, 5.2, 6.8, 6.4), 180, -220);
    hook.quadTo(11.0, 11.2, 11.0, 13.2);
    p.setPen(QPen(QColor(60, 64, 72), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(hook);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 64, 72));
    p.drawEllipse(QPointF(11.0, 16.2), 1.25, 1.25);
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kr-help-images <output folder>\n");
        return 2;
    }
    if (!KRImageTool::saveAt1xAnd2x(QString::fromLocal8Bit(argv[1]), QStringLiteral("helpButton"), QSize(22, 22), drawHelpButton)) {
        std::fprintf(stderr, "kr-help-images: cannot write into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
