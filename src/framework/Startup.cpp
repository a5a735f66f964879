#include <fernwick/framework/Startup.h>

namespace fernwick {

void InitializeUnits(std::span<const TUnitEntry> units) {
  std::size_t done = 0;
  try {
    for (; done < units.size(); ++done) {
      if (units[done].initialize != nullptr) units[done].initialize();
    }
  } catch (...) {
    FinalizeUnits(units.first(done));
    throw;
  }
}

void FinalizeUnits(std::span<const TUnitEntry> units) noexcept {
  for (std::size_t i = units.size(); i-- > 0;) {
    try {
      if (units[i].finalize != nullptr) units[i].finalize();
    } catch (...) {
      // Shutdown goes on: the remaining units still release what they hold.
    }
  }
}

}  // namespace fernwick
