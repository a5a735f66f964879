// Fuzz target of the form loader: reads the input as streamed component text,
// as a form description and as a data module, and the same bytes as a bitmap
// file. Any input
// must be read whole or refused with the loader's own exception types.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ModuleText.h"
#include <fernwick/framework/Bitmaps.h>
#include <fernwick/framework/Forms.h>
#include <fernwick/framework/ObjectText.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    fernwick::ReadObjectText(text, "fuzz");
  } catch (const fernwick::EParserError&) {
  }
  try {
    fernwick::TFormDescription form = fernwick::ReadFormDescription(text, "fuzz");
    fernwick::TForm built(nullptr, form);
    for (fernwick::TControl* control : built.Controls()) built.Click(*control);
  } catch (const fernwick::EParserError&) {
  }
  try {
    fernwick::TComponent module(nullptr);
    fernwick::ReadModuleText(text, "fuzz", module);
  } catch (const fernwick::EParserError&) {
  }
  try {
    fernwick::DecodeBitmap(text, "fuzz");
  } catch (const fernwick::EInvalidGraphic&) {
  }
  return 0;
}
