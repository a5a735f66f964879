// A conduit as an author outside Fernwick's tree writes it: it writes one
// line with Fernwick's version and the handheld's user to the HotSync log.
#include <string>

#include <fernwick/FernwickVersion.h>
#include <fernwick/conduit/ConduitModule.h>
#include <fernwick/conduit/DorvPalmConduit.h>
#include <fernwick/sync/DorvMirrorSync.h>

static_assert(FERNWICK_VERSION_MAJOR >= 2, "Fernwick 2.x: the <fernwick/...> headers");
// The sync layer comes with Fernwick::fernwick.
static_assert(sizeof(fernwick::TDorvSyncCounts) > 0, "<fernwick/sync/...> is found");

namespace {

// Not used: an author's warning that Fernwick's -Werror must not turn into an
// error.
int Unused(int unused_parameter) { return 0; }

class THelloModule : public fernwick::TComponent {
 public:
  explicit THelloModule(fernwick::TComponent* owner)
      : TComponent(owner), conduit_(new fernwick::TDorvConduit(this)) {
    conduit_->SetConduitName("Hello Conduit");
    conduit_->SetMajorVersion(0);
    conduit_->SetMinorVersion(1);
    conduit_->SetOnOpenConduit([this](std::int32_t& /*error*/) {
      conduit_->AddLogEntry(std::string("Hello from Fernwick ") + FERNWICK_VERSION + ", user \"" +
                            conduit_->UserName() + "\"");
    });
  }

 private:
  fernwick::TDorvConduit* conduit_;  // owned by this module
};

}  // namespace

FERNWICK_CONDUIT_MODULE(THelloModule)
