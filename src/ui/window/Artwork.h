#pragma once

#include <QByteArray>
#include <QIcon>
#include <QImage>
#include <QPixmap>

// The program's own artwork, drawn in code.
namespace artwork {
QIcon windowIcon();                      // 32 x 32, iconImage(32)
QImage iconImage(int size);              // the program's icon, size x size
QByteArray iconSvg();                    // the same icon as SVG, 256 x 256
QPixmap arrow(bool right, bool enabled); // 43 x 28, blue, or grey when disabled
QPixmap placeholder();                   // 151 x 104, a grey camera on white
} // namespace artwork
