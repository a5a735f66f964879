// How the window module hands a caption to FLTK so that it shows as
// written.
#pragma once

#include <string>
#include <string_view>

namespace fernwick::formwindow {

// `caption` as an FLTK widget label that shows it as written. FLTK reads
// "@name" in a widget's label as a symbol to draw and ends the text there
// (the group caption of a conduit named "Mail@Home" showed " HotSync Action
// for Mail"), and "@@" as one '@': so every '@' is doubled. '&' keeps its
// meaning, the accelerator mark. Window titles are not drawn by FLTK and
// take the caption unchanged.
inline std::string LiteralLabel(std::string_view caption) {
  std::string label;
  label.reserve(caption.size());
  for (char c : caption) {
    if (c == '@') label.push_back('@');
    label.push_back(c);
  }
  return label;
}

}  // namespace fernwick::formwindow
