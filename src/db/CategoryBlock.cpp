#include <fernwick/db/CategoryBlock.h>
#include <fernwick/db/PalmText.h>

namespace fernwick {

namespace {

void AddField(TDorvPalmFields& fields, const char* name, TDorvPalmFieldType type, std::int32_t size,
              std::int32_t count) {
  TDorvPalmField* field = fields.Add();
  field->SetFieldName(name);
  field->SetDataType(type);
  field->SetSize(size);
  field->SetArraySize(count);
}

// The handheld's bytes of `name` as a slot holds them.
std::string SlotBytes(const std::string& name) {
  std::string bytes = Utf8ToPalm(name);
  if (bytes.size() > TDorvCategories::kMaxNameBytes) bytes.resize(TDorvCategories::kMaxNameBytes);
  return bytes;
}

}  // namespace

void AddCategoryFields(TDorvPalmFields& fields) {
  AddField(fields, "Renamed", pftSmallint, 0, 1);
  AddField(fields, "CategoryName", pftString, 16, 16);
  AddField(fields, "CategoryId", pftByte, 0, 16);
  AddField(fields, "LastUniqueId", pftByte, 0, 1);
  AddField(fields, "CategoryPad", pftByte, 0, 1);
  AddField(fields, "Reserved", pftSmallint, 0, 1);
}

std::array<std::string, 16> CategoryNames(TDorvPalmFields& fields) {
  std::array<std::string, 16> names;
  if (TDorvPalmField* field = fields.FindField("CategoryName")) {
    for (std::int32_t i = 0; i < 16; ++i) names[i] = PalmToUtf8(field->GetArrayValue(i).AsString());
  }
  return names;
}

TDorvCategories TDorvCategories::Read(TDorvPalmFields& fields) {
  TDorvCategories block;
  TDorvPalmField* names = fields.FieldByName("CategoryName");
  TDorvPalmField* ids = fields.FieldByName("CategoryId");
  block.renamed = static_cast<std::uint16_t>(fields.FieldByName("Renamed")->GetAsInteger());
  block.last_unique_id =
      static_cast<std::uint8_t>(fields.FieldByName("LastUniqueId")->GetAsInteger());
  for (int i = 0; i < kCount; ++i) {
    block.names[i] = PalmToUtf8(names->GetArrayValue(i).AsString());
    block.ids[i] = static_cast<std::uint8_t>(ids->GetArrayValue(i).AsInteger());
  }
  return block;
}

void TDorvCategories::Write(TDorvPalmFields& fields) const {
  TDorvPalmField* name_field = fields.FieldByName("CategoryName");
  TDorvPalmField* id_field = fields.FieldByName("CategoryId");
  fields.FieldByName("Renamed")->SetAsInteger(renamed);
  fields.FieldByName("LastUniqueId")->SetAsInteger(last_unique_id);
  for (int i = 0; i < kCount; ++i) {
    name_field->SetArrayValue(i, Variant(SlotBytes(names[i])));
    id_field->SetArrayValue(i, Variant(static_cast<std::int32_t>(ids[i])));
  }
}

int TDorvCategories::Find(const std::string& name) const {
  const std::string wanted = SlotBytes(name);
  if (wanted.empty()) return -1;
  for (int i = 0; i < kCount; ++i) {
    if (SlotBytes(names[i]) == wanted) return i;
  }
  return -1;
}

int TDorvCategories::FindOrCreate(const std::string& name) {
  if (const int found = Find(name); found >= 0) return found;
  if (SlotBytes(name).empty()) return -1;
  for (int i = 1; i < kCount; ++i) {
    if (!names[i].empty()) continue;
    std::uint8_t id = 128;
    for (bool taken = true; taken;) {
      taken = false;
      for (int k = 0; k < kCount; ++k)
        taken = taken || (k != i && !names[k].empty() && ids[k] == id);
      if (taken) ++id;
    }
    ids[i] = id;
    Rename(i, name);
    return i;
  }
  return -1;
}

void TDorvCategories::Rename(int index, const std::string& name) {
  if (index < 0 || index >= kCount) return;
  names[index] = PalmToUtf8(SlotBytes(name));
  renamed = static_cast<std::uint16_t>(renamed | (1u << index));
}

}  // namespace fernwick
