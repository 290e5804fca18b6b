#include "KRDeviceInformation.h"

#include <platform/foundation/KRResources.h>

QString KRDeviceInformation::imagePath() const
{
    if (imageName.isEmpty())
        return {};
    const QString folder = imageFolder.isEmpty() ? KRResources::pathForResource(QStringLiteral("devices"))
                                                 : imageFolder;
    return folder + QLatin1Char('/') + imageName + QStringLiteral(".png");
}

QImage KRDeviceInformation::image() const
{
    const QString path = imagePath();
    return path.isEmpty() ? QImage() : QImage(path);
}
