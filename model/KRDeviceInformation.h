#pragma once

#include <QImage>
#include <QString>

#include <cstdint>

// One target device: the display area of its picture, where that area sits in the picture,
// and the screen size given to the generated application.
class KRDeviceInformation
{
public:
    virtual ~KRDeviceInformation() = default;

    QString deviceID;
    QString name;
    QString imageName;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t screenWidth = 0;
    std::int32_t screenHeight = 0;

    virtual std::int32_t offsetX() const { return m_offsetX; }
    virtual std::int32_t offsetY() const { return m_offsetY; }
    void setOffset(std::int32_t x, std::int32_t y)
    {
        m_offsetX = x;
        m_offsetY = y;
    }

    // The device picture: the PNG "<imageName>.png" in the catalogue's device-image folder;
    // a null image when it cannot be read.
    virtual QImage image() const;
    // Path of that picture (empty without an image name).
    QString imagePath() const;

    // Folder of the device pictures (the catalogue's "imageFolder"); empty: the resources'
    // "devices" folder.
    QString imageFolder;

private:
    std::int32_t m_offsetX = 0;
    std::int32_t m_offsetY = 0;
};
