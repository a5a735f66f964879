// Conduits that throw. Built twice:
//   throwing_conduit            its data module's constructor throws;
//   throwing_configure_conduit  (THROWING_CONFIGURE) a conduit "Throwing
//                               Configure" whose OnConfigureConduit raises.
#include <stdexcept>

#include <fernwick/conduit/ConduitModule.h>
#include <fernwick/conduit/DorvPalmConduit.h>
#include <fernwick/framework/Exceptions.h>

namespace {

#ifdef THROWING_CONFIGURE
class TThrowingModule : public fernwick::TComponent {
 public:
  explicit TThrowingModule(fernwick::TComponent* owner) : TComponent(owner) {
    auto* conduit = new fernwick::TDorvConduit(this);
    conduit->SetConduitName("Throwing Configure");
    conduit->SetOnConfigureConduit([](fernwick::TSyncPreference&, bool&) {
      throw fernwick::EDorvConduitError("preferences file is locked");
    });
  }
};
#else
class TThrowingModule : public fernwick::TComponent {
 public:
  explicit TThrowingModule(fernwick::TComponent* owner) : TComponent(owner) {
    throw std::runtime_error("the throwing test module refuses to start");
  }
};
#endif

}  // namespace

FERNWICK_CONDUIT_MODULE(TThrowingModule)
