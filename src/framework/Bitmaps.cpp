#include <string>

#include <fernwick/framework/Bitmaps.h>

namespace fernwick {

namespace {

// Little-endian readers over a checked span.
std::uint32_t Get(std::string_view bytes, std::size_t at, int count) {
  std::uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) {
    value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
  }
  return value;
}

}  // namespace

// File layout (all little-endian):
//   0   2  "BM"
//   10  4  offset of the pixel rows
//   14  4  header size (40 or more)
//   18  4  width;  22  4  height (negative: rows from the top)
//   26  2  planes (1);  28  2  bits per pixel;  30  4  compression (0)
//   46  4  colours used (0: all of 2^bits)
//   14 + header size: the palette, 4 bytes per colour (blue, green, red, 0)
// Each row is padded to a multiple of 4 bytes.
TBitmapImage DecodeBitmap(std::string_view bytes, std::string_view source) {
  auto fail = [&](const char* why) -> void {
    throw EInvalidGraphic("Bitmap " + std::string(source) + ": " + why);
  };
  if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M') fail("not a bitmap file");
  std::uint32_t offset = Get(bytes, 10, 4);
  std::uint32_t header = Get(bytes, 14, 4);
  auto width = static_cast<std::int32_t>(Get(bytes, 18, 4));
  auto height = static_cast<std::int32_t>(Get(bytes, 22, 4));
  std::uint32_t bits = Get(bytes, 28, 2);
  if (header < 40 || header > bytes.size() - 14) fail("unsupported header");
  if (Get(bytes, 26, 2) != 1 || Get(bytes, 30, 4) != 0)
    fail("compressed bitmaps are not supported");
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24) fail("unsupported number of colours");
  bool top_down = height < 0;
  if (top_down) height = -height;
  if (width <= 0 || width > kMaxBitmapSide || height <= 0 || height > kMaxBitmapSide) {
    fail("size out of range");
  }
  std::vector<std::uint32_t> palette;
  if (bits <= 8) {
    std::uint32_t colours = Get(bytes, 46, 4);
    if (colours == 0) colours = 1u << bits;
    if (colours > (1u << bits)) fail("palette too large");
    std::size_t start = 14 + header;
    if (start + colours * 4 > bytes.size()) fail("palette cut short");
    for (std::uint32_t i = 0; i < colours; ++i) palette.push_back(Get(bytes, start + i * 4, 3));
  }
  std::size_t row = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
  if (offset > bytes.size() || (bytes.size() - offset) / row < static_cast<std::size_t>(height)) {
    fail("pixel rows cut short");
  }
  TBitmapImage image;
  image.width = width;
  image.height = height;
  image.bits_per_pixel = static_cast<int>(bits);
  image.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    std::size_t base = offset + row * static_cast<std::size_t>(top_down ? y : height - 1 - y);
    for (int x = 0; x < width; ++x) {
      std::uint32_t pixel = 0;
      if (bits == 24) {
        pixel = Get(bytes, base + static_cast<std::size_t>(x) * 3, 3);
      } else {
        std::size_t bit = static_cast<std::size_t>(x) * bits;
        auto byte = static_cast<unsigned char>(bytes[base + bit / 8]);
        std::uint32_t index = (byte >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
        if (index >= palette.size()) fail("colour index outside the palette");
        pixel = palette[index];
      }
      image.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                   static_cast<std::size_t>(x)] = pixel;
    }
  }
  return image;
}

}  // namespace fernwick
