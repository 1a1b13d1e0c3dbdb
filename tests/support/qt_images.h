#pragma once

#include <QColor>
#include <QImage>
#include <string>

namespace tavimo::testing {

// A JPEG stream of a width x height picture in one colour, as Qt writes it.
std::string ColourJpeg(int width, int height, QColor colour = Qt::red);
// The image in PNG bytes; a null image when they are not one.
QImage DecodePng(const std::string& png);
// `image` as PNG bytes.
std::string EncodePng(const QImage& image);

}  // namespace tavimo::testing
