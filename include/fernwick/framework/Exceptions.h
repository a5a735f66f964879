/// \file
/// Exception types of the host component framework, and the library's own
/// EDorvConduitError. Everything the library raises derives from Exception,
/// which derives from std::exception.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace fernwick {

/// Root of the library's exceptions: a message text.
class Exception : public std::exception {
 public:
  /// An exception with the message text `message`.
  explicit Exception(std::string message) : message_(std::move(message)) {}

  ///@{
  /// The message text, as shown to the user or written to the HotSync log.
  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }
  ///@}

 private:
  std::string message_;
};

/// A conversion between text, numbers and dates failed (Format with arguments
/// that do not match, a date outside the handheld's range, ...).
class EConvertError : public Exception {
 public:
  /// Makes the exception with its message text.
  using Exception::Exception;
};

/// A variant value could not be converted to the kind asked for.
class EVariantError : public Exception {
 public:
  /// Makes the exception with its message text.
  using Exception::Exception;
};

/// The registry (or, on POSIX, the registry file) could not be read as asked,
/// for instance a value of the wrong type.
class ERegistryException : public Exception {
 public:
  /// Makes the exception with its message text.
  using Exception::Exception;
};

/// The library's one exception type: a message and a signed 32-bit ErrorCode.
/// A failed Sync Manager call carries its status unchanged as ErrorCode; the
/// library's own checks use 0.
class EDorvConduitError : public Exception {
 public:
  /// An error with `message` and `error_code` (0 for the library's own checks).
  explicit EDorvConduitError(std::string message, std::int32_t error_code = 0)
      : Exception(std::move(message)), error_code_(error_code) {}

  /// The Sync Manager status of a failed call, or 0.
  std::int32_t ErrorCode() const noexcept { return error_code_; }

 private:
  std::int32_t error_code_;
};

/// The line to report for an exception that reached an entry point. The
/// library's own exceptions (Exception and its descendants) give their message
/// unchanged. Any other std::exception says what kind of failure it was
/// before its what(): std::invalid_argument("stoi") gives
/// "Unexpected exception std::invalid_argument: stoi".
std::string ExceptionReport(const std::exception& e);

}  // namespace fernwick
