// Fuzz target of the vCard reader (examples/common/VCard.h): the input is a
// file. A file read without error is written back and read again, and the
// cards must come out the same; then written again with every property
// composed anew (as a conduit writes what it changed), and read again: each
// property must keep its name and text. Any other difference, or an
// exception other than EVObjectError, aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/VCard.h"

namespace {

using fernwick::examples::TVComponent;

void ClearRaw(TVComponent& component) {
  for (auto& property : component.properties) property.raw.clear();
  for (TVComponent& child : component.components) ClearRaw(child);
}

bool SameTexts(const TVComponent& a, const TVComponent& b) {
  if (a.name != b.name || a.properties.size() != b.properties.size() ||
      a.components.size() != b.components.size())
    return false;
  for (std::size_t i = 0; i < a.properties.size(); ++i)
    if (a.properties[i].name != b.properties[i].name ||
        a.properties[i].Text() != b.properties[i].Text())
      return false;
  for (std::size_t i = 0; i < a.components.size(); ++i)
    if (!SameTexts(a.components[i], b.components[i])) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace fernwick::examples;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<TVCard> cards;
  try {
    cards = ReadVCards(text);
  } catch (const EVObjectError&) {
    return 0;
  }
  std::string written;
  for (const TVCard& card : cards) written += WriteVObject(card.source);
  try {
    const std::vector<TVCard> again = ReadVCards(written);
    bool same = again.size() == cards.size();
    for (std::size_t i = 0; same && i < cards.size(); ++i) same = again[i].SameFields(cards[i]);
    if (!same) {
      std::fprintf(stderr, "vCard round trip changed the cards\n");
      std::abort();
    }
  } catch (const EVObjectError& e) {
    std::fprintf(stderr, "vCard written back cannot be read: %s\n", e.what());
    std::abort();
  }
  for (const TVCard& card : cards) {
    TVComponent composed = card.source;
    ClearRaw(composed);
    try {
      const std::vector<TVComponent> again = ReadVObjects(WriteVObject(composed));
      if (again.size() != 1 || !SameTexts(again[0], card.source)) {
        std::fprintf(stderr, "vCard composed anew changed a property\n");
        std::abort();
      }
    } catch (const EVObjectError& e) {
      std::fprintf(stderr, "vCard composed anew cannot be read: %s\n", e.what());
      std::abort();
    }
  }
  return 0;
}
