// The window backend of Windows builds: a native modal dialog built from the
// form description as an in-memory dialog template, its frame and controls
// moved to the description's exact pixels when the dialog starts.
//
// Enter and Escape do nothing (the form names no default or cancel button,
// and the dialog ignores the IDOK and IDCANCEL the dialog manager sends for
// them); the close box and Alt+F4 count as Cancel; a button without a modal
// result does nothing. An exception of the form's logic ends the dialog and
// is raised again once the dialog is gone: none may cross the dialog
// procedure into the system's code.
#include <windows.h>

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include <fernwick/framework/Dialogs.h>
#include <fernwick/framework/Forms.h>

namespace fernwick {

namespace {

constexpr WORD kFirstId = 100;
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kStaticClass = 0x0082;

std::wstring Wide(const std::string& text) {
  std::wstring wide;
  for (char c : text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return wide;
}

// An in-memory dialog template: WORDs, items aligned on DWORDs.
class Template {
 public:
  void Word(WORD w) { words_.push_back(w); }
  void Dword(DWORD d) {
    Word(LOWORD(d));
    Word(HIWORD(d));
  }
  void Text(const std::wstring& text) {
    for (wchar_t c : text) Word(static_cast<WORD>(c));
    Word(0);
  }
  void Align() {
    if (words_.size() % 2 != 0) Word(0);
  }
  void Patch(std::size_t at, WORD w) { words_[at] = w; }
  std::size_t Size() const { return words_.size(); }
  const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  std::vector<WORD> words_;
};

class Win32Backend : public TFormBackend {
 public:
  int ShowModal(TForm& form) override {
    form_ = &form;
    Order(nullptr);
    const TFormDescription& d = form.Description();
    Template t;
    DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX |
                  WS_MAXIMIZEBOX | DS_SETFONT;
    t.Dword(style);
    t.Dword(0);
    t.Word(static_cast<WORD>(order_.size()));
    t.Word(0);
    t.Word(0);
    t.Word(static_cast<WORD>(d.width * 2 / 3));
    t.Word(static_cast<WORD>(d.height * 2 / 3));
    t.Word(0);  // no menu
    t.Word(0);  // the dialog class
    t.Text(Wide(form.Caption()));
    // A negative font height is the character height in pixels at the
    // form's pixels per inch: -11 at 96 is 8 points.
    int pixels = d.font_height < 0 ? -d.font_height : d.font_height;
    t.Word(static_cast<WORD>((pixels * 72 + d.pixels_per_inch / 2) / d.pixels_per_inch));
    t.Text(Wide(d.font_name));
    bool in_radio_group = false;
    for (TControl* control : order_) {
      const TControlDescription& c = control->Description();
      DWORD item = WS_CHILD | WS_VISIBLE;
      WORD cls = kButtonClass;
      bool radio = c.kind == TControlKind::kRadioButton;
      switch (c.kind) {
        case TControlKind::kButton:
          item |= BS_PUSHBUTTON | WS_TABSTOP;
          break;
        case TControlKind::kCheckBox:
          item |= BS_AUTOCHECKBOX | WS_TABSTOP;
          break;
        case TControlKind::kRadioButton:
          item |= BS_AUTORADIOBUTTON;
          if (!in_radio_group) item |= WS_GROUP | WS_TABSTOP;
          break;
        case TControlKind::kGroupBox:
          item |= BS_GROUPBOX;
          break;
        case TControlKind::kImage:
          cls = kStaticClass;
          item |= SS_BITMAP;
          break;
      }
      if (!radio && in_radio_group) item |= WS_GROUP;
      in_radio_group = radio;
      t.Align();
      t.Dword(item);
      t.Dword(0);
      t.Word(0);
      t.Word(0);
      t.Word(static_cast<WORD>(c.width * 2 / 3));
      t.Word(static_cast<WORD>(c.height * 2 / 3));
      t.Word(static_cast<WORD>(kFirstId + IndexOf(control)));
      t.Word(0xFFFF);
      t.Word(cls);
      t.Text(c.kind == TControlKind::kImage ? std::wstring() : Wide(control->Caption()));
      t.Word(0);
    }
    HWND owner = GetActiveWindow();
    INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t.Get(), owner,
                                             &Win32Backend::Proc, reinterpret_cast<LPARAM>(this));
    const DWORD error = GetLastError();
    for (HBITMAP bitmap : bitmaps_) DeleteObject(bitmap);
    bitmaps_.clear();
    if (failure_) std::rethrow_exception(failure_);
    if (result == -1) {
      std::string why = "Windows error ";
      why += std::to_string(error);
      form.NotShown(why);
      return mrNone;
    }
    return result == 0 ? mrCancel : static_cast<int>(result);
  }

 private:
  int IndexOf(TControl* control) const {
    const auto& all = form_->Controls();
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (all[i] == control) return static_cast<int>(i);
    }
    return 0;
  }

  // The controls in tab order, a group box followed by its images and then
  // its controls in their tab order.
  void Order(TControl* parent) {
    for (TControl* c : form_->Controls()) {
      if (c->Parent() == parent && c->Kind() == TControlKind::kImage) order_.push_back(c);
    }
    for (int tab = 0; tab < 256; ++tab) {
      for (TControl* c : form_->Controls()) {
        if (c->Parent() != parent || c->Description().tab_order != tab) continue;
        order_.push_back(c);
        if (c->Kind() == TControlKind::kGroupBox) Order(c);
      }
    }
  }

  HBITMAP MakeBitmap(const TBitmapImage& picture) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = -picture.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr) return nullptr;
    // The pictures are drawn on the classic light grey face (192, 192, 192):
    // that grey becomes the system's face colour, as LR_LOADMAP3DCOLORS does.
    COLORREF face = GetSysColor(COLOR_3DFACE);
    std::uint32_t face_rgb = (static_cast<std::uint32_t>(GetRValue(face)) << 16) |
                             (static_cast<std::uint32_t>(GetGValue(face)) << 8) | GetBValue(face);
    auto* out = static_cast<std::uint32_t*>(bits);
    for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
      out[i] = picture.pixels[i] == 0xC0C0C0u ? face_rgb : picture.pixels[i];
    }
    bitmaps_.push_back(bitmap);
    return bitmap;
  }

  void Init(HWND dialog) {
    const TFormDescription& d = form_->Description();
    int left = d.left, top = d.top;
    if (d.position != "poDesigned") {
      RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
      left = area.left + (area.right - area.left - d.width) / 2;
      top = area.top + (area.bottom - area.top - d.height) / 2;
    }
    SetWindowPos(dialog, nullptr, left, top, d.width, d.height, SWP_NOZORDER | SWP_NOACTIVATE);
    HWND focus = nullptr;
    for (TControl* control : order_) {
      const TControlDescription& c = control->Description();
      int x = c.left, y = c.top;
      for (TControl* p = control->Parent(); p != nullptr; p = p->Parent()) {
        x += p->Description().left;
        y += p->Description().top;
      }
      HWND item = GetDlgItem(dialog, kFirstId + IndexOf(control));
      SetWindowPos(item, nullptr, x, y, c.width, c.height, SWP_NOZORDER | SWP_NOACTIVATE);
      if (c.kind == TControlKind::kCheckBox || c.kind == TControlKind::kRadioButton) {
        CheckDlgButton(dialog, kFirstId + IndexOf(control),
                       control->Checked() ? BST_CHECKED : BST_UNCHECKED);
        if (control->Checked() && c.kind == TControlKind::kRadioButton) focus = item;
      }
      if (c.kind == TControlKind::kImage && control->Picture().width > 0) {
        if (HBITMAP bitmap = MakeBitmap(control->Picture())) {
          SendMessageW(item, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
        }
      }
    }
    if (focus != nullptr) SetFocus(focus);
  }

  void Command(HWND dialog, WORD id, WORD code) {
    if (id < kFirstId || code != BN_CLICKED) return;
    std::size_t index = id - kFirstId;
    if (index >= form_->Controls().size()) return;
    TControl& control = *form_->Controls()[index];
    switch (control.Kind()) {
      case TControlKind::kCheckBox:
        control.SetChecked(IsDlgButtonChecked(dialog, id) == BST_CHECKED);
        break;
      case TControlKind::kRadioButton:
        if (IsDlgButtonChecked(dialog, id) == BST_CHECKED) form_->Click(control);
        break;
      default:
        form_->Click(control);
        break;
    }
    if (form_->ModalResult() != mrNone) EndDialog(dialog, form_->ModalResult());
  }

  // Runs `body` unless an exception has already ended the dialog; one it
  // raises is kept for ShowModal and ends the dialog.
  template <typename Body>
  void Guarded(HWND dialog, Body&& body) noexcept {
    if (failure_) return;
    try {
      body(*this);
    } catch (...) {
      failure_ = std::current_exception();
      EndDialog(dialog, mrCancel);
    }
  }

  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<Win32Backend*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
      case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, DWLP_USER, lparam);
        reinterpret_cast<Win32Backend*>(lparam)->Guarded(
            dialog, [&](Win32Backend& backend) { backend.Init(dialog); });
        return FALSE;
      case WM_COMMAND:
        // IDOK and IDCANCEL (Enter and Escape) fall through to nothing.
        if (self != nullptr) {
          self->Guarded(dialog, [&](Win32Backend& backend) {
            backend.Command(dialog, LOWORD(wparam), HIWORD(wparam));
          });
        }
        return TRUE;
      case WM_CLOSE:
        EndDialog(dialog, mrCancel);
        return TRUE;
      default:
        return FALSE;
    }
  }

  TForm* form_ = nullptr;
  std::vector<TControl*> order_;
  std::vector<HBITMAP> bitmaps_;
  std::exception_ptr failure_;
};

}  // namespace

std::unique_ptr<TFormBackend> CreateWindowBackend() { return std::make_unique<Win32Backend>(); }

}  // namespace fernwick
