#include "link/DorvConduitApi.h"

#include <algorithm>
#include <cstring>

namespace fernwick {

namespace {

// Reverses the bytes of a value without any arithmetic on it, so that every
// bit pattern (NaNs and denormals of the floating-point types included)
// comes back reversed and nothing else.
template <typename T>
T ReverseBytes(T value) {
  unsigned char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  std::reverse(bytes, bytes + sizeof(T));
  T result;
  std::memcpy(&result, bytes, sizeof(T));
  return result;
}

}  // namespace

std::int16_t ByteSwapSmallint(std::int16_t value) { return ReverseBytes(value); }
std::int32_t ByteSwapLongint(std::int32_t value) { return ReverseBytes(value); }
float ByteSwapSingle(float value) { return ReverseBytes(value); }
double ByteSwapDouble(double value) { return ReverseBytes(value); }

}  // namespace fernwick
