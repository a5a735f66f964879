#include "ModuleText.h"

#include <exception>
#include <string>

#include <fernwick/conduit/DorvPalmConduit.h>
#include <fernwick/db/DorvConduitDb.h>
#include <fernwick/framework/SysUtils.h>

namespace fernwick {

namespace {

// The text a property setter takes for a streamed scalar value.
std::string ValueText(const TStreamedProperty& p, const TStreamedReader& reader) {
  switch (p.value.kind) {
    case TStreamedValue::kInteger:
      return std::to_string(p.value.integer);
    case TStreamedValue::kString:
    case TStreamedValue::kIdent:
      return p.value.text;
    default:
      reader.Fail(p.line, "property " + p.name + " of " + reader.Object().name +
                              " takes a number, a string or an identifier");
  }
}

// Runs `set` and reports a refused value with the line of its property.
template <class Set>
void Assign(const TStreamedProperty& p, const TStreamedReader& reader, Set&& set) {
  try {
    set(ValueText(p, reader));
  } catch (const EParserError&) {
    throw;
  } catch (const std::exception& e) {
    reader.Fail(p.line, "property " + p.name + " of " + reader.Object().name + ": " + e.what());
  }
}

void ReadFields(const TStreamedProperty& p, const TStreamedReader& reader,
                TDorvPalmFields& fields) {
  if (p.value.kind != TStreamedValue::kCollection) {
    reader.Fail(p.line, "property " + p.name + " of " + reader.Object().name +
                            " must be a collection < item ... end >");
  }
  fields.Clear();
  for (const TStreamedItem& item : p.value.items) {
    TDorvPalmField& field = *fields.Add();
    for (const TStreamedProperty& fp : item.properties) {
      const TPropertyInfo* info = nullptr;
      for (const auto& candidate : TDorvPalmField::PublishedProperties()) {
        if (CompareText(candidate.Name, fp.name) == 0) info = &candidate;
      }
      if (info == nullptr || info->Set == nullptr) {
        reader.Fail(fp.line, "unknown property " + fp.name + " of an item of " + p.name);
      }
      Assign(fp, reader, [&](const std::string& text) { info->Set(field, text); });
    }
  }
}

void ReadConduit(const TStreamedReader& reader, TDorvConduit& conduit) {
  for (const TStreamedProperty& p : reader.Object().properties) {
    const TPropertyInfo* info = nullptr;
    for (const auto& candidate : TDorvConduit::PublishedProperties()) {
      if (CompareText(candidate.Name, p.name) == 0) info = &candidate;
    }
    if (info == nullptr) reader.Fail(p.line, "unknown property " + p.name + " of TDorvConduit");
    if (info->IsEvent || info->Set == nullptr) {
      reader.Fail(p.line, "event " + p.name + " cannot be assigned in text; assign it in code");
    }
    Assign(p, reader, [&](const std::string& text) { info->Set(conduit, text); });
  }
}

void ReadDatabase(const TStreamedReader& reader, TDorvConduitDb& db) {
  for (const TStreamedProperty& p : reader.Object().properties) {
    if (CompareText(p.name, "Fields") == 0) {
      ReadFields(p, reader, db.Fields());
      continue;
    }
    if (CompareText(p.name, "AppInfoFields") == 0) {
      ReadFields(p, reader, db.AppInfoFields());
      continue;
    }
    if (CompareText(p.name, "SortInfoFields") == 0) {
      ReadFields(p, reader, db.SortInfoFields());
      continue;
    }
    const TPropertyInfo* info = nullptr;
    for (const auto& candidate : TDorvConduitDb::PublishedProperties()) {
      if (CompareText(candidate.Name, p.name) == 0) info = &candidate;
    }
    if (info == nullptr) reader.Fail(p.line, "unknown property " + p.name + " of TDorvConduitDb");
    if (info->Set == nullptr) {
      reader.Fail(p.line, "event " + p.name + " cannot be assigned in text; assign it in code");
    }
    Assign(p, reader, [&](const std::string& text) { info->Set(db, text); });
  }
}

}  // namespace

std::vector<TComponent*> ReadModuleText(std::string_view text, std::string_view source,
                                        TComponent& module) {
  TStreamedObject top = ReadObjectText(text, source);
  std::string source_name(source);
  TStreamedReader top_reader(top, source_name);
  top_reader.CheckNames({});
  std::vector<TComponent*> made;
  try {
    for (const TStreamedObject& object : top.children) {
      TStreamedReader reader(object, source_name);
      if (!object.children.empty()) {
        reader.Fail(object.children.front().line, object.name + " cannot own components");
      }
      if (CompareText(object.class_name, "TDorvConduit") == 0) {
        TDorvConduit* conduit = nullptr;
        try {
          conduit = new TDorvConduit(&module);
        } catch (const std::exception& e) {
          reader.Fail(object.line, object.name + ": " + e.what());
        }
        made.push_back(conduit);
        conduit->SetName(object.name);
        ReadConduit(reader, *conduit);
      } else if (CompareText(object.class_name, "TDorvConduitDb") == 0) {
        auto* db = new TDorvConduitDb(&module);
        made.push_back(db);
        db->SetName(object.name);
        ReadDatabase(reader, *db);
      } else {
        reader.Fail(object.line,
                    "unknown component class " + object.class_name + " of " + object.name);
      }
    }
  } catch (...) {
    for (auto it = made.rbegin(); it != made.rend(); ++it) delete *it;
    throw;
  }
  return made;
}

}  // namespace fernwick
