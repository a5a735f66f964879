/// \file
/// A function of an outside library, bound at run time. Calling an entry that
/// is not bound (library not loaded, or function not exported by it) raises
/// EDorvConduitError instead of jumping through a null pointer.
#pragma once

#include <string>
#include <utility>

#include <fernwick/abi/SyncApi.h>
#include <fernwick/framework/Exceptions.h>

namespace fernwick {

/// ErrorCode of the EDorvConduitError raised by a call through an empty entry.
constexpr std::int32_t kErrFunctionNotBound = -2;

template <typename Fn>
class BoundFunction;

/// The entry of one function of type `R(FW_CDECL*)(Args...)`: its name and,
/// once bound, its address. Entries are module-wide objects, bound and
/// emptied by their unit's start-up and shutdown.
template <typename R, typename... Args>
class BoundFunction<R(FW_CDECL*)(Args...)> {
 public:
  /// The function's pointer type.
  using Pointer = R(FW_CDECL*)(Args...);

  /// An empty entry for the function exported as `name` (a string literal:
  /// it is kept, not copied).
  explicit constexpr BoundFunction(const char* name) : name_(name) {}

  /// The name under which the function is looked up in its library.
  const char* Name() const { return name_; }
  ///@{
  /// True when the entry holds an address.
  bool IsBound() const { return fn_ != nullptr; }
  explicit operator bool() const { return IsBound(); }
  ///@}
  /// The bound address, or nullptr.
  Pointer Address() const { return fn_; }
  /// Stores `fn` (nullptr empties the entry).
  void Bind(Pointer fn) { fn_ = fn; }

  /// Calls the function. Throws EDorvConduitError "<Name> is not bound" with
  /// ErrorCode kErrFunctionNotBound when the entry is empty.
  R operator()(Args... args) const {
    if (fn_ == nullptr) {
      throw EDorvConduitError(std::string(name_) + " is not bound", kErrFunctionNotBound);
    }
    return fn_(std::forward<Args>(args)...);
  }

 private:
  const char* name_;
  Pointer fn_ = nullptr;
};

}  // namespace fernwick
