#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <vector>

#include <fernwick/link/DorvConduitApi.h>

namespace fernwick {
namespace {

TEST(ByteSwap, IntegersReverseTheirBytes) {
  EXPECT_EQ(ByteSwapSmallint(1), 256);
  EXPECT_EQ(ByteSwapSmallint(128), -32768);
  EXPECT_EQ(ByteSwapSmallint(-1), -1);
  EXPECT_EQ(ByteSwapSmallint(0x1234), 0x3412);
  EXPECT_EQ(ByteSwapLongint(1), 16777216);
  EXPECT_EQ(ByteSwapLongint(0x01020304), 0x04030201);
  EXPECT_EQ(ByteSwapLongint(static_cast<std::int32_t>(0x80FF0001u)), 0x0100FF80);
}

std::uint32_t Reversed32(std::uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

std::uint64_t Reversed64(std::uint64_t v) {
  return (static_cast<std::uint64_t>(Reversed32(static_cast<std::uint32_t>(v))) << 32) |
         Reversed32(static_cast<std::uint32_t>(v >> 32));
}

// On 32-bit x86 a real comes back from a function on the x87 stack, which
// turns a signalling NaN into a quiet one: there, a pattern that is a
// signalling NaN cannot be returned unchanged, so such patterns are left out
// of the exact checks. Everywhere else every pattern must survive.
#if defined(__i386__) || defined(_M_IX86)
constexpr bool kRealReturnQuietsNaN = true;
#else
constexpr bool kRealReturnQuietsNaN = false;
#endif

bool IsSignallingNaN64(std::uint64_t bits) {
  return (bits & 0x7FF0000000000000u) == 0x7FF0000000000000u && (bits & 0x000FFFFFFFFFFFFFu) != 0 &&
         (bits & 0x0008000000000000u) == 0;
}

bool IsSignallingNaN32(std::uint32_t bits) {
  return (bits & 0x7F800000u) == 0x7F800000u && (bits & 0x007FFFFFu) != 0 &&
         (bits & 0x00400000u) == 0;
}

std::vector<std::uint64_t> Patterns64() {
  std::vector<std::uint64_t> patterns = {
      0,
      0x8000000000000000u,  // -0
      0x3FF0000000000000u,  // 1.0
      0x7FF0000000000000u,
      0xFFF0000000000000u,  // infinities
      0x7FF8000000000000u,
      0xFFF8000000000001u,  // quiet NaNs
      0x7FF0000000000001u,
      0x7FF4000000000000u,  // signalling NaNs
      0x0000000000000001u,
      0x800FFFFFFFFFFFFFu,  // denormals
      0x01000000000000F0u,
      0xF87F000000000000u,  // NaNs once reversed
      0x0123456789ABCDEFu,
  };
  std::mt19937_64 random(20260607);
  for (int i = 0; i < 200000; ++i) patterns.push_back(random());
  return patterns;
}

TEST(ByteSwap, DoubleSwappedTwiceGivesBackEveryBitPattern) {
  for (std::uint64_t bits : Patterns64()) {
    const std::uint64_t reversed = Reversed64(bits);
    const double once = ByteSwapDouble(std::bit_cast<double>(bits));
    if (!(kRealReturnQuietsNaN && IsSignallingNaN64(reversed))) {
      ASSERT_EQ(std::bit_cast<std::uint64_t>(once), reversed) << std::hex << bits;
    }
    if (kRealReturnQuietsNaN && (IsSignallingNaN64(bits) || IsSignallingNaN64(reversed))) continue;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(ByteSwapDouble(once)), bits) << std::hex << bits;
  }
}

TEST(ByteSwap, SingleSwappedTwiceGivesBackEveryBitPattern) {
  // Every one of the 2^32 patterns would take too long under wine; a stride
  // that is prime to 2^32 still reaches every byte value in every position.
  std::vector<std::uint32_t> patterns = {0x7F800001u, 0x7FA00000u, 0x0180807Fu, 0x7FC00000u,
                                         0x00000001u, 0x80000000u, 0xFF800000u};
  for (std::uint64_t i = 0; i < (1ull << 32); i += 8191)
    patterns.push_back(static_cast<std::uint32_t>(i));
  for (std::uint32_t bits : patterns) {
    const std::uint32_t reversed = Reversed32(bits);
    const float once = ByteSwapSingle(std::bit_cast<float>(bits));
    if (!(kRealReturnQuietsNaN && IsSignallingNaN32(reversed))) {
      ASSERT_EQ(std::bit_cast<std::uint32_t>(once), reversed) << std::hex << bits;
    }
    if (kRealReturnQuietsNaN && (IsSignallingNaN32(bits) || IsSignallingNaN32(reversed))) continue;
    ASSERT_EQ(std::bit_cast<std::uint32_t>(ByteSwapSingle(once)), bits) << std::hex << bits;
  }
}

}  // namespace
}  // namespace fernwick
