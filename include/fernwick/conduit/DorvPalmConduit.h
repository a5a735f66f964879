/// \file
/// The conduit component TDorvConduit, the module-wide conduit reference and
/// live-instance count, and the registration of the library's components.
///
/// A conduit library holds exactly one TDorvConduit, on its data module (see
/// fernwick/conduit/ConduitModule.h). HotSync Manager's calls reach it through the
/// exported entry points (fernwick/conduit/ConduitEntryPoints.h), which forward to the
/// conduit reference.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include <fernwick/abi/SyncProperties.h>
#include <fernwick/framework/Classes.h>

namespace fernwick {

/// Handler of a synchronisation. Leave `error` at 0 for success or set a
/// nonzero code for failure; it becomes OpenConduit's result.
using TOpenConduitEvent = std::function<void(std::int32_t& error)>;

/// Handler of the configuration: edit `prefs` and set `save_prefs` true to
/// accept. `save_prefs` is false on entry.
using TConfigureConduitEvent = std::function<void(TSyncPreference& prefs, bool& save_prefs)>;

/// ErrorCode of "Conduit API version must be 2.1 or later" when the Sync
/// Manager does not provide SyncGetAPIVersion at all (not loaded, or not
/// exported): the code of a call through an unbound entry.
constexpr std::int32_t kErrApiVersionUnavailable = -2;

// kErrAbortedWithoutLog, OpenConduit's result for a run aborted while the
// HotSync log was not bound, is declared in fernwick/abi/SyncProperties.h.

/// The conduit component. At most one lives per loaded library; constructing
/// it makes it the conduit reference that the exported entry points use.
///
/// Published properties, in published order (see PublishedProperties):
/// ConduitName (always stored, "DelphiConduit"), DefaultAction (default
/// stFast), MajorVersion (default 1), MinorVersion (default 0), OnOpenConduit,
/// OnConfigureConduit. Setters store values as given; none validates.
///
/// Not thread-safe: every call into one loaded library must come from one
/// thread at a time, as HotSync Manager makes them.
class TDorvConduit : public TComponent {
 public:
  /// Asks the Sync Manager for its API version, then enforces the one-instance
  /// rule, then becomes the conduit reference. Raises EDorvConduitError
  /// "Conduit API version must be 2.1 or later" when SyncGetAPIVersion answers
  /// a nonzero status (that status as ErrorCode) or is not bound
  /// (kErrApiVersionUnavailable), and Exception "Only one instance of
  /// TDorvConduit is allowed" while another TDorvConduit lives. A failed
  /// construction leaves the live-instance count and the conduit reference as
  /// they were.
  explicit TDorvConduit(TComponent* owner);

  /// Decrements the live-instance count and, when this object is the conduit
  /// reference, clears the reference, so that an entry point called later
  /// finds no conduit instead of a destroyed one. Does not unregister.
  ~TDorvConduit() override;

  std::string ClassName() const override { return "TDorvConduit"; }

  /// The published properties in published order, with their defaults.
  static std::span<const TPropertyInfo> PublishedProperties();

  // --- Published properties -------------------------------------------------
  ///@{
  /// The conduit's name: answered by GetConduitName and GetConduitInfo, and
  /// named by the log lines of OpenConduit.
  const std::string& ConduitName() const { return conduit_name_; }
  void SetConduitName(std::string value) { conduit_name_ = std::move(value); }
  ///@}
  ///@{
  /// The action answered by GetConduitInfo for cieDefaultAction.
  TSyncTypes DefaultAction() const { return default_action_; }
  void SetDefaultAction(TSyncTypes value) { default_action_ = value; }
  ///@}
  ///@{
  /// The conduit's major version: the high byte of GetConduitVersion.
  std::uint8_t MajorVersion() const { return major_version_; }
  void SetMajorVersion(std::uint8_t value) { major_version_ = value; }
  ///@}
  ///@{
  /// The conduit's minor version: the low byte of GetConduitVersion.
  std::uint8_t MinorVersion() const { return minor_version_; }
  void SetMinorVersion(std::uint8_t value) { minor_version_ = value; }
  ///@}
  ///@{
  /// The synchronisation handler OpenConduit calls between the start and the
  /// end log lines, after copying the synchronisation's data into the
  /// read-only properties; empty: nothing runs between them.
  const TOpenConduitEvent& OnOpenConduit() const { return on_open_conduit_; }
  void SetOnOpenConduit(TOpenConduitEvent handler) { on_open_conduit_ = std::move(handler); }
  ///@}
  ///@{
  /// The configuration handler ConfigureConduit calls; empty: ConfigureConduit
  /// shows the HotSync action dialog instead.
  const TConfigureConduitEvent& OnConfigureConduit() const { return on_configure_conduit_; }
  void SetOnConfigureConduit(TConfigureConduitEvent handler) {
    on_configure_conduit_ = std::move(handler);
  }
  ///@}

  // --- Read-only properties -------------------------------------------------
  ///@{
  /// The Sync Manager's API version, as SyncGetAPIVersion answered it.
  std::uint32_t ApiMajorVersion() const { return api_major_version_; }
  std::uint32_t ApiMinorVersion() const { return api_minor_version_; }
  ///@}
  ///@{
  /// The last synchronisation's data, copied from TSyncProperties by
  /// OpenConduit (not by a stDoNothing run); kept until the next one.
  TSyncTypes SyncType() const { return sync_type_; }
  const std::string& PathName() const { return path_name_; }
  const std::string& LocalName() const { return local_name_; }
  const std::string& UserName() const { return user_name_; }
  TFirstSync FirstDevice() const { return first_device_; }
  TConnType Connection() const { return connection_; }
  const std::string& RegistryPath() const { return registry_path_; }
  std::uint32_t RegistryKey() const { return registry_key_; }
  ///@}
  /// The Sync Manager's handle of the registered conduit: nonzero only while
  /// OpenConduit runs.
  std::uint32_t ConduitHandle() const { return conduit_handle_; }

  // --- Operations -----------------------------------------------------------
  /// MajorVersion shifted left by 8, OR MinorVersion (1.0 gives 256).
  std::int32_t GetConduitVersion() const;

  /// Runs one synchronisation described by `props` (borrowed for the call).
  /// stDoNothing logs "<ConduitName> configured to Do Nothing" and returns 0.
  /// Otherwise copies the record into the read-only properties, registers with
  /// the Sync Manager, logs the start (activity 19), calls OnOpenConduit, logs
  /// the end (activity 20). An EDorvConduitError raised on the way is logged
  /// (its message as a plain line, then ConduitName with activity 21) and goes
  /// no further; any other exception propagates. The conduit is unregistered
  /// on every way out. Returns the handler's error value (0 when no handler
  /// ran or it left the value at 0). A run aborted while the HotSync log is
  /// not bound is never answered with 0: its abort cannot be logged, so the
  /// result carries it instead (the exception's ErrorCode, or
  /// kErrAbortedWithoutLog when that is 0).
  virtual std::int32_t OpenConduit(const TSyncProperties& props);

  /// Lets the user choose the conduit's action in `prefs` (borrowed). Calls
  /// OnConfigureConduit when assigned: 0 when it set save_prefs, else -1.
  /// Without a handler shows the HotSync action dialog
  /// (TDorvConfigureDlg::Execute) with the conduit reference's ConduitName: 0
  /// when the user confirmed, else -1. Exceptions of either pass through.
  virtual std::int32_t ConfigureConduit(TSyncPreference& prefs);

  /// Writes `text` to the HotSync log as a plain line (activity -1). When the
  /// HotSync log library is not bound there is no log to write to: the line
  /// is dropped and nothing is raised, so that logging can never cut a
  /// synchronisation short or skip its unregistration.
  void AddLogEntry(const std::string& text);

  /// Passes `max_milliseconds` to SyncYieldCycles; a nonzero status raises
  /// EDorvConduitError "SyncYieldCycles failed" with the status as ErrorCode.
  void YieldCycles(std::uint16_t max_milliseconds);

  /// Raises EDorvConduitError(msg, code) when `code` is nonzero; returns
  /// otherwise. Reads no state, so it may be called without a conduit. The
  /// check itself lives with the Sync Manager binding (fernwick::TestSyncApi
  /// in fernwick/link/DorvConduitSync.h), where the database component reaches it.
  static void TestSyncApi(const std::string& msg, std::int32_t code);

 private:
  /// Adds one line to the HotSync log; drops it when the log is not bound.
  void Log(const std::string& text, std::int8_t activity);

  std::uint32_t conduit_handle_ = 0;
  std::string conduit_name_ = "DelphiConduit";
  std::uint8_t major_version_ = 1;
  std::uint8_t minor_version_ = 0;
  std::uint32_t api_major_version_ = 0;
  std::uint32_t api_minor_version_ = 0;
  TSyncTypes default_action_ = stFast;
  TOpenConduitEvent on_open_conduit_;
  TConfigureConduitEvent on_configure_conduit_;
  TSyncTypes sync_type_ = stFast;
  std::string path_name_;
  std::string local_name_;
  std::string user_name_;
  TFirstSync first_device_ = fsNeither;
  TConnType connection_ = ctCable;
  std::string registry_path_;
  std::uint32_t registry_key_ = 0;
};

/// The conduit reference: the most recently constructed TDorvConduit that is
/// still alive, or nullptr. The exported entry points reach the conduit
/// through it.
TDorvConduit* ConduitReference();

/// The number of TDorvConduit objects constructed and not yet destroyed.
std::int32_t LiveConduitCount();

/// The library's one-line description, naming it with its version.
const char* LibraryDescription();

/// Registers the library's components on the palette page "Conduit", in this
/// order: TDorvConduit, TDorvConduitDb, each with its 24 x 24, 16-colour
/// palette bitmap (resources TDORVCONDUIT and TDORVCONDUITDB).
void Register();

///@{
/// Start-up and shutdown of unit DorvPalmConduit (conduit half): start-up sets
/// the live-instance count to 0; shutdown has nothing to do.
void InitializeDorvPalmConduit();
void FinalizeDorvPalmConduit();
///@}

}  // namespace fernwick
