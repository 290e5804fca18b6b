// Draws the tab bar's images, in paths only, as PNG files (and @2x variants) in the given
// folder. Usage: kr-tabbar-images <output folder>
//
// Close buttons are 13 x 13 discs with a cross (an edited tab shows a dot instead of the
// cross until pressed or hovered); add buttons are 16 x 16 plus signs; the overflow image is a
// double chevron of 14 x 14; "pi" is a 16 x 16 busy wheel; the Aqua backgrounds, dividers and
// the Welvo gradient are 1 x 22 strips that the styles stretch.

#include "KRImageTool.h"

#include <QDir>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <cstdio>
#include <functional>

namespace {

using Drawing = KRImageTool::Drawing;

bool save(const QString &folder, const QString &name, QSize size, const Drawing &draw)
{
    return KRImageTool::saveAt1xAnd2x(folder, name, size, draw);
}

enum class Face { Normal, Pressed, Rollover };

// A close button: a disc (only when hovered or pressed) with a cross, or a dot for an edited tab.
Drawing closeButton(Face face, bool dirty, QColor ink)
{
    return [=](QPainter &p) {
        const QRectF disc(0.5, 0.5, 12, 12);
        if (face != Face::Normal) {
            p.setPen(Qt::NoPen);
            p.setBrush(face == Face::Pressed ? QColor(70, 70, 70) : QColor(140, 140, 140));
            p.drawEllipse(disc);
        }
        const QColor mark = face == Face::Normal ? ink : QColor(255, 255, 255);
        if (dirty && face == Face::Normal) {
            p.setPen(Qt::NoPen);
            p.setBrush(mark);
            p.drawEllipse(QPointF(6.5, 6.5), 3.5, 3.5);
            return;
        }
        p.setPen(QPen(mark, 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4, 4), QPointF(9, 9));
        p.drawLine(QPointF(9, 4), QPointF(4, 9));
    };
}

Drawing addButton(Face face, QColor ink)
{
    return [=](QPainter &p) {
        if (face != Face::Normal) {
            p.setPen(Qt::NoPen);
            p.setBrush(face == Face::Pressed ? QColor(0, 0, 0, 90) : QColor(0, 0, 0, 40));
            p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3, 3);
        }
        p.setPen(QPen(ink, 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8, 3.5), QPointF(8, 12.5));
        p.drawLine(QPointF(3.5, 8), QPointF(12.5, 8));
    };
}

Drawing overflow(bool pressed)
{
    return [=](QPainter &p) {
        const QColor ink = pressed ? QColor(20, 20, 20) : QColor(70, 70, 70);
        p.setPen(QPen(ink, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        for (qreal x : {3.0, 8.0}) {
            QPainterPath chevron;
            chevron.moveTo(x, 3);
            chevron.lineTo(x + 4, 7);
            chevron.lineTo(x, 11);
            p.drawPath(chevron);
        }
    };
}

void busyWheel(QPainter &p)
{
    for (int i = 0; i < 12; ++i) {
        const double angle = i * M_PI / 6;
        const QPointF centre(8, 8);
        const QPointF inner = centre + QPointF(std::cos(angle), std::sin(angle)) * 3.5;
        const QPointF outer = centre + QPointF(std::cos(angle), std::sin(angle)) * 7;
        p.setPen(QPen(QColor(60, 60, 60, 60 + i * 16), 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(inner, outer);
    }
}

// A stretchable 1 x 22 strip: a vertical gradient with optional lines at the ends.
Drawing strip(QColor top, QColor bottom, QColor topLine, QColor bottomLine)
{
    return [=](QPainter &p) {
        p.setRenderHint(QPainter::Antialiasing, false);
        QLinearGradient gradient(0, 0, 0, 22);
        gradient.setColorAt(0, top);
        gradient.setColorAt(1, bottom);
        p.fillRect(QRectF(0, 0, 1, 22), gradient);
        if (topLine.isValid())
            p.fillRect(QRectF(0, 0, 1, 1), topLine);
        if (bottomLine.isValid())
            p.fillRect(QRectF(0, 21, 1, 1), bottomLine);
    };
}

Drawing divider(QColor line)
{
    return [=](QPainter &p) {
        QLinearGradient gradient(0, 0, 0, 22);
        gradient.setColorAt(0, QColor(line.red(), line.green(), line.blue(), 40));
        gradient.setColorAt(0.5, line);
        gradient.setColorAt(1, QColor(line.red(), line.green(), line.blue(), 40));
        p.fillRect(QRectF(0, 0, 1, 22), gradient);
    };
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: kr-tabbar-images <output folder>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    const QSize close(13, 13), add(16, 16);
    const QColor aquaInk(90, 90, 90), metalInk(50, 50, 50);
    bool ok = true;
    struct FaceName { Face face; const char *suffix; };
    const FaceName faces[] = {{Face::Normal, ""}, {Face::Pressed, "_Pressed"}, {Face::Rollover, "_Rollover"}};
    for (const auto &[face, suffix] : faces) {
        const QString s = QString::fromLatin1(suffix);
        ok &= save(folder, QStringLiteral("AquaTabClose_Front") + s, close, closeButton(face, false, aquaInk));
        ok &= save(folder, QStringLiteral("AquaTabCloseDirty_Front") + s, close, closeButton(face, true, aquaInk));
        ok &= save(folder, QStringLiteral("TabClose_Front") + s, close, closeButton(face, false, metalInk));
        ok &= save(folder, QStringLiteral("TabClose_Dirty") + s, close, closeButton(face, true, metalInk));
        const QString addSuffix = s.mid(1);
        ok &= save(folder, QStringLiteral("AquaTabNew") + addSuffix, add, addButton(face, aquaInk));
        ok &= save(folder, QStringLiteral("TabNewMetal") + addSuffix, add, addButton(face, metalInk));
    }
    ok &= save(folder, QStringLiteral("overflowImage"), QSize(14, 14), overflow(false));
    ok &= save(folder, QStringLiteral("overflowImagePressed"), QSize(14, 14), overflow(true));
    ok &= save(folder, QStringLiteral("pi"), QSize(16, 16), busyWheel);
    const QSize stripSize(1, 22);
    const QColor none;
    ok &= save(folder, QStringLiteral("AquaTabsBackground"), stripSize,
               strip(QColor(236, 236, 236), QColor(206, 206, 206), QColor(250, 250, 250), QColor(150, 150, 150)));
    ok &= save(folder, QStringLiteral("AquaTabsDown"), stripSize,
               strip(QColor(176, 208, 244), QColor(82, 146, 222), QColor(120, 160, 210), QColor(60, 100, 160)));
    ok &= save(folder, QStringLiteral("AquaTabsDownGraphite"), stripSize,
               strip(QColor(200, 208, 218), QColor(130, 144, 160), QColor(150, 160, 170), QColor(100, 110, 120)));
    ok &= save(folder, QStringLiteral("AquaTabsDownNonKey"), stripSize,
               strip(QColor(232, 232, 232), QColor(196, 196, 196), QColor(200, 200, 200), QColor(150, 150, 150)));
    ok &= save(folder, QStringLiteral("AquaTabsSeparator"), stripSize, divider(QColor(120, 120, 120)));
    ok &= save(folder, QStringLiteral("AquaTabsSeparatorDown"), stripSize, divider(QColor(60, 90, 140)));
    ok &= save(folder, QStringLiteral("WelvoGradient"), stripSize, strip(QColor(252, 252, 252), QColor(226, 230, 236), none, none));
    return ok ? 0 : 1;
}
