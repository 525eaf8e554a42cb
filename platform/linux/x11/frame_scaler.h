#pragma once

#include <QImage>

#include <cstdint>

// Scales 32-bit BGRx pixels (what the X server hands out) to an opaque image
// of exactly `width` × `height`: halving by 2×2 averages, then area averaging,
// when shrinking; bilinear when enlarging. Returns a null image when the
// sizes make no sense.
QImage scaleBgrx(const uint8_t* pixels, int stride, int width, int height, int outWidth, int outHeight);
