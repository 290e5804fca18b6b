// Draws the palette icon of every class whose catalogue entry names one, as a 32 x 32 PNG in
// the icons folder beside the catalogue. Usage: kr-palette-icons <resources folder>
//
// Every icon is a rounded tile whose colour tells the family (jQuery Mobile widgets blue, plain
// HTML controls slate, objects without an element amber, page helpers green) with a glyph of
// the control drawn in paths only, so the result does not depend on the fonts installed. An icon
// name the catalogue uses but this program cannot draw is reported and fails the run. A second
// argument names a PNG file that receives all icons side by side at twice their size, to look at.

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QXmlStreamReader>

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>

namespace {

const QColor kWhite(255, 255, 255);
const QColor kInk(40, 48, 58);
const QColor kJQM(56, 132, 204);
const QColor kHTML(92, 108, 128);
const QColor kHidden(214, 140, 32);
const QColor kPage(64, 150, 92);

void tile(QPainter &p, const QColor &colour)
{
    QLinearGradient gradient(0, 1, 0, 31);
    gradient.setColorAt(0, colour.lighter(125));
    gradient.setColorAt(1, colour.darker(115));
    p.setPen(QPen(colour.darker(150), 1));
    p.setBrush(gradient);
    p.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 6, 6);
}

QPen pen(const QColor &c, qreal width) { return QPen(c, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin); }

void field(QPainter &p, const QRectF &r, qreal radius)
{
    p.setPen(pen(kInk, 1));
    p.setBrush(kWhite);
    p.drawRoundedRect(r, radius, radius);
}

void textLines(QPainter &p, qreal x, qreal y, qreal width, int count, qreal gap, const QColor &c)
{
    p.setPen(pen(c, 1.6));
    for (int i = 0; i < count; ++i)
        p.drawLine(QPointF(x, y + i * gap), QPointF(x + (i == count - 1 ? width * 0.6 : width), y + i * gap));
}

void checkMark(QPainter &p, qreal x, qreal y, qreal s, const QColor &c)
{
    p.setPen(pen(c, 2));
    p.setBrush(Qt::NoBrush);
    QPainterPath path;
    path.moveTo(x, y + s * 0.5);
    path.lineTo(x + s * 0.38, y + s * 0.88);
    path.lineTo(x + s, y);
    p.drawPath(path);
}

void downTriangle(QPainter &p, qreal cx, qreal cy, qreal s, const QColor &c)
{
    QPainterPath t;
    t.moveTo(cx - s, cy - s * 0.5);
    t.lineTo(cx + s, cy - s * 0.5);
    t.lineTo(cx, cy + s * 0.6);
    t.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPath(t);
}

void screen(QPainter &p)
{
    p.setPen(pen(kInk, 1));
    p.setBrush(kWhite);
    p.drawRoundedRect(QRectF(8.5, 4.5, 15, 23), 2, 2);
}

using Painter = std::function<void(QPainter &)>;

const std::map<QString, Painter> &painters()
{
    static const std::map<QString, Painter> table = {
        {"KRObject", [](QPainter &p) {
             tile(p, QColor(120, 120, 128));
             p.setPen(pen(kWhite, 1.6));
             p.setBrush(Qt::NoBrush);
             QPainterPath cube;
             cube.moveTo(16, 6); cube.lineTo(25, 11); cube.lineTo(25, 21); cube.lineTo(16, 26);
             cube.lineTo(7, 21); cube.lineTo(7, 11); cube.closeSubpath();
             cube.moveTo(7, 11); cube.lineTo(16, 16); cube.lineTo(25, 11);
             cube.moveTo(16, 16); cube.lineTo(16, 26);
             p.drawPath(cube);
         }},
        {"KRDiv", [](QPainter &p) {
             tile(p, kHTML);
             p.setPen(QPen(kWhite, 1.4, Qt::DashLine));
             p.setBrush(Qt::NoBrush);
             p.drawRect(QRectF(6.5, 7.5, 19, 17));
             textLines(p, 10, 12.5, 12, 3, 4, kWhite);
         }},
        {"KRLabel", [](QPainter &p) {
             tile(p, kHTML);
             p.setPen(Qt::NoPen);
             p.setBrush(kWhite);
             p.drawRect(QRectF(7, 7, 18, 3.5));
             p.drawRect(QRectF(14.25, 7, 3.5, 15));
             textLines(p, 7, 25.5, 18, 1, 0, kWhite);
         }},
        {"KRTextbox", [](QPainter &p) {
             tile(p, kHTML);
             field(p, QRectF(4.5, 11.5, 23, 9), 1);
             p.setPen(pen(kInk, 1.2));
             p.drawLine(QPointF(8, 13.5), QPointF(8, 18.5));
         }},
        {"KRCheckbox", [](QPainter &p) {
             tile(p, kHTML);
             field(p, QRectF(8.5, 8.5, 15, 15), 1.5);
             checkMark(p, 11, 11.5, 10, kInk);
         }},
        {"KRRadioButton", [](QPainter &p) {
             tile(p, kHTML);
             field(p, QRectF(8.5, 8.5, 15, 15), 7.5);
             p.setPen(Qt::NoPen);
             p.setBrush(kInk);
             p.drawEllipse(QPointF(16, 16), 3.6, 3.6);
         }},
        {"KRButton", [](QPainter &p) {
             tile(p, kHTML);
             QLinearGradient g(0, 10, 0, 22);
             g.setColorAt(0, QColor(226, 226, 226));
             g.setColorAt(0.5, QColor(172, 173, 174));
             g.setColorAt(1, QColor(130, 128, 126));
             p.setPen(pen(QColor(40, 39, 38), 1.4));
             p.setBrush(g);
             p.drawRoundedRect(QRectF(4.5, 10.5, 23, 11), 3, 3);
             textLines(p, 11, 16, 10, 1, 0, kInk);
         }},
        {"KRTextArea", [](QPainter &p) {
             tile(p, kHTML);
             field(p, QRectF(5.5, 6.5, 21, 19), 1);
             textLines(p, 8.5, 10.5, 15, 3, 4, kInk);
             p.setPen(pen(kInk, 1));
             p.drawLine(QPointF(20, 23.5), QPointF(24.5, 19));
             p.drawLine(QPointF(22.5, 23.5), QPointF(24.5, 21.5));
         }},
        {"KRSelect", [](QPainter &p) {
             tile(p, kHTML);
             field(p, QRectF(4.5, 11.5, 23, 9), 1);
             p.setPen(pen(kInk, 1));
             p.drawLine(QPointF(19.5, 12), QPointF(19.5, 20));
             downTriangle(p, 23.5, 16.2, 2.6, kInk);
             textLines(p, 7.5, 16, 8, 1, 0, kInk);
         }},
        {"KRImage", [](QPainter &p) {
             tile(p, kHTML);
             field(p, QRectF(5.5, 7.5, 21, 17), 1);
             p.setPen(Qt::NoPen);
             p.setBrush(QColor(240, 190, 40));
             p.drawEllipse(QPointF(21, 12), 2.4, 2.4);
             QPainterPath hills;
             hills.moveTo(6, 24); hills.lineTo(12.5, 14.5); hills.lineTo(17, 20); hills.lineTo(19.5, 17.5);
             hills.lineTo(26, 24); hills.closeSubpath();
             p.setBrush(QColor(70, 150, 80));
             p.drawPath(hills);
         }},
        {"KRCanvas", [](QPainter &p) {
             tile(p, kHTML);
             field(p, QRectF(5.5, 5.5, 21, 21), 0);
             p.setPen(pen(QColor(200, 60, 60), 2));
             p.setBrush(Qt::NoBrush);
             QPainterPath curve;
             curve.moveTo(8, 21);
             curve.cubicTo(11, 8, 16, 26, 19, 14);
             curve.cubicTo(20, 10, 22, 9, 24, 9);
             p.drawPath(curve);
         }},
        {"KRTable", [](QPainter &p) {
             tile(p, kHTML);
             field(p, QRectF(5.5, 8.5, 21, 15), 0);
             p.setPen(pen(kInk, 1));
             p.drawLine(QPointF(12.5, 8.5), QPointF(12.5, 23.5));
             p.drawLine(QPointF(19.5, 8.5), QPointF(19.5, 23.5));
             p.drawLine(QPointF(5.5, 13.5), QPointF(26.5, 13.5));
             p.drawLine(QPointF(5.5, 18.5), QPointF(26.5, 18.5));
         }},
        {"KRTimer", [](QPainter &p) {
             tile(p, kHidden);
             field(p, QRectF(6.5, 6.5, 19, 19), 9.5);
             p.setPen(pen(kInk, 1.8));
             p.drawLine(QPointF(16, 16), QPointF(16, 10));
             p.drawLine(QPointF(16, 16), QPointF(20, 18.5));
             p.setPen(pen(kInk, 1));
             for (int i = 0; i < 12; ++i) {
                 const double a = i * M_PI / 6;
                 p.drawPoint(QPointF(16 + 7.6 * std::cos(a), 16 + 7.6 * std::sin(a)));
             }
         }},
        {"KRLocalDataSource", [](QPainter &p) {
             tile(p, kHidden);
             p.setPen(pen(kInk, 1));
             p.setBrush(kWhite);
             QPainterPath body;
             body.moveTo(8.5, 9);
             body.lineTo(8.5, 23);
             body.arcTo(QRectF(8.5, 20, 15, 6), 180, 180);
             body.lineTo(23.5, 9);
             body.closeSubpath();
             p.drawPath(body);
             p.drawEllipse(QRectF(8.5, 6, 15, 6));
             p.setBrush(Qt::NoBrush);
             p.drawArc(QRectF(8.5, 12.5, 15, 6), 180 * 16, 180 * 16);
             p.drawArc(QRectF(8.5, 17, 15, 6), 180 * 16, 180 * 16);
         }},
        {"KRFunction", [](QPainter &p) {
             tile(p, kPage);
             p.setPen(pen(kWhite, 1.8));
             p.setBrush(Qt::NoBrush);
             QPainterPath braces;
             braces.moveTo(12, 7); braces.cubicTo(8, 7, 11, 15, 7.5, 16); braces.cubicTo(11, 17, 8, 25, 12, 25);
             braces.moveTo(20, 7); braces.cubicTo(24, 7, 21, 15, 24.5, 16); braces.cubicTo(21, 17, 24, 25, 20, 25);
             p.drawPath(braces);
             p.setPen(pen(kWhite, 1.5));
             p.drawLine(QPointF(14, 13), QPointF(18, 13));
             p.drawLine(QPointF(14, 16.5), QPointF(18, 16.5));
             p.drawLine(QPointF(14, 20), QPointF(16.5, 20));
         }},
        {"KRPage", [](QPainter &p) {
             // A sheet with a turned-down corner and a title bar: the page itself.
             tile(p, kPage);
             QPainterPath sheet;
             sheet.moveTo(8.5, 5.5); sheet.lineTo(19.5, 5.5); sheet.lineTo(24.5, 10.5);
             sheet.lineTo(24.5, 26.5); sheet.lineTo(8.5, 26.5); sheet.closeSubpath();
             p.setPen(pen(kInk, 1));
             p.setBrush(kWhite);
             p.drawPath(sheet);
             QPainterPath corner;
             corner.moveTo(19.5, 5.5); corner.lineTo(19.5, 10.5); corner.lineTo(24.5, 10.5);
             p.setBrush(QColor(200, 206, 214));
             p.drawPath(corner);
             p.setPen(Qt::NoPen);
             p.setBrush(kJQM);
             p.drawRect(QRectF(9, 11, 15, 3.5));
             textLines(p, 11, 18, 11, 3, 3, QColor(150, 160, 172));
         }},
        {"KRStyleClass", [](QPainter &p) {
             tile(p, kPage);
             p.setPen(pen(kInk, 1));
             p.setBrush(QColor(220, 70, 70));
             p.drawEllipse(QPointF(12, 12), 4.5, 4.5);
             p.setBrush(QColor(250, 200, 50));
             p.drawEllipse(QPointF(20, 12), 4.5, 4.5);
             p.setBrush(QColor(60, 120, 220));
             p.drawEllipse(QPointF(16, 19.5), 4.5, 4.5);
         }},
        {"JQMSlider", [](QPainter &p) {
             tile(p, kJQM);
             p.setPen(pen(kInk, 1));
             p.setBrush(kWhite);
             p.drawRoundedRect(QRectF(4.5, 14, 23, 4), 2, 2);
             p.setBrush(QColor(120, 200, 255));
             p.drawRoundedRect(QRectF(4.5, 14, 13, 4), 2, 2);
             p.setBrush(kWhite);
             p.drawEllipse(QPointF(18, 16), 4.5, 4.5);
         }},
        {"JQMButton", [](QPainter &p) {
             tile(p, kJQM);
             field(p, QRectF(4.5, 10.5, 23, 11), 5);
             p.setPen(Qt::NoPen);
             p.setBrush(QColor(100, 100, 100));
             p.drawEllipse(QPointF(10.5, 16), 3.4, 3.4);
             p.setPen(pen(kWhite, 1.2));
             p.drawLine(QPointF(9.5, 14.3), QPointF(11.2, 16));
             p.drawLine(QPointF(11.2, 16), QPointF(9.5, 17.7));
             textLines(p, 16, 16, 8, 1, 0, kInk);
         }},
        {"JQMTextbox", [](QPainter &p) {
             tile(p, kJQM);
             textLines(p, 5, 8.5, 9, 1, 0, kWhite);
             field(p, QRectF(4.5, 12.5, 23, 10), 4);
             p.setPen(pen(kInk, 1.2));
             p.drawLine(QPointF(8.5, 15), QPointF(8.5, 20));
         }},
        {"JQMTextArea", [](QPainter &p) {
             tile(p, kJQM);
             textLines(p, 5, 6.5, 9, 1, 0, kWhite);
             field(p, QRectF(4.5, 9.5, 23, 17), 4);
             textLines(p, 8, 14, 16, 3, 4, kInk);
         }},
        {"JQMRadioButtonGroup", [](QPainter &p) {
             tile(p, kJQM);
             field(p, QRectF(4.5, 4.5, 23, 23), 4);
             for (int i = 0; i < 3; ++i) {
                 const qreal y = 10 + i * 6;
                 p.setPen(pen(kInk, 1));
                 p.setBrush(i == 1 ? kJQM : kWhite);
                 p.drawEllipse(QPointF(10, y), 2.5, 2.5);
                 textLines(p, 15, y, 8, 1, 0, kInk);
             }
         }},
        {"JQMCheckboxGroup", [](QPainter &p) {
             tile(p, kJQM);
             field(p, QRectF(4.5, 4.5, 23, 23), 4);
             for (int i = 0; i < 3; ++i) {
                 const qreal y = 10 + i * 6;
                 p.setPen(pen(kInk, 1));
                 p.setBrush(i == 0 ? kJQM : kWhite);
                 p.drawRoundedRect(QRectF(7.5, y - 2.5, 5, 5), 1, 1);
                 textLines(p, 15, y, 8, 1, 0, kInk);
             }
             checkMark(p, 8.3, 8.3, 3.4, kWhite);
         }},
        {"JQMSelect", [](QPainter &p) {
             tile(p, kJQM);
             field(p, QRectF(4.5, 10.5, 23, 11), 5);
             textLines(p, 8.5, 16, 9, 1, 0, kInk);
             p.setPen(Qt::NoPen);
             p.setBrush(QColor(100, 100, 100));
             p.drawEllipse(QPointF(22, 16), 3.4, 3.4);
             downTriangle(p, 22, 16.2, 1.9, kWhite);
         }},
        {"JQMSlideToggle", [](QPainter &p) {
             tile(p, kJQM);
             p.setPen(pen(kInk, 1));
             p.setBrush(QColor(120, 200, 255));
             p.drawRoundedRect(QRectF(4.5, 11.5, 23, 9), 4.5, 4.5);
             p.setBrush(kWhite);
             p.drawEllipse(QPointF(22.5, 16), 5.5, 5.5);
             textLines(p, 8, 16, 6, 1, 0, kInk);
         }},
        {"JQMHeaderToolbar", [](QPainter &p) {
             tile(p, kJQM);
             screen(p);
             p.setPen(Qt::NoPen);
             p.setBrush(kInk);
             p.drawRect(QRectF(9, 5, 14, 6));
             textLines(p, 13, 8, 6, 1, 0, kWhite);
         }},
        {"JQMFooterToolbar", [](QPainter &p) {
             tile(p, kJQM);
             screen(p);
             p.setPen(Qt::NoPen);
             p.setBrush(kInk);
             p.drawRect(QRectF(9, 21, 14, 6));
             p.setPen(pen(kWhite, 0.8));
             p.drawLine(QPointF(13.7, 21.5), QPointF(13.7, 26.5));
             p.drawLine(QPointF(18.3, 21.5), QPointF(18.3, 26.5));
         }},
        {"JQMListView", [](QPainter &p) {
             tile(p, kJQM);
             field(p, QRectF(4.5, 5.5, 23, 21), 2);
             for (int i = 0; i < 3; ++i) {
                 const qreal y = 10 + i * 6.5;
                 textLines(p, 7.5, y, 9, 1, 0, kInk);
                 p.setPen(pen(kInk, 1.2));
                 p.drawLine(QPointF(22, y - 2), QPointF(24, y));
                 p.drawLine(QPointF(24, y), QPointF(22, y + 2));
                 if (i < 2) {
                     p.setPen(pen(QColor(180, 180, 180), 0.8));
                     p.drawLine(QPointF(5, y + 3.25), QPointF(27, y + 3.25));
                 }
             }
         }},
        {"JQMSimplePopup", [](QPainter &p) {
             tile(p, kHidden);
             field(p, QRectF(4.5, 6.5, 23, 19), 3);
             p.setPen(Qt::NoPen);
             p.setBrush(kInk);
             p.drawRoundedRect(QRectF(5, 7, 22, 5), 2.5, 2.5);
             p.drawRect(QRectF(5, 9.5, 22, 2.5));
             textLines(p, 8, 15.5, 16, 1, 0, kInk);
             p.setPen(pen(kInk, 1));
             p.setBrush(QColor(120, 200, 255));
             p.drawRoundedRect(QRectF(10.5, 19, 11, 4), 2, 2);
         }},
        {"KRBluffGraph", [](QPainter &p) {
             tile(p, kHTML);
             field(p, QRectF(4.5, 4.5, 23, 23), 1);
             p.setPen(Qt::NoPen);
             const QColor bars[] = {QColor(90, 90, 90), QColor(140, 140, 140), QColor(190, 190, 190)};
             const qreal heights[] = {8, 14, 11};
             for (int i = 0; i < 3; ++i) {
                 p.setBrush(bars[i]);
                 p.drawRect(QRectF(9 + i * 5.5, 24 - heights[i], 4, heights[i]));
             }
             p.setPen(pen(QColor(210, 60, 60), 1.6));
             p.drawPolyline(QPolygonF({QPointF(8, 17), QPointF(13, 12), QPointF(18, 14), QPointF(25, 7)}));
             p.setPen(pen(kInk, 1));
             p.drawLine(QPointF(7.5, 7), QPointF(7.5, 24.5));
             p.drawLine(QPointF(7.5, 24.5), QPointF(25.5, 24.5));
         }},
        {"KRPhotoSwipe", [](QPainter &p) {
             tile(p, kHTML);
             p.setPen(pen(kInk, 1));
             p.setBrush(QColor(235, 235, 235));
             p.drawRect(QRectF(10.5, 5.5, 16, 13));
             p.setBrush(kWhite);
             p.drawRect(QRectF(5.5, 11.5, 17, 14));
             p.setPen(Qt::NoPen);
             p.setBrush(QColor(70, 150, 80));
             QPainterPath hill;
             hill.moveTo(6, 25); hill.lineTo(11, 18); hill.lineTo(15, 22); hill.lineTo(17, 20); hill.lineTo(22, 25);
             hill.closeSubpath();
             p.drawPath(hill);
             p.setBrush(QColor(240, 190, 40));
             p.drawEllipse(QPointF(18.5, 15.5), 1.8, 1.8);
             p.setPen(pen(kWhite, 1.6));
             p.drawLine(QPointF(24.5, 22), QPointF(27, 24.5));
             p.drawLine(QPointF(27, 24.5), QPointF(24.5, 27));
         }},
    };
    return table;
}

// The icon names of the catalogue, in order, without repetitions.
QStringList catalogueIcons(const QString &catalogPath)
{
    QStringList names;
    QFile file(catalogPath);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(catalogPath));
        return names;
    }
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("icon")) {
            const QString name = xml.readElementText().trimmed();
            if (!name.isEmpty() && !name.contains(u'/') && !names.contains(name))
                names << name;
        }
    }
    if (xml.hasError())
        std::fprintf(stderr, "%s: %s\n", qPrintable(catalogPath), qPrintable(xml.errorString()));
    return names;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: kr-palette-icons <resources folder> [contact sheet]\n");
        return 2;
    }
    const QDir resources(QString::fromLocal8Bit(argv[1]));
    const QStringList names = catalogueIcons(resources.filePath(QStringLiteral("KRObjectInfo.xml")));
    if (names.isEmpty())
        return 1;
    if (!resources.mkpath(QStringLiteral("icons"))) {
        std::fprintf(stderr, "cannot create the icons folder\n");
        return 1;
    }
    int failures = 0;
    QImage sheet(int(names.size()) * 72, 72, QImage::Format_ARGB32);
    sheet.fill(Qt::white);
    QPainter sheetPainter(&sheet);
    int drawn = 0;
    for (const QString &name : names) {
        const auto it = painters().find(name);
        if (it == painters().end()) {
            std::fprintf(stderr, "no drawing for the icon \"%s\"\n", qPrintable(name));
            ++failures;
            continue;
        }
        QImage image(32, 32, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        it->second(painter);
        painter.end();
        sheetPainter.drawImage(QRect(drawn++ * 72 + 4, 4, 64, 64), image);
        const QString path = resources.filePath(QStringLiteral("icons/%1.png").arg(name));
        if (!image.convertToFormat(QImage::Format_ARGB32).save(path, "PNG", 9)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            ++failures;
        }
    }
    sheetPainter.end();
    if (argc == 3)
        sheet.save(QString::fromLocal8Bit(argv[2]));
    std::printf("%lld icons\n", static_cast<long long>(names.size()) - failures);
    return failures ? 1 : 0;
}
