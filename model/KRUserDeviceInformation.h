#pragma once

#include <model/KRDeviceInformation.h>
#include <platform/foundation/KRError.h>

#include <QList>

#include <memory>

class KRUserDefaults;
class KRUserDeviceInformation;

class KRUserDeviceInformationDelegate
{
public:
    virtual ~KRUserDeviceInformationDelegate() = default;
    virtual void userDeviceDidChange(KRUserDeviceInformation *device) = 0;
};

// A device the user defines in the preferences. Only id, name, width and height are kept;
// the picture is drawn from the size, with the display area 48 pixels in from each edge.
// The user default "userDevices" holds the list as a JSON array of objects with the members
// "deviceID", "name", "width" and "height".
class KRUserDeviceInformation : public KRDeviceInformation
{
public:
    static inline const QString UserDevicesKey = QStringLiteral("userDevices");
    static inline const QString SuppressAlertKey = QStringLiteral("suppressUserDeviceIDAlert");

    std::int32_t offsetX() const override { return 48; }
    std::int32_t offsetY() const override { return 48; }

    // (width + 96) by (height + 96): a grey rounded body with a black outline and the black
    // outline of the display area.
    QImage image() const override;

    // The stored list; entries that are no objects or have no id are skipped.
    static QList<std::shared_ptr<KRUserDeviceInformation>> storedDevices(const KRUserDefaults &defaults);
    // The same, or why a stored value is no list the reader takes (unreadable, nested too
    // deep, no array); none stored is an empty list.
    static KRResult<QList<std::shared_ptr<KRUserDeviceInformation>>> readStoredDevices(const KRUserDefaults &defaults);
    // Stores the whole list, or removes the default when the list is empty.
    static void storeDevices(const QList<std::shared_ptr<KRUserDeviceInformation>> &devices,
                             KRUserDefaults &defaults);

    // A new id must be no catalogue device and no other stored user device (this record's
    // own stored entry does not count, so confirming an unchanged id passes).
    // Errors: domain "UserDevice", code 100.
    KRResult<void> validateDeviceID(const QString &deviceID, const KRUserDefaults &defaults) const;

    // Key-value setting of "deviceID", "name", "width" or "height". Changing the id asks
    // first (unless "suppressUserDeviceIDAlert" is set); any answer but "Change Device ID"
    // discards it. Returns whether the value was applied; an applied change is reported to
    // the delegate.
    bool setValue(const QString &key, const QVariant &value, KRUserDefaults &defaults);

    KRUserDeviceInformationDelegate *delegate = nullptr; // not owned

    // The id this record had when it was last stored (tells its own entry from others').
    QString storedID;
};
