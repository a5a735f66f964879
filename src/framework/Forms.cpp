#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include <fernwick/framework/Dialogs.h>
#include <fernwick/framework/Exceptions.h>
#include <fernwick/framework/Forms.h>
#include <fernwick/framework/SysUtils.h>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace fernwick {

namespace {

struct ColorName {
  const char* name;
  std::uint32_t color;
};

// The classic Windows scheme, as 0x00BBGGRR.
constexpr ColorName kColors[] = {
    {"clBlack", 0x000000},        {"clWhite", 0xFFFFFF},    {"clGray", 0x808080},
    {"clSilver", 0xC0C0C0},       {"clBtnFace", 0xC0C0C0},  {"clBtnShadow", 0x808080},
    {"clBtnHighlight", 0xFFFFFF}, {"clBtnText", 0x000000},  {"clWindow", 0xFFFFFF},
    {"clWindowText", 0x000000},   {"clGrayText", 0x808080}, {"clNavy", 0x800000},
};

constexpr std::string_view kFormProperties[] = {
    "Left",       "Top",          "Width",         "Height",      "Caption",
    "Color",      "Font.Charset", "Font.Color",    "Font.Height", "Font.Name",
    "Font.Style", "Position",     "PixelsPerInch", "TextHeight",  "OldCreateOrder",
};

// Limits of positions and sizes: far beyond any screen, well inside int.
constexpr int kMaxCoordinate = 32767;

struct KindName {
  TControlKind kind;
  const char* name;
};
constexpr KindName kKinds[] = {{TControlKind::kButton, "TButton"},
                               {TControlKind::kCheckBox, "TCheckBox"},
                               {TControlKind::kRadioButton, "TRadioButton"},
                               {TControlKind::kGroupBox, "TGroupBox"},
                               {TControlKind::kImage, "TImage"}};

std::uint32_t ReadColor(const TStreamedReader& reader, std::string_view name,
                        std::uint32_t absent) {
  const TStreamedProperty* p = reader.Object().Find(name);
  if (p == nullptr) return absent;
  if (p->value.kind == TStreamedValue::kInteger) {
    return static_cast<std::uint32_t>(reader.Integer(name, 0, 0xFFFFFF));
  }
  std::uint32_t color = 0;
  if (!ColorFromIdent(reader.Ident(name, ""), color)) {
    reader.Fail(p->line, "unknown colour " + p->value.text + " in property " + p->name);
  }
  return color;
}

void ReadControls(const TStreamedObject& parent_object, int parent, const std::string& source,
                  TFormDescription& form) {
  for (const TStreamedObject& object : parent_object.children) {
    TStreamedReader reader(object, source);
    TControlDescription control;
    control.name = object.name;
    bool known = false;
    for (const KindName& k : kKinds) {
      if (CompareText(object.class_name, k.name) == 0) {
        control.kind = k.kind;
        known = true;
      }
    }
    if (!known) {
      reader.Fail(object.line, "unknown control class " + object.class_name + " of " + object.name);
    }
    if (form.IndexOf(object.name) >= 0 || CompareText(object.name, form.name) == 0) {
      reader.Fail(object.line, "duplicate name " + object.name);
    }
    if (parent >= 0 &&
        form.controls[static_cast<std::size_t>(parent)].kind != TControlKind::kGroupBox) {
      reader.Fail(object.line, object.name + " is placed in " +
                                   form.controls[static_cast<std::size_t>(parent)].name +
                                   ", which cannot hold controls");
    }
    std::vector<std::string_view> allowed = {"Left", "Top", "Width", "Height"};
    switch (control.kind) {
      case TControlKind::kButton:
        allowed.insert(allowed.end(), {"Caption", "TabOrder", "TabStop", "ModalResult"});
        break;
      case TControlKind::kCheckBox:
      case TControlKind::kRadioButton:
        allowed.insert(allowed.end(), {"Caption", "TabOrder", "TabStop", "Checked"});
        break;
      case TControlKind::kGroupBox:
        allowed.insert(allowed.end(), {"Caption", "TabOrder", "TabStop"});
        break;
      case TControlKind::kImage:
        allowed.insert(allowed.end(), {"Picture"});
        break;
    }
    reader.CheckNames(allowed);
    control.parent = parent;
    control.left = reader.Integer("Left", -kMaxCoordinate, kMaxCoordinate);
    control.top = reader.Integer("Top", -kMaxCoordinate, kMaxCoordinate);
    control.width = reader.Integer("Width", 0, kMaxCoordinate);
    control.height = reader.Integer("Height", 0, kMaxCoordinate);
    if (control.kind == TControlKind::kImage) {
      control.picture = reader.String("Picture");
    } else {
      control.caption = reader.String("Caption");
      control.tab_order = reader.Integer("TabOrder", 0, 255);
      control.tab_stop = reader.Boolean("TabStop", control.kind != TControlKind::kRadioButton &&
                                                       control.kind != TControlKind::kGroupBox);
      control.modal_result = reader.Integer("ModalResult", 0, mrYesToAll, 0);
      control.checked = reader.Boolean("Checked", false);
      for (const TControlDescription& other : form.controls) {
        if (other.parent == parent && other.tab_order == control.tab_order) {
          reader.Fail(object.Find("TabOrder")->line,
                      "TabOrder " + std::to_string(control.tab_order) + " of " + object.name +
                          " already taken by " + other.name);
        }
      }
    }
    if (!object.children.empty() && control.kind != TControlKind::kGroupBox) {
      reader.Fail(object.children.front().line, object.children.front().name + " is placed in " +
                                                    object.name + ", which cannot hold controls");
    }
    form.controls.push_back(std::move(control));
    ReadControls(object, static_cast<int>(form.controls.size()) - 1, source, form);
  }
}

TFormBackendFactory& BackendFactory() {
  static TFormBackendFactory factory;
  return factory;
}

std::string ScriptFromEnvironment() {
#if defined(_WIN32)
  char buffer[1024];
  DWORD length = GetEnvironmentVariableA(kFormScriptVariable, buffer, sizeof buffer);
  return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
#else
  const char* script = std::getenv(kFormScriptVariable);
  return script != nullptr ? script : "";
#endif
}

}  // namespace

const char* ControlClassName(TControlKind kind) {
  for (const KindName& k : kKinds) {
    if (k.kind == kind) return k.name;
  }
  return "TControl";
}

bool ColorFromIdent(std::string_view ident, std::uint32_t& color) {
  for (const ColorName& c : kColors) {
    if (CompareText(ident, c.name) == 0) {
      color = c.color;
      return true;
    }
  }
  return false;
}

int TFormDescription::IndexOf(std::string_view control) const {
  for (std::size_t i = 0; i < controls.size(); ++i) {
    if (CompareText(controls[i].name, control) == 0) return static_cast<int>(i);
  }
  return -1;
}

TFormDescription ReadFormDescription(std::string_view text, std::string_view source) {
  TStreamedObject object = ReadObjectText(text, source);
  std::string source_name(source);
  TStreamedReader reader(object, source_name);
  reader.CheckNames(
      std::vector<std::string_view>(std::begin(kFormProperties), std::end(kFormProperties)));
  TFormDescription form;
  form.name = object.name;
  form.class_name = object.class_name;
  form.left = reader.Integer("Left", -kMaxCoordinate, kMaxCoordinate);
  form.top = reader.Integer("Top", -kMaxCoordinate, kMaxCoordinate);
  form.width = reader.Integer("Width", 1, kMaxCoordinate);
  form.height = reader.Integer("Height", 1, kMaxCoordinate);
  form.caption = reader.String("Caption");
  form.color = ReadColor(reader, "Color", 0xC0C0C0);
  form.font_charset = reader.Ident("Font.Charset", "DEFAULT_CHARSET");
  form.font_color = ReadColor(reader, "Font.Color", 0);
  form.font_height = reader.Integer("Font.Height", -1000, 1000, -11);
  form.font_name = reader.String("Font.Name", "MS Sans Serif");
  form.position = reader.Ident("Position", "poDesigned");
  if (form.position != "poDesigned" && form.position != "poDesktopCenter" &&
      form.position != "poScreenCenter") {
    reader.Fail(object.Find("Position")->line, "unknown Position " + form.position);
  }
  form.pixels_per_inch = reader.Integer("PixelsPerInch", 1, 10000, 96);
  form.text_height = reader.Integer("TextHeight", 1, 10000, 13);
  ReadControls(object, -1, source_name, form);
  return form;
}

void TControl::SetChecked(bool checked) {
  checked_ = checked;
  if (!checked || Kind() != TControlKind::kRadioButton) return;
  for (TControl* other : form_.Controls()) {
    if (other != this && other->Kind() == TControlKind::kRadioButton &&
        other->Parent() == parent_) {
      other->checked_ = false;
    }
  }
}

TControl::TControl(TForm& form, const TControlDescription& description, TControl* parent)
    : TComponent(&form),
      form_(form),
      description_(description),
      parent_(parent),
      caption_(description.caption),
      checked_(description.checked) {
  SetName(description.name);
}

TForm::TForm(TComponent* owner, TFormDescription description, const TPictureLoader& pictures)
    : TComponent(owner), description_(std::move(description)), caption_(description_.caption) {
  SetName(description_.name);
  for (const TControlDescription& d : description_.controls) {
    TControl* parent = d.parent < 0 ? nullptr : controls_[static_cast<std::size_t>(d.parent)];
    auto* control = new TControl(*this, d, parent);
    controls_.push_back(control);
    if (d.kind == TControlKind::kImage && pictures) {
      control->picture_ = DecodeBitmap(pictures(d.picture), d.picture);
    }
  }
}

TControl* TForm::FindControl(std::string_view name) const {
  int index = description_.IndexOf(name);
  return index < 0 ? nullptr : controls_[static_cast<std::size_t>(index)];
}

void TForm::Click(TControl& control) {
  switch (control.Kind()) {
    case TControlKind::kRadioButton:
      control.SetChecked(true);
      break;
    case TControlKind::kCheckBox:
      control.SetChecked(!control.Checked());
      break;
    case TControlKind::kButton:
      if (control.Description().modal_result != mrNone) {
        modal_result_ = control.Description().modal_result;
      }
      break;
    default:
      break;
  }
}

int TForm::ShowModal() {
  modal_result_ = mrNone;
  not_shown_message_.clear();
  std::unique_ptr<TFormBackend> backend = CreateFormBackend();
  return backend->ShowModal(*this);
}

void TForm::NotShown(const std::string& why) {
  not_shown_message_ =
      caption_ + ": the dialog cannot be shown: " + why + "; it counts as cancelled";
  std::fprintf(stderr, "%s\n", not_shown_message_.c_str());
}

void TForm::Release() { Application().released_.push_back(this); }

void TApplication::ProcessReleases() {
  std::vector<TComponent*> released;
  released.swap(released_);
  for (TComponent* component : released) delete component;
}

TApplication& Application() {
  // Never destroyed: the library's finalisation, which runs from a static
  // destructor of its own, still releases forms through it.
  static TApplication* application = new TApplication();
  return *application;
}

TFormBackendFactory SetFormBackendFactory(TFormBackendFactory factory) {
  return std::exchange(BackendFactory(), std::move(factory));
}

std::unique_ptr<TFormBackend> CreateFormBackend() {
  if (BackendFactory()) return BackendFactory()();
  if (std::string script = ScriptFromEnvironment(); !script.empty()) {
    return std::make_unique<TScriptedFormBackend>(TScriptedFormBackend::Split(script));
  }
  return CreateWindowBackend();
}

std::vector<std::string> TScriptedFormBackend::Split(std::string_view script) {
  std::vector<std::string> steps;
  std::string step;
  for (char c : script) {
    if (c == ' ' || c == ',' || c == '\t' || c == '\n' || c == '\r') {
      if (!step.empty()) steps.push_back(std::move(step));
      step.clear();
    } else {
      step.push_back(c);
    }
  }
  if (!step.empty()) steps.push_back(std::move(step));
  return steps;
}

int TScriptedFormBackend::ShowModal(TForm& form) {
  for (const std::string& step : steps_) {
    if (CompareText(step, "Close") == 0) return mrCancel;
    TControl* control = form.FindControl(step);
    if (control == nullptr) {
      throw Exception("Dialog script: " + form.Name() + " has no control " + step);
    }
    form.Click(*control);
    if (form.ModalResult() != mrNone) return form.ModalResult();
  }
  throw Exception("Dialog script ended while " + form.Name() + " was still open");
}

}  // namespace fernwick
