#include <algorithm>
#include <charconv>
#include <fstream>
#include <memory>
#include <sstream>

#include <fernwick/db/DorvLayoutFile.h>
#include <fernwick/db/RecordCodec.h>

namespace fernwick {

namespace {

constexpr std::int32_t kMaxElements = 65535;
constexpr std::string_view kSectionNames[] = {"[record]", "[appinfo]", "[sortinfo]"};

std::vector<std::string_view> Tokens(std::string_view line) {
  std::vector<std::string_view> tokens;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) tokens.push_back(line.substr(start, i - start));
  }
  return tokens;
}

bool ParseNumber(std::string_view text, std::int64_t& value) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

bool ValidName(std::string_view name) {
  if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
  });
}

bool IsIntegerType(TDorvPalmFieldType type) {
  return type == pftByte || type == pftSmallint || type == pftLongint || type == pftBoolean ||
         type == pftDate || type == pftTime;
}

// The existence clauses of a layout, resolved to the component's fields.
struct Clause {
  TDorvPalmField* field = nullptr;
  TDorvPalmField* if_field = nullptr;
  std::uint32_t if_mask = 0;
  TDorvPalmField* bits_field = nullptr;
  TDorvPalmField* count_field = nullptr;
};

struct Clauses {
  std::vector<Clause> clauses;

  bool Exists(TDorvPalmField& field, std::int32_t index) const {
    for (const Clause& c : clauses) {
      if (c.field != &field) continue;
      if (c.if_field != nullptr &&
          (static_cast<std::uint32_t>(c.if_field->GetAsInteger()) & c.if_mask) == 0)
        return false;
      if (c.bits_field != nullptr &&
          (index >= 32 ||
           ((static_cast<std::uint32_t>(c.bits_field->GetAsInteger()) >> index) & 1) == 0))
        return false;
      if (c.count_field != nullptr && index >= c.count_field->GetAsInteger()) return false;
    }
    return true;
  }
};

TDorvPalmFields& ListOf(TDorvConduitDb& db, TDorvLayoutBlock block) {
  return block == lbRecord    ? db.Fields()
         : block == lbAppInfo ? db.AppInfoFields()
                              : db.SortInfoFields();
}

}  // namespace

TDorvLayout TDorvLayout::Parse(std::string_view text) {
  TDorvLayout layout;
  int section = -1;
  bool seen[3] = {false, false, false};
  int number = 0;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    ++number;
    const auto fault = [number](const std::string& what) {
      return EDorvLayoutError("line " + std::to_string(number) + ": " + what);
    };
    if (const std::size_t hash = line.find('#'); hash != std::string_view::npos)
      line = line.substr(0, hash);
    const std::vector<std::string_view> t = Tokens(line);
    if (t.empty()) {
      if (end == text.size()) break;
      continue;
    }
    if (t[0].front() == '[') {
      const auto found = std::find(std::begin(kSectionNames), std::end(kSectionNames), t[0]);
      if (found == std::end(kSectionNames) || t.size() != 1)
        throw fault("unknown section '" + std::string(line) +
                    "' (sections are [record], [appinfo] and [sortinfo])");
      section = static_cast<int>(found - std::begin(kSectionNames));
      if (seen[section]) throw fault("section " + std::string(t[0]) + " given twice");
      seen[section] = true;
      continue;
    }
    if (t[0] == "align") {
      if (t.size() != 2 || (t[1] != "on" && t[1] != "off")) throw fault("align takes on or off");
      layout.align_on_word_ = t[1] == "on";
      continue;
    }
    if (section < 0) throw fault("a field before any [record], [appinfo] or [sortinfo] section");
    if (t.size() < 4) throw fault("expected NAME TYPE SIZE COUNT");
    std::vector<Field>& fields = layout.blocks_[section];
    Field field;
    field.name = std::string(t[0]);
    if (!ValidName(t[0])) throw fault("'" + field.name + "' is not a field name");
    for (const Field& other : fields) {
      if (other.name == field.name) throw fault("field " + field.name + " given twice");
    }
    if (!DorvPalmFieldTypeFromName(t[1], field.type) || field.type == pftUnknown)
      throw fault("unknown field type '" + std::string(t[1]) + "'");
    std::int64_t size = 0, count = 0;
    if (!ParseNumber(t[2], size) || size < 0 || size > kMaxElements)
      throw fault("size '" + std::string(t[2]) + "' is not a number from 0 to 65535");
    const int width = DorvPalmFieldTypeWidth(field.type);
    if (field.type != pftString && field.type != pftBlob && size != width)
      throw fault(std::string(DorvPalmFieldTypeName(field.type)) + " is " + std::to_string(width) +
                  (width == 1 ? " byte" : " bytes") + " wide, not " + std::to_string(size));
    if (field.type == pftString && size == 1)
      throw fault("a string of size 1 holds no character (0 is a string of any length)");
    if (!ParseNumber(t[3], count) || count < 1 || count > kMaxElements)
      throw fault("count '" + std::string(t[3]) + "' is not a number from 1 to 65535");
    field.size = static_cast<std::int32_t>(size);
    field.array_size = static_cast<std::int32_t>(count);
    // Each element is a value the component keeps, and a record or block
    // holds at most 65535 bytes: more elements than that in one section are
    // a mistake, and would take gigabytes to set up.
    std::int64_t elements = count;
    for (const Field& other : fields) elements += other.array_size;
    if (elements > kMaxElements)
      throw fault("the fields of section " + std::string(kSectionNames[section]) + " hold " +
                  std::to_string(elements) + " elements, more than 65535 in all");

    const auto earlier = [&](std::string_view name) {
      const auto found = std::find_if(fields.begin(), fields.end(),
                                      [&](const Field& f) { return f.name == name; });
      if (found == fields.end())
        throw fault("'" + std::string(name) + "' is not an earlier field of this section");
      if (!IsIntegerType(found->type) || found->array_size != 1)
        throw fault("'" + std::string(name) + "' is not a single integer field");
      return std::string(name);
    };
    std::size_t i = 4;
    while (i < t.size()) {
      if (t[i] == "if") {
        std::int64_t mask = 0;
        if (i + 3 >= t.size() || t[i + 2] != "&") throw fault("expected if FIELD & MASK");
        if (!ParseNumber(t[i + 3], mask) || mask <= 0 || mask > 0xFFFFFFFF)
          throw fault("mask '" + std::string(t[i + 3]) + "' is not a number from 1 to 0xFFFFFFFF");
        field.if_field = earlier(t[i + 1]);
        field.if_mask = static_cast<std::uint32_t>(mask);
        i += 4;
      } else if (t[i] == "bits" || t[i] == "count") {
        if (i + 1 >= t.size()) throw fault("expected " + std::string(t[i]) + " FIELD");
        (t[i] == "bits" ? field.bits_field : field.count_field) = earlier(t[i + 1]);
        i += 2;
      } else {
        throw fault("unexpected '" + std::string(t[i]) + "' (clauses are if, bits and count)");
      }
    }
    fields.push_back(std::move(field));
    if (end == text.size()) break;
  }
  return layout;
}

TDorvLayout TDorvLayout::ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EDorvLayoutError(path + ": cannot be read");
  std::stringstream text;
  text << in.rdbuf();
  try {
    return Parse(text.str());
  } catch (const EDorvLayoutError& e) {
    throw EDorvLayoutError(path + " " + e.what());
  }
}

void TDorvLayout::ApplyTo(TDorvConduitDb& db) const {
  auto clauses = std::make_shared<Clauses>();
  for (int b = 0; b < 3; ++b) {
    TDorvPalmFields& list = ListOf(db, static_cast<TDorvLayoutBlock>(b));
    list.Clear();
    for (const Field& f : blocks_[b]) {
      TDorvPalmField* field = list.Add();
      field->SetFieldName(f.name);
      field->SetDataType(f.type);
      field->SetSize(f.size);
      field->SetArraySize(f.array_size);
    }
    auto find = [&list](const std::string& name) -> TDorvPalmField* {
      if (name.empty()) return nullptr;
      for (int i = 0; i < list.Count(); ++i) {
        if (list.Items(i)->FieldName() == name) return list.Items(i);
      }
      return nullptr;
    };
    for (std::size_t i = 0; i < blocks_[b].size(); ++i) {
      const Field& f = blocks_[b][i];
      if (f.if_field.empty() && f.bits_field.empty() && f.count_field.empty()) continue;
      TDorvPalmField* field = list.Items(static_cast<int>(i));
      clauses->clauses.push_back(
          {field, find(f.if_field), f.if_mask, find(f.bits_field), find(f.count_field)});
    }
  }
  db.SetAlignOnWord(align_on_word_);
  auto answer = [clauses](TDorvConduitDb&, TDorvPalmField& field, std::int32_t index,
                          bool& exists) { exists = clauses->Exists(field, index); };
  db.SetOnTestFieldExistsForRead(answer);
  db.SetOnTestFieldExistsForWrite(answer);
}

TDorvLayout::Decoding TDorvLayout::Decode(TDorvConduitDb& db, TDorvLayoutBlock block,
                                          std::span<const std::uint8_t> bytes) const {
  TDorvPalmFields& list = ListOf(db, block);
  const auto length = static_cast<std::int32_t>(
      std::min<std::size_t>(bytes.size(), TDorvConduitDb::kMaxLayoutLength));
  const TDorvFieldTestEvent answer = db.OnTestFieldExistsForRead();
  Decoding result;
  std::vector<std::vector<bool>>& present = result.present;
  TDorvDecodeFit fit;
  const std::vector<Field>& fields = blocks_[block];
  // A field sized by a count starts from the layout's size again, so that
  // each record shows as many elements as it holds.
  for (std::size_t i = 0; i < fields.size() && i < static_cast<std::size_t>(list.Count()); ++i) {
    if (!fields[i].count_field.empty())
      list.Items(static_cast<int>(i))->SetArraySize(fields[i].array_size);
  }
  // A count read from the bytes may ask for more elements than the field
  // has: the field grows and the bytes are decoded again. Counts come from
  // earlier fields, so each round settles at least one more of them.
  for (int round = 0; round <= list.Count(); ++round) {
    present.assign(static_cast<std::size_t>(list.Count()), {});
    for (int f = 0; f < list.Count(); ++f)
      present[f].assign(static_cast<std::size_t>(list.Items(f)->ArraySize()), true);
    db.SetOnTestFieldExistsForRead(
        [&](TDorvConduitDb& sender, TDorvPalmField& field, std::int32_t index, bool& exists) {
          if (answer) answer(sender, field, index, exists);
          const int f = field.Index();
          if (f >= 0 && f < list.Count() && list.Items(f) == &field && index >= 0 &&
              static_cast<std::size_t>(index) < present[f].size())
            present[f][index] = exists;
        });
    try {
      // The component's own decoding (GetFieldValuesFromBuffer) with the
      // fit reported.
      DorvDecodeRecord(
          bytes.data(), length, list, db.AlignOnWord(),
          [&db](TDorvPalmField& field, std::int32_t index) {
            return db.TestFieldExistsForRead(field, index);
          },
          &fit);
    } catch (...) {
      db.SetOnTestFieldExistsForRead(answer);
      throw;
    }
    db.SetOnTestFieldExistsForRead(answer);
    bool grown = false;
    // Counts read from the bytes grow the list no further than a layout may
    // declare: 65535 elements in all.
    std::int64_t elements = 0;
    for (int f = 0; f < list.Count(); ++f) elements += list.Items(f)->ArraySize();
    for (std::size_t i = 0; i < fields.size() && i < static_cast<std::size_t>(list.Count()); ++i) {
      if (fields[i].count_field.empty()) continue;
      TDorvPalmField* field = list.Items(static_cast<int>(i));
      std::int32_t wanted = 0;
      for (int k = 0; k < list.Count(); ++k) {
        if (list.Items(k)->FieldName() == fields[i].count_field)
          wanted = std::clamp(list.Items(k)->GetAsInteger(), 0, kMaxElements);
      }
      wanted = static_cast<std::int32_t>(
          std::min<std::int64_t>(wanted, kMaxElements - (elements - field->ArraySize())));
      if (wanted > field->ArraySize()) elements += wanted - field->ArraySize();
      if (wanted > field->ArraySize()) {
        field->SetArraySize(wanted);
        grown = true;
      }
    }
    if (!grown) break;
  }
  result.leftover = bytes.size() - static_cast<std::size_t>(fit.Used);
  for (const int f : fit.PastEnd) result.past_end.push_back(list.Items(f)->FieldName());
  return result;
}

}  // namespace fernwick
