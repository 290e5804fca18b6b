#include "KRViewDrawing.h"

#include <QApplication>

#include <cmath>

namespace KRViewDrawing {

QFont systemFont(qreal pixelSize, bool bold)
{
    QFont font = QApplication::font();
    if (pixelSize == std::floor(pixelSize))
        font.setPixelSize(int(pixelSize));
    else
        font.setPointSizeF(pixelSize * 72.0 / 96.0); // 96 dpi is Qt's logical pixel
    font.setBold(bold);
    return font;
}

} // namespace KRViewDrawing
