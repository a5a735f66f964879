#include <cstdlib>
#include <string_view>
#include <typeinfo>

#include <fernwick/framework/Exceptions.h>

#if __has_include(<cxxabi.h>)
#include <cxxabi.h>
#define FERNWICK_HAS_CXXABI 1
#endif

namespace fernwick {

namespace {

// The type's name as the source spells it ("std::invalid_argument"), as far
// as the compiler's type information allows.
std::string TypeName(const std::type_info& type) {
  std::string name = type.name();
#ifdef FERNWICK_HAS_CXXABI
  int status = 0;
  if (char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status)) {
    if (status == 0) name = demangled;
    std::free(demangled);
  }
#endif
  // Prefixes that say nothing to the reader: MSVC's "class ", and the
  // standard library's inline namespaces.
  for (const std::string_view noise : {"class ", "struct ", "__cxx11::", "__1::"}) {
    for (std::size_t at = name.find(noise); at != std::string::npos; at = name.find(noise, at))
      name.erase(at, noise.size());
  }
  return name;
}

}  // namespace

std::string ExceptionReport(const std::exception& e) {
  if (dynamic_cast<const Exception*>(&e) != nullptr) return e.what();
  return "Unexpected exception " + TypeName(typeid(e)) + ": " + e.what();
}

}  // namespace fernwick
