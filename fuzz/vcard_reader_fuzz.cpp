// Fuzz target of the vCard reader (examples/common/VCard.h): the input is a
// file. A file read without error is written back and read again, and the
// cards must come out the same; any other difference, or an exception
// other than EVObjectError, aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/VCard.h"

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
  return 0;
}
