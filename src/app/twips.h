#pragma once

#include <QRect>
#include <QtMath>

namespace kestrella {

// Layouts are drawn in twips; 15 twips make one device-independent pixel.
constexpr int twipsToPixels(int twips)
{
    return (twips + (twips >= 0 ? 7 : -7)) / 15;
}

inline QRect twipsRect(int left, int top, int width, int height)
{
    return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height)};
}

} // namespace kestrella
