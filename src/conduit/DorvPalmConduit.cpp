#include <fernwick/conduit/DorvPalmConduit.h>

#include <cstring>
#include <string_view>

#include <fernwick/FernwickVersion.h>
#include "DorvConfigureForm.h"
#include "LibraryResources.h"
#include <fernwick/db/DorvConduitDb.h>
#include <fernwick/framework/ComponentRegistry.h>
#include <fernwick/framework/Exceptions.h>
#include <fernwick/framework/PropertyText.h>
#include <fernwick/framework/SysUtils.h>
#include <fernwick/link/DorvConduitLog.h>
#include <fernwick/link/DorvConduitSync.h>

namespace fernwick {

namespace {

// Module-wide state, one of each per loaded library.
TDorvConduit* g_conduit = nullptr;
std::int32_t g_live_count = 0;

// The description line of FernwickVersion.h, generated from the project's
// version.
constexpr const char* kLibraryDescription = FERNWICK_LIBRARY_DESCRIPTION;

// The text of a character array of TSyncProperties: up to its first NUL, or
// all of it when there is none.
std::string ArrayText(const char (&chars)[kSyncPathLength]) {
  const void* nul = std::memchr(chars, '\0', kSyncPathLength);
  std::size_t length = nul == nullptr
                           ? kSyncPathLength
                           : static_cast<std::size_t>(static_cast<const char*>(nul) - chars);
  return std::string(chars, length);
}

std::string SyncTypeText(TSyncTypes value) {
  const char* name = SyncTypeName(value);
  return name != nullptr ? name : IntToStr(value);
}

TSyncTypes SyncTypeFromText(std::string_view text) {
  for (std::uint32_t i = 0; SyncTypeName(i) != nullptr; ++i) {
    if (CompareText(text, SyncTypeName(i)) == 0) return static_cast<TSyncTypes>(i);
  }
  RaiseNotAValue(text, "TSyncTypes");
}

const TDorvConduit& AsConduit(const TPersistent& object) {
  return dynamic_cast<const TDorvConduit&>(object);
}
TDorvConduit& AsConduit(TPersistent& object) { return dynamic_cast<TDorvConduit&>(object); }

constexpr TPropertyInfo kPublished[] = {
    {"ConduitName", "string", "DelphiConduit", true, false,
     [](const TPersistent& c) { return AsConduit(c).ConduitName(); },
     [](TPersistent& c, std::string_view text) { AsConduit(c).SetConduitName(std::string(text)); }},
    {"DefaultAction", "TSyncTypes", "stFast", false, false,
     [](const TPersistent& c) { return SyncTypeText(AsConduit(c).DefaultAction()); },
     [](TPersistent& c, std::string_view text) {
       AsConduit(c).SetDefaultAction(SyncTypeFromText(text));
     }},
    {"MajorVersion", "Byte", "1", false, false,
     [](const TPersistent& c) { return ByteToText(AsConduit(c).MajorVersion()); },
     [](TPersistent& c, std::string_view text) {
       AsConduit(c).SetMajorVersion(ByteFromText(text));
     }},
    {"MinorVersion", "Byte", "0", false, false,
     [](const TPersistent& c) { return ByteToText(AsConduit(c).MinorVersion()); },
     [](TPersistent& c, std::string_view text) {
       AsConduit(c).SetMinorVersion(ByteFromText(text));
     }},
    {"OnOpenConduit", "TOpenConduitEvent", "", false, true,
     [](const TPersistent& c) { return EventText(bool(AsConduit(c).OnOpenConduit())); }, nullptr},
    {"OnConfigureConduit", "TConfigureConduitEvent", "", false, true,
     [](const TPersistent& c) { return EventText(bool(AsConduit(c).OnConfigureConduit())); },
     nullptr},
};

// Runs the API version check before the component itself is built, so that a
// refused construction has changed nothing.
void QueryApiVersion(std::uint32_t& major, std::uint32_t& minor) {
  constexpr const char* kMessage = "Conduit API version must be 2.1 or later";
  if (!SyncGetAPIVersion.IsBound()) throw EDorvConduitError(kMessage, kErrApiVersionUnavailable);
  std::int32_t status = SyncGetAPIVersion(&major, &minor);
  if (status != 0) throw EDorvConduitError(kMessage, status);
}

}  // namespace

TDorvConduit::TDorvConduit(TComponent* owner) : TComponent(owner) {
  // The framework part is already built here (C++ builds bases first); a
  // refusal below unwinds it, removing the component from its owner again.
  QueryApiVersion(api_major_version_, api_minor_version_);
  ++g_live_count;
  if (g_live_count > 1) {
    --g_live_count;
    throw Exception("Only one instance of TDorvConduit is allowed");
  }
  g_conduit = this;
}

TDorvConduit::~TDorvConduit() {
  --g_live_count;
  if (g_conduit == this) g_conduit = nullptr;
}

std::span<const TPropertyInfo> TDorvConduit::PublishedProperties() { return kPublished; }

std::int32_t TDorvConduit::GetConduitVersion() const {
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(major_version_) << 8) |
                                   minor_version_);
}

std::int32_t TDorvConduit::OpenConduit(const TSyncProperties& props) {
  std::int32_t error = 0;
  // Unregisters on every way out, also when an exception other than
  // EDorvConduitError leaves the call.
  struct Unregistration {
    std::uint32_t& handle;
    ~Unregistration() {
      if (handle == 0) return;
      try {
        SyncUnRegisterConduit(handle);
      } catch (...) {
        // An unbound entry: nothing can be unregistered, and the status of
        // SyncUnRegisterConduit is ignored anyway.
      }
      handle = 0;
    }
  } unregistration{conduit_handle_};

  if (props.SyncType == stDoNothing) {
    Log(conduit_name_ + " configured to Do Nothing", slText);
    return error;
  }

  sync_type_ = props.SyncType;
  path_name_ = ArrayText(props.PathName);
  local_name_ = ArrayText(props.LocalName);
  user_name_ = ArrayText(props.UserName);
  first_device_ = props.FirstDevice;
  connection_ = props.Connection;
  registry_path_ = ArrayText(props.RegistryPath);
  registry_key_ = props.RegistryKey;

  try {
    TestSyncApi("SyncRegisterConduit failed", SyncRegisterConduit(&conduit_handle_));
    Log("", slSyncStarted);
    if (on_open_conduit_) {
      on_open_conduit_(error);
      if (error != 0) throw EDorvConduitError("Error in OnOpenConduit", error);
    }
    Log(conduit_name_, slSyncFinished);
  } catch (const EDorvConduitError& e) {
    Log(e.Message(), slText);
    Log(conduit_name_, slSyncAborted);
    if (error == 0 && !LogAddEntry.IsBound())
      error = e.ErrorCode() != 0 ? e.ErrorCode() : kErrAbortedWithoutLog;
  }
  return error;
}

std::int32_t TDorvConduit::ConfigureConduit(TSyncPreference& prefs) {
  if (!on_configure_conduit_) {
    TDorvConduit* conduit = ConduitReference();
    return TDorvConfigureDlg::Execute(
               conduit != nullptr ? conduit->ConduitName() : conduit_name_, prefs)
               ? 0
               : -1;
  }
  bool save_prefs = false;
  on_configure_conduit_(prefs, save_prefs);
  return save_prefs ? 0 : -1;
}

void TDorvConduit::AddLogEntry(const std::string& text) { Log(text, slText); }

void TDorvConduit::YieldCycles(std::uint16_t max_milliseconds) {
  TestSyncApi("SyncYieldCycles failed", SyncYieldCycles(max_milliseconds));
}

void TDorvConduit::TestSyncApi(const std::string& msg, std::int32_t code) {
  ::fernwick::TestSyncApi(msg, code);
}

void TDorvConduit::Log(const std::string& text, std::int8_t activity) {
  if (!LogAddEntry.IsBound()) return;
  LogAddEntry(text.c_str(), activity, 0);
}

TDorvConduit* ConduitReference() { return g_conduit; }

std::int32_t LiveConduitCount() { return g_live_count; }

const char* LibraryDescription() { return kLibraryDescription; }

void Register() {
  TComponentClassInfo conduit;
  conduit.class_name = "TDorvConduit";
  conduit.create = [](TComponent* owner) -> TComponent* { return new TDorvConduit(owner); };
  const auto conduit_properties = TDorvConduit::PublishedProperties();
  conduit.properties.assign(conduit_properties.begin(), conduit_properties.end());

  TComponentClassInfo database;
  database.class_name = "TDorvConduitDb";
  database.create = [](TComponent* owner) -> TComponent* { return new TDorvConduitDb(owner); };
  const auto database_properties = TDorvConduitDb::PublishedProperties();
  database.properties.assign(database_properties.begin(), database_properties.end());
  conduit.bitmap_name = "TDORVCONDUIT";
  database.bitmap_name = "TDORVCONDUITDB";
  for (TComponentClassInfo* info : {&conduit, &database}) {
    if (const TResourceEntry* entry =
            FindResource(LibraryResources(), "BITMAP", info->bitmap_name)) {
      info->bitmap = entry->Bytes();
    }
  }
  RegisterComponents("Conduit", {std::move(conduit), std::move(database)});
}

void InitializeDorvPalmConduit() { g_live_count = 0; }

void FinalizeDorvPalmConduit() {}

}  // namespace fernwick
