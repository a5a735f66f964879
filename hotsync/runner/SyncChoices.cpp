#include "hotsync/runner/SyncChoices.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace fernwick::runner {

namespace {

constexpr const char* kFileName = "fernwick-hotsync.state";
constexpr const char* kHeader = "# fernwick-hotsync: HotSync action choices";

std::string TypeText(const std::optional<TSyncTypes>& type) {
  return type ? SyncTypeName(*type) : "-";
}

bool ParseType(const std::string& text, std::optional<TSyncTypes>& type) {
  if (text == "-") {
    type.reset();
    return true;
  }
  for (std::uint32_t i = 0; SyncTypeName(i) != nullptr; ++i) {
    if (text == SyncTypeName(i)) {
      type = static_cast<TSyncTypes>(i);
      return true;
    }
  }
  return false;
}

bool Storable(const std::string& name) { return name.find_first_of("\t\r\n") == std::string::npos; }

}  // namespace

TSyncTypes SyncChoice::Next() const {
  if (temporary) return *temporary;
  if (permanent) return *permanent;
  return stFast;
}

std::string SyncChoice::Describe() const {
  std::string after = permanent ? std::string(SyncTypeName(*permanent)) : "stFast";
  if (temporary) return std::string(SyncTypeName(*temporary)) + " once, then " + after;
  if (permanent) return after + " (permanent)";
  return "none (stFast)";
}

std::string SyncChoices::FileIn(const std::string& desktop_folder) {
  return desktop_folder + kFileName;
}

std::string SyncChoices::Load() {
  choices_.clear();
  std::ifstream in(path_, std::ios::binary);
  if (!in) {
    std::error_code ec;
    return std::filesystem::exists(path_, ec) ? "cannot read " + path_ : "";
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::stringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    SyncChoice choice;
    if (fields.size() != 4 || !ParseType(fields[2], choice.permanent) ||
        !ParseType(fields[3], choice.temporary)) {
      choices_.clear();
      return path_ + " line " + std::to_string(number) +
             ": expected user, conduit, permanent and temporary action separated by tabs";
    }
    choices_[{fields[0], fields[1]}] = choice;
  }
  return "";
}

std::string SyncChoices::Save() const {
  std::string temporary = path_ + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << kHeader << "\n";
    for (const auto& [key, choice] : choices_) {
      if (!choice.permanent && !choice.temporary) continue;
      out << key.first << '\t' << key.second << '\t' << TypeText(choice.permanent) << '\t'
          << TypeText(choice.temporary) << "\n";
    }
    out.flush();
    if (!out) {
      std::remove(temporary.c_str());
      return "cannot write " + temporary;
    }
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path_, ec);
  if (ec) {
    std::remove(temporary.c_str());
    return "cannot replace " + path_ + ": " + ec.message();
  }
  return "";
}

SyncChoice SyncChoices::Get(const std::string& user, const std::string& conduit) const {
  auto found = choices_.find({user, conduit});
  return found == choices_.end() ? SyncChoice{} : found->second;
}

void SyncChoices::Record(const std::string& user, const std::string& conduit, TSyncTypes type,
                         TSyncPref pref) {
  if (!Storable(user) || !Storable(conduit)) return;
  SyncChoice& choice = choices_[{user, conduit}];
  if (pref == spPermanentPreference) {
    choice.permanent = type;
    choice.temporary.reset();
  } else {
    choice.temporary = type;
  }
}

bool SyncChoices::ConsumeTemporary(const std::string& user, const std::string& conduit) {
  auto found = choices_.find({user, conduit});
  if (found == choices_.end() || !found->second.temporary) return false;
  found->second.temporary.reset();
  return true;
}

}  // namespace fernwick::runner
