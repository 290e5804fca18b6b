// Draws a plain device frame for every device of the catalogue, and the design-surface
// background tiles. Usage: kr-device-frames <resources folder>
//
// Each frame is the device's display area (size) at its offset, with the same margin on the
// opposite sides, so the picture is (width + 2 * offsetX) by (height + 2 * offsetY). Phones and
// tablets whose name starts with "iP" get a round home button below the display; the others a
// slim speaker slot only.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QXmlStreamReader>

#include <cstdio>
#include <vector>

namespace {

struct Device {
    QString id;
    QString name;
    QString imageName;
    int width = 0;
    int height = 0;
    int offsetX = 0;
    int offsetY = 0;
};

bool readDevices(const QString &catalogPath, QString &folder, std::vector<Device> &devices)
{
    QFile file(catalogPath);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(catalogPath));
        return false;
    }
    QXmlStreamReader xml(&file);
    Device current;
    bool inDevice = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const auto name = xml.name();
            if (name == QLatin1String("devices")) {
                folder = xml.attributes().value(QLatin1String("imageFolder")).toString();
            } else if (name == QLatin1String("device")) {
                current = Device{};
                current.id = xml.attributes().value(QLatin1String("id")).toString();
                inDevice = true;
            } else if (inDevice && name == QLatin1String("name")) {
                current.name = xml.readElementText();
            } else if (inDevice && name == QLatin1String("imageName")) {
                current.imageName = xml.readElementText();
            } else if (inDevice && name == QLatin1String("size")) {
                current.width = xml.attributes().value(QLatin1String("width")).toInt();
                current.height = xml.attributes().value(QLatin1String("height")).toInt();
            } else if (inDevice && name == QLatin1String("offset")) {
                current.offsetX = xml.attributes().value(QLatin1String("x")).toInt();
                current.offsetY = xml.attributes().value(QLatin1String("y")).toInt();
            }
        } else if (xml.isEndElement() && xml.name() == QLatin1String("device")) {
            devices.push_back(current);
            inDevice = false;
        }
    }
    if (xml.hasError()) {
        std::fprintf(stderr, "%s line %lld: %s\n", qPrintable(catalogPath),
                     static_cast<long long>(xml.lineNumber()), qPrintable(xml.errorString()));
        return false;
    }
    return true;
}

QImage drawFrame(const Device &d)
{
    const int w = d.width + 2 * d.offsetX;
    const int h = d.height + 2 * d.offsetY;
    const bool tablet = d.width >= 600;
    const bool homeButton = d.name.startsWith(QLatin1String("iP"));

    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    // Body.
    const qreal radius = (tablet ? 0.06 : 0.14) * qMin(w, h);
    QRectF body(1, 1, w - 2, h - 2);
    QLinearGradient shade(0, 0, 0, h);
    shade.setColorAt(0, QColor(0x3c, 0x3d, 0x41));
    shade.setColorAt(1, QColor(0x1f, 0x20, 0x23));
    p.setPen(QPen(QColor(0x0c, 0x0c, 0x0d), 2));
    p.setBrush(shade);
    p.drawRoundedRect(body, radius, radius);
    p.setPen(QPen(QColor(0x62, 0x63, 0x68), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(body.adjusted(3, 3, -3, -3), radius - 3, radius - 3);

    // Display area: the page is shown over it.
    p.setPen(QPen(QColor(0x08, 0x08, 0x08), 2));
    p.setBrush(QColor(0x10, 0x10, 0x12));
    p.drawRect(QRectF(d.offsetX - 1, d.offsetY - 1, d.width + 2, d.height + 2));

    // Speaker slot and camera in the top margin.
    const qreal topMiddle = d.offsetY / 2.0;
    const qreal slotWidth = qMin(72.0, w * 0.18);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x0e, 0x0e, 0x10));
    p.drawRoundedRect(QRectF((w - slotWidth) / 2, topMiddle - 3, slotWidth, 6), 3, 3);
    p.drawEllipse(QPointF(w / 2.0 - slotWidth / 2 - 16, topMiddle), 4.5, 4.5);

    // Home button in the bottom margin.
    if (homeButton) {
        const qreal diameter = qMin(d.offsetY * 0.56, 64.0);
        const QPointF centre(w / 2.0, h - d.offsetY / 2.0);
        p.setPen(QPen(QColor(0x55, 0x56, 0x5b), 2));
        p.setBrush(QColor(0x18, 0x18, 0x1b));
        p.drawEllipse(centre, diameter / 2, diameter / 2);
        const qreal square = diameter * 0.3;
        p.setPen(QPen(QColor(0x6a, 0x6b, 0x70), 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(centre.x() - square / 2, centre.y() - square / 2, square, square), 2, 2);
    }
    p.end();
    return image;
}

// Pattern tiles of the design surface, repeated by the view.
QImage backgroundTile(const QString &kind)
{
    QImage tile(40, 40, QImage::Format_RGB32);
    QPainter p(&tile);
    if (kind == QLatin1String("grid")) {
        tile.fill(QColor(0xf4, 0xf4, 0xf4));
        p.setPen(QColor(0xe2, 0xe2, 0xe2));
        p.drawLine(0, 20, 39, 20);
        p.drawLine(20, 0, 20, 39);
        p.setPen(QColor(0xd0, 0xd0, 0xd0));
        p.drawLine(0, 0, 39, 0);
        p.drawLine(0, 0, 0, 39);
    } else if (kind == QLatin1String("dark")) {
        tile.fill(QColor(0x3a, 0x3b, 0x3f));
    } else if (kind == QLatin1String("checkerboard")) {
        tile.fill(QColor(0xff, 0xff, 0xff));
        p.fillRect(0, 0, 20, 20, QColor(0xe6, 0xe6, 0xe6));
        p.fillRect(20, 20, 20, 20, QColor(0xe6, 0xe6, 0xe6));
    } else {
        tile.fill(QColor(0xec, 0xec, 0xec));
    }
    p.end();
    return tile;
}

bool save(const QImage &image, const QString &path)
{
    if (!image.save(path, "PNG", 9)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s (%dx%d, %lld bytes)\n", qPrintable(path), image.width(), image.height(),
                static_cast<long long>(QFileInfo(path).size()));
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <resources folder>\n", argv[0]);
        return 2;
    }
    const QDir resources(QString::fromLocal8Bit(argv[1]));
    QString folder;
    std::vector<Device> devices;
    if (!readDevices(resources.filePath(QStringLiteral("KRObjectInfo.xml")), folder, devices))
        return 1;
    if (folder.isEmpty())
        folder = QStringLiteral("devices");
    resources.mkpath(folder);
    for (const Device &d : devices) {
        if (d.imageName.isEmpty() || d.width <= 0 || d.height <= 0) {
            std::fprintf(stderr, "device %s: no picture name or size\n", qPrintable(d.id));
            return 1;
        }
        if (!save(drawFrame(d), resources.filePath(folder + u'/' + d.imageName + QStringLiteral(".png"))))
            return 1;
    }
    resources.mkpath(QStringLiteral("backgrounds"));
    for (const char *kind : {"grid", "plain", "dark", "checkerboard"}) {
        const QString name = QStringLiteral("backgrounds/KR-design-background-%1.png").arg(QLatin1String(kind));
        if (!save(backgroundTile(QLatin1String(kind)), resources.filePath(name)))
            return 1;
    }
    return 0;
}
