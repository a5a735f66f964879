/// \file
/// The HotSync installation path, byte-order reversal between the desktop and
/// the handheld, and the conduit information enumerations (TConduitInfoEnum,
/// TConduitCfgEnum, declared with the entry points' other records in
/// <fernwick/abi/SyncProperties.h>).
#pragma once

#include <cstdint>
#include <string>

#include <fernwick/abi/SyncProperties.h>

namespace fernwick {

/// The HotSync installation folder with a trailing delimiter, from the value
/// "HotSyncPath" under "Software\U.S. Robotics\Pilot Desktop\Core" of the
/// current user (the path of a file in that folder), or "" when there is none.
/// Raises ERegistryException when the value is not a string.
std::string PalmDllPath();

///@{
/// Each returns its argument's bit pattern with the bytes reversed, with no
/// arithmetic in between: NaNs, infinities and denormals come back as bytes,
/// unchanged. One limit of 32-bit x86 (the win32 build): reals are returned
/// on the x87 stack, which turns a signalling NaN into a quiet one (one bit
/// set), so there a result or argument that is a signalling NaN cannot keep
/// its exact pattern; every other pattern does.
std::int16_t ByteSwapSmallint(std::int16_t value);
std::int32_t ByteSwapLongint(std::int32_t value);
float ByteSwapSingle(float value);
double ByteSwapDouble(double value);
///@}

///@{
/// Unit start-up and shutdown of DorvConduitApi, listed in the start-up
/// sequence; the unit holds no state, so neither has work to do.
void InitializeDorvConduitApi();
void FinalizeDorvConduitApi();
///@}

}  // namespace fernwick
