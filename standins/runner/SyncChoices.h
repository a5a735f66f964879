// The runner's memory of the users' HotSync action choices, as HotSync
// Manager keeps them: per user and per conduit, a permanent action (set with
// "Set as default" ticked) and a temporary one (for the next synchronisation
// only).
//
// The choices live in the text file "fernwick-hotsync.state" in the user's
// desktop folder (--desktop), beside the conduits' own folders. One line per
// user and conduit, fields separated by tabs:
//
//   # fernwick-hotsync: HotSync action choices, names %-escaped
//   Jo Palm<TAB>Memo Pad<TAB>stHHtoPC<TAB>-
//   <user>  <conduit name>  <permanent or ->  <temporary or ->
//
// In the user and conduit names '%', '#' and the control characters (tab,
// line breaks) are written as %XX (two hexadecimal digits), so that no name
// can end a field or pass for a comment. A file whose first line is not that
// header (written before names were escaped) is read with its names as they
// stand.
//
// Every change reads the file again and changes only its own entry, while it
// holds a lock on "fernwick-hotsync.state.lock" beside it (flock /
// LockFileEx), so that two runs never lose each other's choices; the file is
// then replaced whole through a temporary file of a unique name and a rename
// (pdb::WriteFileAtomically), so a crash leaves the old or the new file,
// never half of one.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include <fernwick/abi/SyncProperties.h>

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
  // The largest state file read: far more than any desktop's users and
  // conduits need; anything larger is not a state file.
  static constexpr std::uintmax_t kMaxFileSize = 1024 * 1024;

  // The state file in `desktop_folder` (which ends with a delimiter).
  static std::string FileIn(const std::string& desktop_folder);

  explicit SyncChoices(std::string path) : path_(std::move(path)) {}

  // Reads the file; a missing file holds no choices. Returns "" or the
  // reason the file cannot be read: "<path> line <n>: ...", or a file that
  // is not a regular file (a FIFO, a device, a folder) or is larger than
  // kMaxFileSize, which is not opened for reading or not read.
  std::string Load();

  SyncChoice Get(const std::string& user, const std::string& conduit) const;

  // Stores what ConfigureConduit accepted: spPermanentPreference sets the
  // permanent action and drops a pending temporary one; any other
  // preference sets the temporary action. Writes the file as said above;
  // afterwards Get answers the whole file as written. Returns "" or the
  // reason (nothing is stored then).
  std::string Record(const std::string& user, const std::string& conduit, TSyncTypes type,
                     TSyncPref pref);

  // Drops the temporary action `used` once a synchronisation has used it,
  // in the file as above; a temporary action chosen meanwhile stays when it
  // differs from `used`. Sets `dropped` when one was dropped. Returns "" or
  // the reason.
  std::string ConsumeTemporary(const std::string& user, const std::string& conduit, TSyncTypes used,
                               bool& dropped);

  const std::string& Path() const { return path_; }

 private:
  using Key = std::pair<std::string, std::string>;
  // Under the lock: reads the file again, lets `change` alter the entry of
  // `key` and writes the file when `change` returns true.
  std::string Update(const Key& key, const std::function<bool(SyncChoice&)>& change);

  std::string path_;
  std::map<Key, SyncChoice> choices_;
};

}  // namespace fernwick::runner
