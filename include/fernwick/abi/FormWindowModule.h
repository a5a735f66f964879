// What the framework hands to the window module that shows forms on POSIX
// systems (libfernwick_forms_fltk.so, built from src/framework/fltk/). The
// module is loaded when the first form is shown, so that a conduit which
// never shows one does not load the window toolkit and the dozen X
// libraries under it. Plain data and callbacks only: the module holds no
// framework code, and the framework no toolkit code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fernwick::formwindow {

// Raised whenever the layout of the structures below changes; the module
// refuses a window of another version.
inline constexpr int kVersion = 1;

// The module's file name, and the function it exports.
inline constexpr const char* kModuleFileName = "libfernwick_forms_fltk.so";
inline constexpr const char* kShowFunction = "fernwick_show_form_window";

// Environment variable that, when set, names the one module file to load
// instead of looking for it. For hosts and tests.
inline constexpr const char* kModuleVariable = "FERNWICK_FORMS_MODULE";

enum ControlKind : int { kButton = 0, kCheckBox, kRadioButton, kGroupBox, kImage };

struct Control {
  int kind = kButton;
  int parent = -1;                               // index of the parent control; -1: the form
  int left = 0, top = 0, width = 0, height = 0;  // pixels, relative to the parent
  int tab_order = -1;                            // -1: takes no focus
  const char* caption = "";                      // '&' marks the accelerator
  bool checked = false;                          // check boxes and radio buttons
  int picture_width = 0, picture_height = 0;     // images: 0 for none
  const std::uint32_t* pixels = nullptr;         // 0x00RRGGBB, row by row from the top
};

struct Window {
  int version = kVersion;
  const char* caption = "";
  int left = 0, top = 0, width = 0, height = 0;  // outer size, frame included
  bool centred = false;                          // false: at left, top
  std::uint32_t color = 0;                       // 0x00BBGGRR
  std::uint32_t font_color = 0;                  // 0x00BBGGRR
  int font_height = 0;                           // pixels
  const Control* controls = nullptr;
  int control_count = 0;

  // Called by the module, with `context`: a check box changed, a control
  // was clicked, and the form's modal result (0 while the form stays
  // open). The framework never lets an exception leave them.
  void* context = nullptr;
  void (*set_checked)(void* context, int control, bool checked) = nullptr;
  void (*click)(void* context, int control) = nullptr;
  int (*modal_result)(void* context) = nullptr;

  // Where the module says why it could not show the window (NUL-terminated,
  // cut to fit).
  char* error = nullptr;
  std::size_t error_size = 0;
};

// The results of the exported function
//   extern "C" int fernwick_show_form_window(const Window* window);
// besides a nonzero modal result.
inline constexpr int kNotShown = 0;  // the reason is in Window::error
inline constexpr int kClosed = -1;   // the window's close box

using ShowFunction = int (*)(const Window* window);

}  // namespace fernwick::formwindow
