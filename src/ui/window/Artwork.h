#pragma once

#include <QIcon>
#include <QPixmap>

// The program's own artwork, drawn in code.
namespace artwork {
QIcon windowIcon();                      // 32 x 32
QPixmap arrow(bool right, bool enabled); // 43 x 28, blue, or grey when disabled
QPixmap placeholder();                   // 151 x 104, a grey camera on white
} // namespace artwork
