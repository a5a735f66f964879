// The runner's memory of the users' HotSync action choices, as HotSync
// Manager keeps them: per user and per conduit, a permanent action (set with
// "Set as default" ticked) and a temporary one (for the next synchronisation
// only).
//
// The choices live in the text file "fernwick-hotsync.state" in the user's
// desktop folder (--desktop), beside the conduits' own folders. One line per
// user and conduit, fields separated by tabs:
//
//   # fernwick-hotsync: HotSync action choices
//   Jo Palm<TAB>Memo Pad<TAB>stHHtoPC<TAB>-
//   <user>  <conduit name>  <permanent or ->  <temporary or ->
//
// The file is rewritten whole through a temporary file and a rename, so a
// crash leaves the old or the new file, never half of one.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>

#include "conduit/SyncProperties.h"

namespace fernwick::runner {

// The choices stored for one user and conduit.
struct SyncChoice {
  std::optional<TSyncTypes> permanent;
  std::optional<TSyncTypes> temporary;

  // The action of the next synchronisation: the temporary one, else the
  // permanent one, else stFast.
  TSyncTypes Next() const;
  // "stHHtoPC (permanent)", "stPCtoHH once, then stFast", "none (stFast)".
  std::string Describe() const;
};

class SyncChoices {
 public:
  // The state file in `desktop_folder` (which ends with a delimiter).
  static std::string FileIn(const std::string& desktop_folder);

  explicit SyncChoices(std::string path) : path_(std::move(path)) {}

  // Reads the file; a missing file holds no choices. Returns "" or the
  // reason the file cannot be read ("<path> line <n>: ...").
  std::string Load();

  // Writes the file whole. Returns "" or the reason.
  std::string Save() const;

  SyncChoice Get(const std::string& user, const std::string& conduit) const;

  // Records what ConfigureConduit accepted: spPermanentPreference sets the
  // permanent action and drops a pending temporary one; any other
  // preference sets the temporary action.
  void Record(const std::string& user, const std::string& conduit, TSyncTypes type, TSyncPref pref);

  // Drops the temporary action once a synchronisation has used it. Returns
  // true when there was one.
  bool ConsumeTemporary(const std::string& user, const std::string& conduit);

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::map<std::pair<std::string, std::string>, SyncChoice> choices_;
};

}  // namespace fernwick::runner
