#include <algorithm>
#include <fstream>
#include <system_error>

#include <fernwick/framework/Exceptions.h>
#include <fernwick/sync/DorvSyncState.h>

namespace fernwick {

namespace {

constexpr std::size_t kMagicLength = 8;
constexpr std::size_t kMaxBlock = 65535;

constexpr const char* kStateMagic = "FWSTATE1";
// A state whose records carry fingerprints.
constexpr const char* kPrintedStateMagic = "FWSTATE2";
constexpr const char* kJournalMagic = "FWJRNL01";

std::uint32_t Fnv1a(const char* data, std::size_t length) {
  std::uint32_t hash = 2166136261u;
  for (std::size_t i = 0; i < length; ++i) {
    hash ^= static_cast<unsigned char>(data[i]);
    hash *= 16777619u;
  }
  return hash;
}

void Put(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Reads numbers and blocks from the file's bytes; every read checks the
// bounds first.
class TReader {
 public:
  TReader(const std::string& bytes, std::size_t end, const std::string& what)
      : bytes_(bytes), end_(end), what_(what) {}
  std::uint32_t Number(int size, const char* field) {
    Need(static_cast<std::size_t>(size), field);
    std::uint32_t value = 0;
    for (int i = 0; i < size; ++i)
      value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes_[at_ + i])) << (8 * i);
    at_ += static_cast<std::size_t>(size);
    return value;
  }
  std::string Block(std::size_t size, const char* field) {
    Need(size, field);
    std::string block = bytes_.substr(at_, size);
    at_ += size;
    return block;
  }
  bool AtEnd() const { return at_ == end_; }
  [[noreturn]] void Damaged(const std::string& reason) const {
    throw EDorvConduitError(what_ + " is damaged: " + reason);
  }

 private:
  void Need(std::size_t size, const char* field) const {
    if (end_ - at_ < size) Damaged(std::string("cut short in ") + field);
  }
  const std::string& bytes_;
  std::size_t end_;
  const std::string& what_;
  std::size_t at_ = kMagicLength;
};

}  // namespace

std::string TDorvSyncState::Encode(Kind kind) const {
  if (app_info.size() > kMaxBlock)
    throw EDorvConduitError("The application info block is too long for a sync state file");
  const bool printed =
      kind == Kind::kState && std::any_of(records.begin(), records.end(),
                                          [](const TDorvSyncRecord& r) { return r.fingerprint; });
  std::size_t size = kMagicLength + 4 + 2 + app_info.size() + 4;
  for (const TDorvSyncRecord& record : records) size += (printed ? 15 : 7) + record.bytes.size();
  std::string out;
  out.reserve(size);
  out = kind == Kind::kJournal ? kJournalMagic : printed ? kPrintedStateMagic : kStateMagic;
  Put(out, static_cast<std::uint32_t>(records.size()), 4);
  Put(out, static_cast<std::uint32_t>(app_info.size()), 2);
  out += app_info;
  for (const TDorvSyncRecord& record : records) {
    if (record.bytes.size() > kMaxBlock)
      throw EDorvConduitError("Record " + std::to_string(record.id) +
                              " is too long for a sync state file");
    Put(out, kind == Kind::kState ? record.id : 0, 4);
    Put(out, static_cast<std::uint32_t>((record.category & 0x0F) | (record.secret ? 0x10 : 0)), 1);
    if (printed) {
      Put(out, static_cast<std::uint32_t>(record.fingerprint), 4);
      Put(out, static_cast<std::uint32_t>(record.fingerprint >> 32), 4);
    }
    Put(out, static_cast<std::uint32_t>(record.bytes.size()), 2);
    out += record.bytes;
  }
  Put(out, Fnv1a(out.data(), out.size()), 4);
  return out;
}

TDorvSyncState TDorvSyncState::Decode(const std::string& bytes, Kind kind,
                                      const std::string& what) {
  const auto is = [&](const char* magic) {
    return bytes.size() >= kMagicLength && bytes.compare(0, kMagicLength, magic) == 0;
  };
  const bool printed = kind == Kind::kState && is(kPrintedStateMagic);
  if (kind == Kind::kJournal ? !is(kJournalMagic) : !printed && !is(kStateMagic))
    throw EDorvConduitError(what + " is not a Fernwick sync " +
                            (kind == Kind::kState ? "state" : "journal") + " file");
  if (bytes.size() < kMagicLength + 4 + 2 + 4)
    throw EDorvConduitError(what + " is damaged: cut short in its header");
  const std::size_t end = bytes.size() - 4;
  TReader sum(bytes, bytes.size(), what);
  std::uint32_t stored = 0;
  for (int i = 0; i < 4; ++i)
    stored |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[end + i])) << (8 * i);
  if (stored != Fnv1a(bytes.data(), end)) sum.Damaged("its checksum does not match");

  TReader in(bytes, end, what);
  TDorvSyncState state;
  const std::uint32_t count = in.Number(4, "the record count");
  // Each record takes at least 7 bytes (15 with a fingerprint): a count
  // beyond what the file can hold is refused before anything is reserved.
  if (count > (end - kMagicLength) / (printed ? 15 : 7))
    in.Damaged("its record count is too large");
  state.app_info = in.Block(in.Number(2, "the application info length"), "the application info");
  state.records.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    TDorvSyncRecord record;
    record.id = in.Number(4, "a record id");
    const std::uint32_t attributes = in.Number(1, "a record's attributes");
    if (attributes > 0x1F)
      in.Damaged("record " + std::to_string(record.id) + " has unknown attributes");
    record.category = static_cast<std::uint8_t>(attributes & 0x0F);
    record.secret = (attributes & 0x10) != 0;
    if (printed) {
      record.fingerprint = in.Number(4, "a record's fingerprint");
      record.fingerprint |= std::uint64_t{in.Number(4, "a record's fingerprint")} << 32;
    }
    record.bytes = in.Block(in.Number(2, "a record's length"), "a record's bytes");
    if (kind == Kind::kState) {
      if (record.id == 0) in.Damaged("a record has id 0");
      if (!state.records.empty() && state.records.back().id >= record.id)
        in.Damaged("record ids are not in ascending order");
    } else if (record.id != 0) {
      in.Damaged("a pending append has an id");
    }
    state.records.push_back(std::move(record));
  }
  if (!in.AtEnd()) in.Damaged("bytes follow its last record");
  return state;
}

std::optional<TDorvSyncState> TDorvSyncState::Load(const std::filesystem::path& path, Kind kind) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (status.type() == std::filesystem::file_type::not_found) return std::nullopt;
  if (std::filesystem::is_directory(status))
    throw EDorvConduitError("Cannot read " + path.string() + ": it is a folder");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EDorvConduitError("Cannot read " + path.string());
  // Read whole into one string (a character at a time costs more than
  // decoding it), then what a file grown meanwhile holds beyond its size.
  std::string bytes;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (!error) {
    bytes.resize(static_cast<std::size_t>(size));
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
  }
  char block[65536];
  while (in && (in.read(block, sizeof block) || in.gcount() > 0))
    bytes.append(block, static_cast<std::size_t>(in.gcount()));
  if (in.bad()) throw EDorvConduitError("Cannot read " + path.string());
  return Decode(bytes, kind, path.string());
}

void TDorvSyncState::Save(TDesktopWriter& writer, const std::filesystem::path& path,
                          Kind kind) const {
  writer.Write(path, Encode(kind));
}

const TDorvSyncRecord* TDorvSyncState::Find(std::uint32_t id) const {
  const auto at =
      std::lower_bound(records.begin(), records.end(), id,
                       [](const TDorvSyncRecord& r, std::uint32_t v) { return r.id < v; });
  return at != records.end() && at->id == id ? &*at : nullptr;
}

}  // namespace fernwick
