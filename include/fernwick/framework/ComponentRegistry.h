/// \file
/// The component class registry: the classes a library offers to tools (a
/// component designer, the runner, tests), grouped by palette page, each with
/// a factory and the list of its published properties (TPropertyInfo,
/// fernwick/framework/Classes.h).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <fernwick/framework/Classes.h>

namespace fernwick {

/// Creates a component of a class with the given owner; the owner destroys it
/// (or the caller, when the owner is null).
using TComponentFactory = std::function<TComponent*(TComponent* owner)>;

/// One registered component class.
struct TComponentClassInfo {
  std::string page;        ///< palette page, "Conduit"
  std::string class_name;  ///< "TDorvConduit"
  /// Empty when the class is listed by name only and cannot be created
  /// through the registry.
  TComponentFactory create;
  /// Its published properties in published order (as the class's
  /// PublishedProperties() lists them).
  std::vector<TPropertyInfo> properties;
  ///@{
  /// The palette bitmap: its resource name ("TDORVCONDUIT") and the bytes of
  /// its .bmp file; both empty when the class has none. The bytes live as
  /// long as the library that registered the class.
  std::string bitmap_name;
  std::string_view bitmap;
  ///@}
};

/// Registers `classes` on the palette page `page`, in the given order. A class
/// registered again replaces its earlier entry (keeping its position).
void RegisterComponents(const std::string& page, std::vector<TComponentClassInfo> classes);

/// Every registered class, in registration order.
const std::vector<TComponentClassInfo>& RegisteredComponents();

/// The registered class of that name (compared ignoring case), or nullptr.
/// The pointer stays valid until the next RegisterComponents call.
const TComponentClassInfo* FindComponentClass(const std::string& class_name);

}  // namespace fernwick
