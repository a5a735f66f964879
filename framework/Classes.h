// The component model of the host framework: persistent objects, and
// components that own the components created with them as owner.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace fernwick {

// Base of objects that can be copied from one another with Assign.
class TPersistent {
 public:
  TPersistent() = default;
  TPersistent(const TPersistent&) = delete;
  TPersistent& operator=(const TPersistent&) = delete;
  virtual ~TPersistent() = default;

  // Copies `source` into this object. The default asks `source` to AssignTo
  // this object, and raises EConvertError "Cannot assign a <source class> to
  // a <class>" when neither side knows how.
  virtual void Assign(const TPersistent& source);

  // The class name shown in messages and display names ("TDorvPalmField").
  virtual std::string ClassName() const { return "TPersistent"; }

 protected:
  // Copies this object into `dest`; the default raises EConvertError.
  virtual void AssignTo(TPersistent& dest) const;
};

// A component. A component created with an owner is destroyed by that owner
// (in reverse order of creation) unless it is destroyed first, in which case
// it removes itself from its owner.
class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;

  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const { return components_.at(static_cast<std::size_t>(index)); }

  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }

  std::string ClassName() const override { return "TComponent"; }

 private:
  void InsertComponent(TComponent* child);
  void RemoveComponent(TComponent* child);

  TComponent* owner_;
  std::string name_;
  std::vector<TComponent*> components_;
  bool destroying_ = false;
};

// One published property of class T, as a streaming or designer layer sees it.
// A class lists its published properties in published order in a static
// table. Values travel as text: numbers in decimal, Booleans as "False" and
// "True", enumerations by their value names ("pftLongint"). Event properties
// have no text form: their Get and Set are null.
template <class T>
struct TPropertyInfo {
  std::string_view Name;      // "FieldName"
  std::string_view TypeName;  // "string", "TDorvPalmFieldType", "Integer", "Boolean", ...
  // The value of a newly constructed object, as text.
  std::string_view Default;
  // True: always stored. False: stored only when the value differs from Default.
  bool AlwaysStored;
  std::string (*Get)(const T& object);
  // Assigns through the property's setter; raises EConvertError for text
  // that is not a value of the property's type.
  void (*Set)(T& object, std::string_view text);
};

}  // namespace fernwick
