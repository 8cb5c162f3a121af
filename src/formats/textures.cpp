#include "formats/textures.h"

#include "effects/relief/texture.h"
#include "raster/errors.h"

#include <QImage>
#include <QString>

#include <cstring>
#include <string>

namespace plumora {

TBitmap32 builtInTexture(int number)
{
    if (number < 1 || number > kTextureCount)
        throw PlumoraError("There is no texture " + std::to_string(number) + ".");
    const QImage image =
        QImage(QStringLiteral(":/textures/texture%1.png").arg(number)).convertToFormat(QImage::Format_RGB32);
    if (image.isNull())
        throw PlumoraError("The texture " + std::to_string(number) + " is missing from the program.");
    TBitmap32 tile(image.width(), image.height());
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(tile.ScanLine(y), image.constScanLine(y), tile.bytesPerLine());
    FillAlpha(tile, 255);
    return tile;
}

}  // namespace plumora
