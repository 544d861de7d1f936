#include "tests/ui/UiTestSupport.h"

QImage checkerImage(int modules)
{
    QImage image(modules, modules, QImage::Format_RGB32);
    for (int y = 0; y < modules; ++y)
        for (int x = 0; x < modules; ++x)
            image.setPixel(x, y, (x * 7 + y * 3) % 5 < 2 ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
    return image;
}
