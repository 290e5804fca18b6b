#include "KRUserDeviceInformation.h"

#include <core/KRJSONSerialization.h>
#include <model/KRObjectInfo.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPainterPath>

QImage KRUserDeviceInformation::image() const
{
    const int w = std::max(0, int(width)) + 96;
    const int h = std::max(0, int(height)) + 96;
    QImage picture(w, h, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath body;
    body.addRoundedRect(QRectF(0, 0, w, h), 24, 24);
    painter.fillPath(body, QColor::fromRgbF(0.4, 0.4, 0.4, 1.0));
    QPainterPath outline;
    outline.addRoundedRect(QRectF(1, 1, w - 2, h - 2), 23, 23);
    painter.setPen(QPen(Qt::black, 3));
    painter.drawPath(outline);
    painter.drawRect(QRectF(48 - 1, 48 - 1, width + 2, height + 2));
    painter.end();
    return picture;
}

QList<std::shared_ptr<KRUserDeviceInformation>>
KRUserDeviceInformation::storedDevices(const KRUserDefaults &defaults)
{
    KRResult<QList<std::shared_ptr<KRUserDeviceInformation>>> devices = readStoredDevices(defaults);
    return devices ? devices.value() : QList<std::shared_ptr<KRUserDeviceInformation>>();
}

KRResult<QList<std::shared_ptr<KRUserDeviceInformation>>>
KRUserDeviceInformation::readStoredDevices(const KRUserDefaults &defaults)
{
    QList<std::shared_ptr<KRUserDeviceInformation>> devices;
    const QString text = defaults.stringValue(UserDevicesKey);
    if (text.isEmpty())
        return devices;
    const KRResult<QJsonDocument> json = KRJSONSerialization::readDocument(text.toUtf8());
    if (!json)
        return json.error();
    if (!json.value().isArray())
        return KRError(QStringLiteral("UserDevice"), 101, QStringLiteral("The stored value is no list of devices."));
    for (const QJsonValue &entry : json.value().array()) {
        const QJsonObject object = entry.toObject();
        const QString id = object.value(QStringLiteral("deviceID")).toString();
        if (id.isEmpty())
            continue;
        auto device = std::make_shared<KRUserDeviceInformation>();
        device->deviceID = id;
        device->storedID = id;
        device->name = object.value(QStringLiteral("name")).toString();
        device->width = object.value(QStringLiteral("width")).toInt();
        device->height = object.value(QStringLiteral("height")).toInt();
        devices.append(device);
    }
    return devices;
}

void KRUserDeviceInformation::storeDevices(const QList<std::shared_ptr<KRUserDeviceInformation>> &devices,
                                           KRUserDefaults &defaults)
{
    if (devices.isEmpty()) {
        defaults.removeObject(UserDevicesKey);
        return;
    }
    QJsonArray array;
    for (const auto &device : devices) {
        QJsonObject object;
        object.insert(QStringLiteral("deviceID"), device->deviceID);
        object.insert(QStringLiteral("name"), device->name);
        object.insert(QStringLiteral("width"), int(device->width));
        object.insert(QStringLiteral("height"), int(device->height));
        array.append(object);
        device->storedID = device->deviceID;
    }
    defaults.setValue(UserDevicesKey,
                      QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact)));
}

KRResult<void> KRUserDeviceInformation::validateDeviceID(const QString &id,
                                                         const KRUserDefaults &defaults) const
{
    if (KRObjectInfo::sharedInstance().standardDeviceInformation().contains(id))
        return KRError(QStringLiteral("UserDevice"), 100, QStringLiteral("Sorry, that device ID is reserved."));
    for (const auto &other : storedDevices(defaults)) {
        if (other->deviceID == id && !(storedID == id && !storedID.isEmpty()))
            return KRError(QStringLiteral("UserDevice"), 100,
                           QStringLiteral("Sorry, the device ID must be unique."));
    }
    return {};
}

bool KRUserDeviceInformation::setValue(const QString &key, const QVariant &value, KRUserDefaults &defaults)
{
    if (key == QLatin1String("deviceID")) {
        if (!defaults.boolValue(SuppressAlertKey)) {
            KRAlert alert;
            alert.messageText = QStringLiteral("Change Device ID?");
            alert.informativeText = QStringLiteral(
                "Use caution when changing device IDs.  This can have adverse effects if you've "
                "already created projects using this device ID.");
            alert.buttonTitles = {QStringLiteral("Change Device ID"), QStringLiteral("Discard Change")};
            alert.destructive = true;
            alert.suppressionButtonTitle = QStringLiteral("Do not show this message again");
            const int answer = KRAlertService::current().runModal(alert);
            // A ticked box counts whatever the button.
            if (*alert.suppressionButtonChecked)
                defaults.setValue(SuppressAlertKey, true);
            if (answer != KRAlertService::FirstButtonReturn)
                return false;
        }
        deviceID = value.toString();
    } else if (key == QLatin1String("name")) {
        name = value.toString();
    } else if (key == QLatin1String("width")) {
        width = value.toInt();
    } else if (key == QLatin1String("height")) {
        height = value.toInt();
    } else {
        return false;
    }
    if (delegate)
        delegate->userDeviceDidChange(this);
    return true;
}
