/// \file
/// Resources compiled into a library: named blocks of bytes (form
/// descriptions, bitmaps) that the build embeds from the resources/ folder.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace fernwick {

/// One embedded resource.
struct TResourceEntry {
  const char* type;           ///< "FORM", "BITMAP"
  const char* name;           ///< "TDORVCONFIGUREDLG", in capitals
  const unsigned char* data;  ///< the bytes, alive as long as the library
  std::size_t size;           ///< their number

  /// The bytes as a view.
  std::string_view Bytes() const { return {reinterpret_cast<const char*>(data), size}; }
};

/// The resource of that type and name (names compared ignoring case) in
/// `table`, or nullptr.
const TResourceEntry* FindResource(std::span<const TResourceEntry> table, std::string_view type,
                                   std::string_view name);

}  // namespace fernwick
