// A function of an outside library, bound at run time. Calling an entry that
// is not bound (library not loaded, or function not exported by it) raises
// EDorvConduitError instead of jumping through a null pointer.
#pragma once

#include <string>
#include <utility>

#include <fernwick/abi/SyncApi.h>
#include <fernwick/framework/Exceptions.h>

namespace fernwick {

// ErrorCode of the EDorvConduitError raised by a call through an empty entry.
constexpr std::int32_t kErrFunctionNotBound = -2;

template <typename Fn>
class BoundFunction;

template <typename R, typename... Args>
class BoundFunction<R(FW_CDECL*)(Args...)> {
 public:
  using Pointer = R(FW_CDECL*)(Args...);

  explicit constexpr BoundFunction(const char* name) : name_(name) {}

  // The name under which the function is looked up in its library.
  const char* Name() const { return name_; }
  // True when the entry holds an address.
  bool IsBound() const { return fn_ != nullptr; }
  explicit operator bool() const { return IsBound(); }
  Pointer Address() const { return fn_; }
  void Bind(Pointer fn) { fn_ = fn; }

  // Calls the function. Throws EDorvConduitError "<Name> is not bound" with
  // ErrorCode kErrFunctionNotBound when the entry is empty.
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
