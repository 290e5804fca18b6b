// Draws the application icon: a phone whose page is being laid out, a block dragged onto it
// by the pointer, on a blue rounded square. One list of shapes in a 256 x 256 grid is written
// both as korvane.svg and, painted, as korvane.png (256 x 256), into the folder given as the
// only argument.

#include <QColor>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRectF>
#include <QString>

#include <cstdio>
#include <vector>

namespace {

struct Shape
{
    enum Kind { Rect, Circle, Polygon } kind;
    QRectF rect;        // Rect, Circle (the circle's bounding square)
    double radius = 0;  // corner radius of a Rect
    QPolygonF points;   // Polygon
    QString fill;       // "#rrggbb", or "url(#background)" for the background gradient
    QString stroke;     // none when empty
    double strokeWidth = 0;
};

const QString kTop = QStringLiteral("#3d7fd9");
const QString kBottom = QStringLiteral("#1f4380");

std::vector<Shape> shapes()
{
    const QString dark = QStringLiteral("#2e3033");
    const QString line = QStringLiteral("#b8c6dc");
    const QString white = QStringLiteral("#ffffff");
    std::vector<Shape> list;
    auto rect = [&](double x, double y, double w, double h, double r, const QString &fill, const QString &stroke = {},
                    double strokeWidth = 0) {
        list.push_back({Shape::Rect, QRectF(x, y, w, h), r, {}, fill, stroke, strokeWidth});
    };
    rect(8, 8, 240, 240, 52, QStringLiteral("url(#background)"));
    // The phone, its screen with a header bar, a button, two lines of text and a text box.
    rect(76, 30, 104, 196, 18, white);
    rect(84, 50, 88, 152, 3, QStringLiteral("#e9eef6"));
    rect(84, 50, 88, 22, 0, dark);
    rect(94, 84, 68, 16, 8, kTop);
    rect(94, 110, 68, 10, 3, line);
    rect(94, 128, 46, 10, 3, line);
    rect(94, 148, 68, 40, 4, white, line, 2);
    list.push_back({Shape::Circle, QRectF(123, 208, 10, 10), 0, {}, line, {}, 0});
    // The block being placed, and the pointer that drags it.
    rect(142, 118, 74, 42, 7, QStringLiteral("#f6a23c"), white, 5);
    const QPolygonF pointer{{0, 0}, {0, 44}, {11, 33}, {19, 51}, {27, 47.5}, {19, 30}, {34, 30}};
    list.push_back({Shape::Polygon, {}, 0, pointer.translated(184, 140), white, dark, 4});
    return list;
}

QString number(double value)
{
    return QString::number(value, 'g', 6);
}

QString svg(const std::vector<Shape> &list)
{
    QString text = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" viewBox=\"0 0 256 256\">\n"
                                  "  <defs>\n"
                                  "    <linearGradient id=\"background\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\">\n"
                                  "      <stop offset=\"0\" stop-color=\"%1\"/>\n"
                                  "      <stop offset=\"1\" stop-color=\"%2\"/>\n"
                                  "    </linearGradient>\n"
                                  "  </defs>\n")
                       .arg(kTop, kBottom);
    for (const Shape &shape : list) {
        QString paint = QStringLiteral(" fill=\"%1\"").arg(shape.fill);
        if (!shape.stroke.isEmpty())
            paint += QStringLiteral(" stroke=\"%1\" stroke-width=\"%2\" stroke-linejoin=\"round\"")
                         .arg(shape.stroke, number(shape.strokeWidth));
        switch (shape.kind) {
        case Shape::Rect:
            text += QStringLiteral("  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"%5\"%6/>\n")
                        .arg(number(shape.rect.x()), number(shape.rect.y()), number(shape.rect.width()),
                             number(shape.rect.height()), number(shape.radius), paint);
            break;
        case Shape::Circle:
            text += QStringLiteral("  <circle cx=\"%1\" cy=\"%2\" r=\"%3\"%4/>\n")
                        .arg(number(shape.rect.center().x()), number(shape.rect.center().y()),
                             number(shape.rect.width() / 2), paint);
            break;
        case Shape::Polygon: {
            QStringList points;
            for (const QPointF &point : shape.points)
                points.append(number(point.x()) + QLatin1Char(',') + number(point.y()));
            text += QStringLiteral("  <polygon points=\"%1\"%2/>\n").arg(points.join(QLatin1Char(' ')), paint);
            break;
        }
        }
    }
    return text + QStringLiteral("</svg>\n");
}

QImage png(const std::vector<Shape> &list)
{
    QImage image(256, 256, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    for (const Shape &shape : list) {
        if (shape.fill.startsWith(QLatin1String("url("))) {
            QLinearGradient gradient(shape.rect.topLeft(), shape.rect.bottomLeft());
            gradient.setColorAt(0, QColor(kTop));
            gradient.setColorAt(1, QColor(kBottom));
            p.setBrush(gradient);
        } else {
            p.setBrush(QColor(shape.fill));
        }
        if (shape.stroke.isEmpty())
            p.setPen(Qt::NoPen);
        else
            p.setPen(QPen(QColor(shape.stroke), shape.strokeWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        switch (shape.kind) {
        case Shape::Rect:
            p.drawRoundedRect(shape.rect, shape.radius, shape.radius);
            break;
        case Shape::Circle:
            p.drawEllipse(shape.rect);
            break;
        case Shape::Polygon:
            p.drawPolygon(shape.points);
            break;
        }
    }
    p.end();
    return image;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kr-app-icon <output folder>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder))
        return 1;
    const std::vector<Shape> list = shapes();
    QFile file(folder + QStringLiteral("/korvane.svg"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(svg(list).toUtf8()) < 0) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
        return 1;
    }
    file.close();
    if (!png(list).save(folder + QStringLiteral("/korvane.png"))) {
        std::fprintf(stderr, "cannot write %s/korvane.png\n", qPrintable(folder));
        return 1;
    }
    return 0;
}
