/// \file
/// A read-only reader of the current user's registry, shaped like the host
/// framework's TRegistry.
///
/// Windows: the real registry under HKEY_CURRENT_USER.
///
/// POSIX: a registry file in the Windows registry-export text format, found
/// through the environment variable FERNWICK_REGISTRY, or, when that is not
/// set, at $HOME/.fernwick/registry.reg. No file means an empty registry. The
/// file is read, never written:
///
/// ```
///   Windows Registry Editor Version 5.00        (or: REGEDIT4)
///
///   ; a comment
///   [HKEY_CURRENT_USER\Software\U.S. Robotics\Pilot Desktop\Core]
///   "HotSyncPath"="/opt/palm/HotSync.exe"
///   "Flags"=dword:00000001
///   @="the key's default value"
/// ```
///
/// Only keys under HKEY_CURRENT_USER (or HKCU) are visible. Key and value
/// names compare without regard to the case of A to Z. In a string value "\\"
/// stands for a backslash and "\"" for a double quote. Values written as
/// dword:, hex: or hex(n): (with "\" line continuations) are recognised as
/// values of those types, not as strings. A section "[-KEY]" removes that key
/// and its subkeys and a line "Name"=- removes the value, as when the file is
/// imported. The file may be UTF-8 (with or without byte-order mark) or
/// UTF-16LE with a byte-order mark, as the registry editor writes it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace fernwick {

/// The type of a registry value.
enum TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

/// The POSIX registry file in use: $FERNWICK_REGISTRY when set and not empty,
/// else $HOME/.fernwick/registry.reg, else "" (no registry). On Windows "".
std::string RegistryFileName();

/// A read-only registry accessor. Its root is HKEY_CURRENT_USER.
class TRegistry {
 public:
  TRegistry();
  ~TRegistry();
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  /// Opens `key` (a path below the root, such as
  /// "Software\U.S. Robotics\Pilot Desktop\Core", with or without a leading
  /// backslash) for reading. Returns false when it does not exist. Closes the
  /// key opened before. On POSIX, throws ERegistryException when the registry
  /// file exists but cannot be read or is not a registry file (the message
  /// names the file and the line).
  bool OpenKeyReadOnly(const std::string& key);

  /// Closes the open key, if any.
  void CloseKey();

  /// True when the open key holds a value `name`.
  bool ValueExists(const std::string& name) const;

  /// The type of the value `name` of the open key; rdUnknown when it is
  /// missing or there is no open key.
  TRegDataType GetDataType(const std::string& name) const;

  /// The string value `name` of the open key; "" when the value is missing or
  /// no key is open. Throws ERegistryException "Invalid data type for '<name>'"
  /// when the value exists but is not a string.
  std::string ReadString(const std::string& name) const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace fernwick
