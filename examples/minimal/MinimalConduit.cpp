// The smallest useful conduit: a data module with one TDorvConduit whose
// OnOpenConduit writes one line naming the handheld's user and the kind of
// synchronisation to the HotSync log.
#include <string>

#include <fernwick/conduit/ConduitModule.h>
#include <fernwick/conduit/DorvPalmConduit.h>

namespace {

class TMinimalModule : public fernwick::TComponent {
 public:
  explicit TMinimalModule(fernwick::TComponent* owner)
      : TComponent(owner), conduit_(new fernwick::TDorvConduit(this)) {
    conduit_->SetConduitName("Minimal Example");
    conduit_->SetMajorVersion(1);
    conduit_->SetMinorVersion(2);
    conduit_->SetOnOpenConduit([this](std::int32_t& /*error*/) { OpenConduit(); });
  }

 private:
  void OpenConduit() {
    const char* type = fernwick::SyncTypeName(conduit_->SyncType());
    conduit_->AddLogEntry("Minimal Example: synchronising user \"" + conduit_->UserName() + "\" (" +
                          (type != nullptr ? type : "unknown sync type") + ")");
  }

  fernwick::TDorvConduit* conduit_;  // owned by this module
};

}  // namespace

FERNWICK_CONDUIT_MODULE(TMinimalModule)
