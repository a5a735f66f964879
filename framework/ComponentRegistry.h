// The component class registry: the classes a library offers to tools (a
// component designer, the runner, tests), grouped by palette page, each with
// a factory and the list of its published properties.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/Classes.h"

namespace fernwick {

// One published property of a component class, in published order. The
// accessors work on text so that streaming and any tool that shows properties
// need no knowledge of the class.
struct TPublishedProperty {
  std::string name;           // "ConduitName"
  std::string type_name;      // "string", "TSyncTypes", "TOpenConduitEvent", ...
  bool has_default = false;   // false: the value is always stored
  std::string default_value;  // the streamed default as text, when has_default
  bool is_event = false;      // events have no text value
  // Reads the property of `component` as text ("" for an event that is not
  // assigned, "(assigned)" for one that is). REQUIRES: component is of the
  // class the property belongs to.
  std::function<std::string(const TComponent& component)> get;
  // Writes the property from text; empty for events. Raises EConvertError
  // when the text is not a value of the property's type.
  std::function<void(TComponent& component, const std::string& text)> set;
};

// Creates a component of a class with the given owner; the owner destroys it
// (or the caller, when the owner is null).
using TComponentFactory = std::function<TComponent*(TComponent* owner)>;

// One registered component class.
struct TComponentClassInfo {
  std::string page;        // palette page, "Conduit"
  std::string class_name;  // "TDorvConduit"
  // Empty when the class is listed by name only and cannot be created
  // through the registry.
  TComponentFactory create;
  std::vector<TPublishedProperty> properties;
  // The palette bitmap: its resource name ("TDORVCONDUIT") and the bytes of
  // its .bmp file; both empty when the class has none. The bytes live as
  // long as the library that registered the class.
  std::string bitmap_name;
  std::string_view bitmap;
};

// Registers `classes` on the palette page `page`, in the given order. A class
// registered again replaces its earlier entry (keeping its position).
void RegisterComponents(const std::string& page, std::vector<TComponentClassInfo> classes);

// Every registered class, in registration order.
const std::vector<TComponentClassInfo>& RegisteredComponents();

// The registered class of that name (compared ignoring case), or nullptr.
// The pointer stays valid until the next RegisterComponents call.
const TComponentClassInfo* FindComponentClass(const std::string& class_name);

}  // namespace fernwick
