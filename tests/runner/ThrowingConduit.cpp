// A conduit whose data module cannot be created: its constructor throws.
#include <stdexcept>

#include "conduit/ConduitModule.h"
#include "conduit/DorvPalmConduit.h"

namespace {

class TThrowingModule : public fernwick::TComponent {
 public:
  explicit TThrowingModule(fernwick::TComponent* owner) : TComponent(owner) {
    throw std::runtime_error("the throwing test module refuses to start");
  }
};

}  // namespace

FERNWICK_CONDUIT_MODULE(TThrowingModule)
