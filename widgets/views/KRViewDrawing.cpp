#include "KRViewDrawing.h"

#include <QApplication>

namespace KRViewDrawing {

QFont systemFont(qreal pixelSize, bool bold)
{
    QFont font = QApplication::font();
    font.setPixelSize(qRound(pixelSize));
    font.setBold(bold);
    return font;
}

} // namespace KRViewDrawing
