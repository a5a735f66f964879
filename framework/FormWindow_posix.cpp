// The window backend of POSIX builds: an FLTK 1.3 window built from the form
// description, controls at the description's pixel positions.
//
// What differs from the Windows dialog: FLTK draws its own controls
// (classic FLTK look, not the native one), in FLTK's Helvetica at the
// description's pixel height instead of "MS Sans Serif"; the window manager draws
// the frame, so the outer size is the description's size less a classic
// Windows frame (4 pixels each side, a 19-pixel caption).
//
// Built without FLTK (FERNWICK_HAVE_FLTK undefined), every form answers
// mrNone with a message on standard error.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "framework/Dialogs.h"
#include "framework/Forms.h"

#ifdef FERNWICK_HAVE_FLTK
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
#endif

namespace fernwick {

namespace {

void NoWindow(const TForm& form, const char* why) {
  std::fprintf(stderr, "%s: the dialog cannot be shown: %s; it counts as cancelled\n",
               form.Caption().c_str(), why);
}

#ifdef FERNWICK_HAVE_FLTK

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

class FltkBackend : public TFormBackend {
 public:
  int ShowModal(TForm& form) override {
    if (fl_display == nullptr) {
      const char* display = std::getenv("DISPLAY");
      if (display == nullptr || *display == '\0') {
        NoWindow(form, "no display (DISPLAY is not set)");
        return mrNone;
      }
      Display* connection = XOpenDisplay(nullptr);
      if (connection == nullptr) {
        NoWindow(form, ("cannot open display " + std::string(display)).c_str());
        return mrNone;
      }
      fl_open_display(connection);
    }
    const TFormDescription& d = form.Description();
    face_ = ToFlColor(d.color);
    text_ = ToFlColor(d.font_color);
    size_ = d.font_height < 0 ? -d.font_height : d.font_height;
    int width = d.width - 2 * kFrameWidth;
    int height = d.height - 2 * kFrameWidth - kCaptionHeight;
    int left = d.left + kFrameWidth;
    int top = d.top + kFrameWidth + kCaptionHeight;
    if (d.position != "poDesigned") {
      int sx, sy, sw, sh;
      Fl::screen_xywh(sx, sy, sw, sh);
      left = sx + (sw - d.width) / 2 + kFrameWidth;
      top = sy + (sh - d.height) / 2 + kFrameWidth + kCaptionHeight;
    }
    auto window = std::make_unique<Fl_Double_Window>(left, top, width, height);
    window->copy_label(form.Caption().c_str());
    window->color(face_);
    window->callback(&FltkBackend::OnWindow, this);
    closed_ = false;
    form_ = &form;
    AddChildren(nullptr, 0, 0);
    window->end();
    window->set_modal();
    window->show();
    if (focus_ != nullptr) focus_->take_focus();
    while (window->shown() && !closed_ && form.ModalResult() == mrNone) Fl::wait();
    window->hide();
    window.reset();
    Fl::check();
    items_.clear();
    rgb_images_.clear();
    images_.clear();
    return form.ModalResult() != mrNone ? form.ModalResult() : mrCancel;
  }

 private:
  struct Item {
    FltkBackend* backend;
    TControl* control;
  };

  static void OnWindow(Fl_Widget*, void* data) {
    // Escape reaches the window as a shortcut: it does nothing here.
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
    static_cast<FltkBackend*>(data)->closed_ = true;
  }

  static void OnControl(Fl_Widget* widget, void* data) {
    auto* item = static_cast<Item*>(data);
    TControl& control = *item->control;
    switch (control.Kind()) {
      case TControlKind::kCheckBox:
        control.SetChecked(static_cast<Fl_Button*>(widget)->value() != 0);
        Fl::focus(widget);
        break;
      case TControlKind::kRadioButton:
        RadioButton::UpdateFocus(widget->parent());
        if (static_cast<Fl_Button*>(widget)->value() != 0) Fl::focus(widget);
        if (static_cast<Fl_Button*>(widget)->value() != 0) control.Form().Click(control);
        break;
      default:
        control.Form().Click(control);
        break;
    }
  }

  void Style(Fl_Widget* widget) {
    widget->color(face_);
    widget->labelcolor(text_);
    widget->labelfont(FL_HELVETICA);
    widget->labelsize(size_);
  }

  // Creates the widgets of the children of `parent` (nullptr: the form) in
  // tab order, images first, at client coordinates offset by (dx, dy).
  void AddChildren(TControl* parent, int dx, int dy) {
    std::vector<TControl*> children;
    for (TControl* c : form_->Controls()) {
      if (c->Parent() == parent && c->Kind() == TControlKind::kImage) children.push_back(c);
    }
    for (int order = 0; order < 256; ++order) {
      for (TControl* c : form_->Controls()) {
        if (c->Parent() == parent && c->Description().tab_order == order) children.push_back(c);
      }
    }
    for (TControl* control : children) Add(*control, dx, dy);
  }

  void Add(TControl& control, int dx, int dy) {
    const TControlDescription& d = control.Description();
    int x = dx + d.left, y = dy + d.top;
    items_.push_back(std::make_unique<Item>(Item{this, &control}));
    Item* item = items_.back().get();
    switch (d.kind) {
      case TControlKind::kButton: {
        auto* button = new Fl_Button(x, y, d.width, d.height);
        button->copy_label(control.Caption().c_str());
        Style(button);
        button->callback(&FltkBackend::OnControl, item);
        break;
      }
      case TControlKind::kCheckBox:
      case TControlKind::kRadioButton: {
        Fl_Button* button = nullptr;
        if (d.kind == TControlKind::kCheckBox) {
          button = new Fl_Check_Button(x, y, d.width, d.height);
        } else {
          button = new RadioButton(x, y, d.width, d.height);
          button->type(FL_RADIO_BUTTON);
        }
        button->copy_label(control.Caption().c_str());
        Style(button);
        button->down_box(d.kind == TControlKind::kCheckBox ? FL_DOWN_BOX : FL_ROUND_DOWN_BOX);
        button->selection_color(text_);
        button->value(control.Checked() ? 1 : 0);
        button->callback(&FltkBackend::OnControl, item);
        button->when(FL_WHEN_CHANGED);
        if (control.Checked() && d.kind == TControlKind::kRadioButton) focus_ = button;
        break;
      }
      case TControlKind::kGroupBox: {
        auto* group = new Fl_Group(x, y, d.width, d.height);
        group->box(FL_NO_BOX);
        auto* frame = new Fl_Box(FL_ENGRAVED_FRAME, x, y + size_ / 2 + 1, d.width,
                                 d.height - size_ / 2 - 1, nullptr);
        frame->color(face_);
        fl_font(FL_HELVETICA, size_);
        auto* caption = new Fl_Box(
            x + 8, y, static_cast<int>(fl_width(control.Caption().c_str())), size_ + 2);
        caption->box(FL_FLAT_BOX);
        Style(caption);
        caption->copy_label(control.Caption().c_str());
        caption->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
        AddChildren(&control, x, y);
        group->end();
        RadioButton::UpdateFocus(group);
        break;
      }
      case TControlKind::kImage: {
        const TBitmapImage& picture = control.Picture();
        auto* box = new Fl_Box(x, y, d.width, d.height);
        box->box(FL_NO_BOX);
        if (picture.width > 0) {
          std::vector<uchar> rgb;
          for (std::uint32_t p : picture.pixels) {
            rgb.push_back(static_cast<uchar>(p >> 16));
            rgb.push_back(static_cast<uchar>(p >> 8));
            rgb.push_back(static_cast<uchar>(p));
          }
          images_.push_back(std::move(rgb));
          rgb_images_.push_back(std::make_unique<Fl_RGB_Image>(images_.back().data(), picture.width,
                                                               picture.height, 3));
          box->image(rgb_images_.back().get());
          box->align(FL_ALIGN_TOP_LEFT | FL_ALIGN_INSIDE);
        }
        break;
      }
    }
  }

  TForm* form_ = nullptr;
  bool closed_ = false;
  Fl_Color face_ = FL_BACKGROUND_COLOR;
  Fl_Color text_ = FL_FOREGROUND_COLOR;
  int size_ = 11;
  Fl_Widget* focus_ = nullptr;
  std::vector<std::unique_ptr<Item>> items_;
  std::vector<std::vector<uchar>> images_;
  std::vector<std::unique_ptr<Fl_RGB_Image>> rgb_images_;
};

#else

class NoWindowBackend : public TFormBackend {
 public:
  int ShowModal(TForm& form) override {
    NoWindow(form, "this build has no window support (built without FLTK)");
    return mrNone;
  }
};

#endif

}  // namespace

std::unique_ptr<TFormBackend> CreateWindowBackend() {
#ifdef FERNWICK_HAVE_FLTK
  return std::make_unique<FltkBackend>();
#else
  return std::make_unique<NoWindowBackend>();
#endif
}

}  // namespace fernwick
