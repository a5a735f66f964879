#include <algorithm>
#include <cstring>

#include <fernwick/framework/Registry.h>
#include <fernwick/framework/SysUtils.h>
#include <fernwick/link/DorvConduitApi.h>

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

std::string PalmDllPath() {
  std::string result;
  // The registry accessor is released on every way out, also when reading
  // raises.
  TRegistry registry;
  if (registry.OpenKeyReadOnly("Software\\U.S. Robotics\\Pilot Desktop\\Core")) {
    // The value names a file (HotSync Manager's program) in the installation
    // folder.
    result = ExtractFilePath(registry.ReadString("HotSyncPath"));
  }
  if (!result.empty() && result.back() != PathDelimiter()) result += PathDelimiter();
  return result;
}

std::int16_t ByteSwapSmallint(std::int16_t value) { return ReverseBytes(value); }
std::int32_t ByteSwapLongint(std::int32_t value) { return ReverseBytes(value); }
float ByteSwapSingle(float value) { return ReverseBytes(value); }
double ByteSwapDouble(double value) { return ReverseBytes(value); }

// The unit holds no state of its own: nothing to set up or release.
void InitializeDorvConduitApi() {}
void FinalizeDorvConduitApi() {}

}  // namespace fernwick
