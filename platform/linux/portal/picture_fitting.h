#pragma once

#include <QImage>

#include <cstdint>

// A picture of 32-bit BGRx pixels in an image of exactly `outWidth` ×
// `outHeight`, its shape kept: scaled to the largest size that fits, centred,
// the rest black. What the user shares (another screen, a window) need not
// have the shape of the video.
QImage fitPicture(const uint8_t* pixels, int stride, int width, int height, int outWidth, int outHeight);
