// The window module of POSIX builds: an FLTK 1.3 window built from a form's
// flat description (fernwick/abi/FormWindowModule.h), controls at the
// description's pixel positions. The framework loads it when it first shows
// a form.
//
// What differs from the Windows dialog: FLTK draws its own controls
// (classic FLTK look, not the native one), in FLTK's Helvetica at the
// description's pixel height instead of "MS Sans Serif"; the window manager
// draws the frame, so the outer size is the description's size less a
// classic Windows frame (4 pixels each side, a 19-pixel caption).
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Round_Button.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "FltkLabel.h"
#include <fernwick/abi/FormWindowModule.h>

namespace {

// X11 has a fw::Window of its own: the form's is always fw::Window.
namespace fw = fernwick::formwindow;

// The frame that Windows draws around a resizable form: the description's
// outer size less this is the client area.
constexpr int kFrameWidth = 4;
constexpr int kCaptionHeight = 19;

Fl_Color ToFlColor(std::uint32_t bgr) {
  return fl_rgb_color(static_cast<uchar>(bgr & 0xFF), static_cast<uchar>((bgr >> 8) & 0xFF),
                      static_cast<uchar>((bgr >> 16) & 0xFF));
}

// A radio button that behaves like a Windows one: only the selected button
// of a group takes the focus with Tab, and the arrow keys select the
// previous or next button of the group.
class RadioButton : public Fl_Round_Button {
 public:
  using Fl_Round_Button::Fl_Round_Button;

  // Lets only the selected radio button of `group` take the focus.
  static void UpdateFocus(Fl_Group* group) {
    for (int i = 0; i < group->children(); ++i) {
      if (auto* radio = dynamic_cast<RadioButton*>(group->child(i))) {
        if (radio->value() != 0) {
          radio->set_visible_focus();
        } else {
          radio->clear_visible_focus();
        }
      }
    }
  }

  int handle(int event) override {
    if (event == FL_KEYBOARD) {
      int key = Fl::event_key();
      int step = key == FL_Down || key == FL_Right ? 1 : key == FL_Up || key == FL_Left ? -1 : 0;
      if (step != 0 && parent() != nullptr) {
        std::vector<RadioButton*> radios;
        int at = 0;
        for (int i = 0; i < parent()->children(); ++i) {
          if (auto* radio = dynamic_cast<RadioButton*>(parent()->child(i))) {
            if (radio == this) at = static_cast<int>(radios.size());
            radios.push_back(radio);
          }
        }
        auto count = static_cast<int>(radios.size());
        RadioButton* next = radios[static_cast<std::size_t>((at + step + count) % count)];
        next->setonly();
        UpdateFocus(parent());
        Fl::focus(next);
        next->do_callback();
        return 1;
      }
    }
    return Fl_Round_Button::handle(event);
  }
};

class FltkWindow {
 public:
  explicit FltkWindow(const fw::Window& w) : w_(w) {}

  int Show() {
    if (fl_display == nullptr) {
      const char* display = std::getenv("DISPLAY");
      if (display == nullptr || *display == '\0')
        return NotShown("no display (DISPLAY is not set)");
      Display* connection = XOpenDisplay(nullptr);
      if (connection == nullptr) return NotShown("cannot open display " + std::string(display));
      fl_open_display(connection);
    }
    face_ = ToFlColor(w_.color);
    text_ = ToFlColor(w_.font_color);
    size_ = w_.font_height < 0 ? -w_.font_height : w_.font_height;
    int width = w_.width - 2 * kFrameWidth;
    int height = w_.height - 2 * kFrameWidth - kCaptionHeight;
    int left = w_.left + kFrameWidth;
    int top = w_.top + kFrameWidth + kCaptionHeight;
    if (w_.centred) {
      int sx, sy, sw, sh;
      Fl::screen_xywh(sx, sy, sw, sh);
      left = sx + (sw - w_.width) / 2 + kFrameWidth;
      top = sy + (sh - w_.height) / 2 + kFrameWidth + kCaptionHeight;
    }
    auto window = std::make_unique<Fl_Double_Window>(left, top, width, height);
    window->copy_label(w_.caption);
    window->color(face_);
    window->callback(&FltkWindow::OnWindow, this);
    items_.resize(static_cast<std::size_t>(w_.control_count));
    AddChildren(-1, 0, 0);
    window->end();
    window->set_modal();
    window->show();
    if (focus_ != nullptr) focus_->take_focus();
    while (window->shown() && !closed_ && w_.modal_result(w_.context) == 0) Fl::wait();
    window->hide();
    window.reset();
    Fl::check();
    const int result = w_.modal_result(w_.context);
    return result != 0 ? result : fw::kClosed;
  }

 private:
  struct Item {
    FltkWindow* window = nullptr;
    int index = 0;
  };

  int NotShown(const std::string& why) {
    if (w_.error != nullptr && w_.error_size > 0) {
      std::snprintf(w_.error, w_.error_size, "%s", why.c_str());
    }
    return fw::kNotShown;
  }

  static void OnWindow(Fl_Widget*, void* data) {
    // Escape reaches the window as a shortcut: it does nothing here.
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
    static_cast<FltkWindow*>(data)->closed_ = true;
  }

  static void OnControl(Fl_Widget* widget, void* data) {
    auto* item = static_cast<Item*>(data);
    const fw::Window& w = item->window->w_;
    const bool on = static_cast<Fl_Button*>(widget)->value() != 0;
    switch (w.controls[item->index].kind) {
      case fw::kCheckBox:
        w.set_checked(w.context, item->index, on);
        Fl::focus(widget);
        break;
      case fw::kRadioButton:
        RadioButton::UpdateFocus(widget->parent());
        if (on) {
          Fl::focus(widget);
          w.click(w.context, item->index);
        }
        break;
      default:
        w.click(w.context, item->index);
        break;
    }
  }

  void Style(Fl_Widget* widget) {
    widget->color(face_);
    widget->labelcolor(text_);
    widget->labelfont(FL_HELVETICA);
    widget->labelsize(size_);
  }

  // Creates the widgets of the children of `parent` (-1: the form) in tab
  // order, images first, at client coordinates offset by (dx, dy).
  void AddChildren(int parent, int dx, int dy) {
    std::vector<int> children;
    for (int i = 0; i < w_.control_count; ++i) {
      if (w_.controls[i].parent == parent && w_.controls[i].kind == fw::kImage)
        children.push_back(i);
    }
    for (int order = 0; order < 256; ++order) {
      for (int i = 0; i < w_.control_count; ++i) {
        if (w_.controls[i].parent == parent && w_.controls[i].tab_order == order) {
          children.push_back(i);
        }
      }
    }
    for (int i : children) Add(i, dx, dy);
  }

  void Add(int index, int dx, int dy) {
    const fw::Control& c = w_.controls[index];
    const int x = dx + c.left, y = dy + c.top;
    Item* item = &items_[static_cast<std::size_t>(index)];
    *item = Item{this, index};
    switch (c.kind) {
      case fw::kCheckBox:
      case fw::kRadioButton: {
        Fl_Button* button = nullptr;
        if (c.kind == fw::kCheckBox) {
          button = new Fl_Check_Button(x, y, c.width, c.height);
        } else {
          button = new RadioButton(x, y, c.width, c.height);
          button->type(FL_RADIO_BUTTON);
        }
        button->copy_label(fw::LiteralLabel(c.caption).c_str());
        Style(button);
        button->down_box(c.kind == fw::kCheckBox ? FL_DOWN_BOX : FL_ROUND_DOWN_BOX);
        button->selection_color(text_);
        button->value(c.checked ? 1 : 0);
        button->callback(&FltkWindow::OnControl, item);
        button->when(FL_WHEN_CHANGED);
        if (c.checked && c.kind == fw::kRadioButton) focus_ = button;
        break;
      }
      case fw::kGroupBox: {
        auto* group = new Fl_Group(x, y, c.width, c.height);
        group->box(FL_NO_BOX);
        auto* frame = new Fl_Box(FL_ENGRAVED_FRAME, x, y + size_ / 2 + 1, c.width,
                                 c.height - size_ / 2 - 1, nullptr);
        frame->color(face_);
        fl_font(FL_HELVETICA, size_);
        auto* caption = new Fl_Box(x + 8, y, static_cast<int>(fl_width(c.caption)), size_ + 2);
        caption->box(FL_FLAT_BOX);
        Style(caption);
        caption->copy_label(fw::LiteralLabel(c.caption).c_str());
        caption->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
        AddChildren(index, x, y);
        group->end();
        RadioButton::UpdateFocus(group);
        break;
      }
      case fw::kImage: {
        auto* box = new Fl_Box(x, y, c.width, c.height);
        box->box(FL_NO_BOX);
        if (c.picture_width > 0 && c.picture_height > 0 && c.pixels != nullptr) {
          const std::size_t count = static_cast<std::size_t>(c.picture_width) *
                                    static_cast<std::size_t>(c.picture_height);
          std::vector<uchar> rgb;
          rgb.reserve(count * 3);
          for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t p = c.pixels[i];
            rgb.push_back(static_cast<uchar>(p >> 16));
            rgb.push_back(static_cast<uchar>(p >> 8));
            rgb.push_back(static_cast<uchar>(p));
          }
          images_.push_back(std::move(rgb));
          rgb_images_.push_back(std::make_unique<Fl_RGB_Image>(
              images_.back().data(), c.picture_width, c.picture_height, 3));
          box->image(rgb_images_.back().get());
          box->align(FL_ALIGN_TOP_LEFT | FL_ALIGN_INSIDE);
        }
        break;
      }
      default: {
        auto* button = new Fl_Button(x, y, c.width, c.height);
        button->copy_label(fw::LiteralLabel(c.caption).c_str());
        Style(button);
        button->callback(&FltkWindow::OnControl, item);
        break;
      }
    }
  }

  const fw::Window& w_;
  bool closed_ = false;
  Fl_Color face_ = FL_BACKGROUND_COLOR;
  Fl_Color text_ = FL_FOREGROUND_COLOR;
  int size_ = 11;
  Fl_Widget* focus_ = nullptr;
  std::vector<Item> items_;
  std::vector<std::vector<uchar>> images_;
  std::vector<std::unique_ptr<Fl_RGB_Image>> rgb_images_;
};

}  // namespace

// Shows the window modally. Never lets an exception out: a failure becomes
// kNotShown with its reason.
extern "C" __attribute__((visibility("default"))) int fernwick_show_form_window(
    const fw::Window* window) {
  if (window == nullptr) return fw::kNotShown;
  try {
    if (window->version != fw::kVersion || window->modal_result == nullptr ||
        window->click == nullptr || window->set_checked == nullptr) {
      if (window->error != nullptr && window->error_size > 0) {
        std::snprintf(window->error, window->error_size,
                      "the window module %s does not match this library (interface %d, "
                      "the module's %d)",
                      fw::kModuleFileName, window->version, fw::kVersion);
      }
      return fw::kNotShown;
    }
    FltkWindow shown(*window);
    return shown.Show();
  } catch (const std::exception& e) {
    if (window->error != nullptr && window->error_size > 0) {
      std::snprintf(window->error, window->error_size, "%s", e.what());
    }
    return fw::kNotShown;
  }
}
