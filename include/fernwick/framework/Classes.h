/// \file
/// The component model of the host framework: persistent objects, and
/// components that own the components created with them as owner.
#pragma once

#include <string>
#include <string_view>
#include <vector>

/// Everything Fernwick declares: the host component framework, the Sync
/// Manager and HotSync log bindings, the database component and the conduit
/// component, with the binary interfaces they share with HotSync Manager.
namespace fernwick {

/// Base of objects that can be copied from one another with Assign.
class TPersistent {
 public:
  TPersistent() = default;
  TPersistent(const TPersistent&) = delete;
  TPersistent& operator=(const TPersistent&) = delete;
  virtual ~TPersistent() = default;

  /// Copies `source` into this object. The default asks `source` to AssignTo
  /// this object, and raises EConvertError "Cannot assign a <source class> to
  /// a <class>" when neither side knows how.
  virtual void Assign(const TPersistent& source);

  /// The class name shown in messages and display names ("TDorvPalmField").
  virtual std::string ClassName() const { return "TPersistent"; }

 protected:
  /// Copies this object into `dest`; the default raises EConvertError.
  virtual void AssignTo(TPersistent& dest) const;
};

/// A component. A component created with an owner is destroyed by that owner
/// (in reverse order of creation) unless it is destroyed first, in which case
/// it removes itself from its owner.
class TComponent : public TPersistent {
 public:
  /// Makes the component; with a non-null `owner` the owner takes it over.
  explicit TComponent(TComponent* owner);
  ~TComponent() override;

  /// The owner given at construction, or nullptr.
  TComponent* Owner() const { return owner_; }
  /// The number of components this one owns.
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  /// The owned component at `index`, in order of creation; std::out_of_range
  /// outside 0 to ComponentCount() - 1.
  TComponent* Components(int index) const {
    return components_.at(static_cast<std::size_t>(index));
  }

  ///@{
  /// The component's name; empty unless set. Not checked for uniqueness.
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  ///@}

  std::string ClassName() const override { return "TComponent"; }

 private:
  void InsertComponent(TComponent* child);
  void RemoveComponent(TComponent* child);

  TComponent* owner_;
  std::string name_;
  std::vector<TComponent*> components_;
  bool destroying_ = false;
};

/// One published property of a class, as a streaming layer, the component
/// registry or a designer sees it. Every class (components and collection
/// items alike) lists its published properties in published order in a
/// static table of these, returned by its PublishedProperties(). Values
/// travel as text, through the converters of fernwick/framework/PropertyText.h:
/// numbers in decimal, Booleans as "False" and "True", enumerations by their
/// value names ("pftLongint").
///
/// Get and Set take the object as TPersistent. REQUIRES: it is of the class
/// that listed the property (or derived from it); another class raises
/// std::bad_cast.
struct TPropertyInfo {
  std::string_view Name;      ///< "FieldName"
  std::string_view TypeName;  ///< "string", "TDorvPalmFieldType", "Integer", "Boolean", ...
  /// The value of a newly constructed object, as text.
  std::string_view Default;
  /// True: always stored. False: stored only when the value differs from Default.
  bool AlwaysStored;
  /// True for an event: Get answers "(assigned)" or "" and Set is null.
  bool IsEvent;
  /// Reads the property as text. Null for a property without a text form
  /// (an owned collection such as a field list).
  std::string (*Get)(const TPersistent& object);
  /// Assigns through the property's setter; raises EConvertError for text
  /// that is not a value of the property's type. Null for events and owned
  /// collections.
  void (*Set)(TPersistent& object, std::string_view text);
};

/// The text Get answers for an event: "(assigned)" or "".
inline std::string EventText(bool assigned) { return assigned ? "(assigned)" : ""; }

}  // namespace fernwick
