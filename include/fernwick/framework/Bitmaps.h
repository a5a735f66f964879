/// \file
/// Device-independent bitmaps (.bmp) as the library's images are stored.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include <fernwick/framework/Exceptions.h>

namespace fernwick {

/// A bitmap could not be read.
class EInvalidGraphic : public Exception {
 public:
  /// Makes the exception with its message text.
  using Exception::Exception;
};

/// A decoded bitmap: rows from the top, each pixel 0x00RRGGBB.
struct TBitmapImage {
  int width = 0;                      ///< in pixels
  int height = 0;                     ///< in pixels
  std::vector<std::uint32_t> pixels;  ///< width * height pixels, row by row
  /// Bits per pixel of the stored file (4 for a 16-colour bitmap).
  int bits_per_pixel = 0;

  /// The pixel in column `x` of row `y` (from the top). REQUIRES: both inside
  /// the bitmap.
  std::uint32_t Pixel(int x, int y) const {
    return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                  static_cast<std::size_t>(x)];
  }
};

/// Largest width or height DecodeBitmap accepts.
constexpr int kMaxBitmapSide = 4096;

/// Decodes an uncompressed Windows bitmap file (BITMAPFILEHEADER then
/// BITMAPINFOHEADER) with 1, 4, 8 or 24 bits per pixel, bottom-up or
/// top-down. Raises EInvalidGraphic naming `source` for anything else,
/// including a file shorter than its header says.
TBitmapImage DecodeBitmap(std::string_view bytes, std::string_view source);

}  // namespace fernwick
