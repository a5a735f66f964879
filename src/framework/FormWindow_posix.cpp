// The window backend of POSIX builds. The window itself is drawn by the
// window module (libfernwick_forms_fltk.so, src/framework/fltk/), loaded when
// the first form is shown and kept loaded: a conduit that never shows a form
// never loads the window toolkit, which would otherwise cost every
// synchronisation the loading of a dozen libraries. This side hands the
// module a flat copy of the form and answers its callbacks with the form's
// own logic.
//
// The module is looked for, in order: beside the library or program that
// holds this code (fernwick_add_conduit puts a copy beside each conduit),
// in the folder it is installed in, and by its name in the system's search
// order; the environment variable FERNWICK_FORMS_MODULE names one file to
// load instead.
// Built without FLTK (FERNWICK_HAVE_FLTK undefined), or when no module
// loads, every form answers mrNone with a message on standard error.
#include <dlfcn.h>

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <fernwick/abi/FormWindowModule.h>
#include <fernwick/framework/Dialogs.h>
#include <fernwick/framework/Forms.h>

namespace fernwick {

namespace {

namespace fw = formwindow;

#ifdef FERNWICK_HAVE_FLTK

// The folders to look in before the system's search order.
std::vector<std::filesystem::path> ModuleFolders() {
  std::vector<std::filesystem::path> folders;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&CreateWindowBackend), &info) != 0 &&
      info.dli_fname != nullptr && *info.dli_fname != '\0') {
    folders.push_back(std::filesystem::path(info.dli_fname).parent_path());
  }
#ifdef FERNWICK_FORMS_MODULE_INSTALL_DIR
  folders.emplace_back(FERNWICK_FORMS_MODULE_INSTALL_DIR);
#endif
  return folders;
}

// The module's show function; nullptr with `why` set when no module loads.
// A module once loaded stays loaded (the toolkit keeps its display
// connection and state), so later calls find it at once.
fw::ShowFunction LoadModule(std::string& why) {
  std::vector<std::string> candidates;
  const char* named = std::getenv(fw::kModuleVariable);
  if (named != nullptr && *named != '\0') {
    candidates.emplace_back(named);
  } else {
    for (const auto& folder : ModuleFolders()) {
      const std::filesystem::path file = folder / fw::kModuleFileName;
      std::error_code ec;
      if (std::filesystem::is_regular_file(file, ec)) candidates.push_back(file.string());
    }
    candidates.emplace_back(fw::kModuleFileName);
  }
  for (const std::string& candidate : candidates) {
    void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* error = dlerror();
      why = "the window module " + candidate + " cannot be loaded" +
            (error != nullptr ? std::string(": ") + error : std::string());
      continue;
    }
    if (void* show = dlsym(handle, fw::kShowFunction)) {
      return reinterpret_cast<fw::ShowFunction>(show);
    }
    why = "the window module " + candidate + " has no " + fw::kShowFunction;
  }
  return nullptr;
}

// What the module calls back while the window is open. An exception of the
// form's logic ends the window and is raised again once it is gone.
struct Session {
  TForm* form = nullptr;
  std::exception_ptr failure;

  static Session& Of(void* context) { return *static_cast<Session*>(context); }

  static void SetChecked(void* context, int control, bool checked) {
    Session& s = Of(context);
    if (s.failure) return;
    try {
      s.form->Controls()[static_cast<std::size_t>(control)]->SetChecked(checked);
    } catch (...) {
      s.failure = std::current_exception();
    }
  }
  static void Click(void* context, int control) {
    Session& s = Of(context);
    if (s.failure) return;
    try {
      s.form->Click(*s.form->Controls()[static_cast<std::size_t>(control)]);
    } catch (...) {
      s.failure = std::current_exception();
    }
  }
  static int ModalResult(void* context) {
    Session& s = Of(context);
    return s.failure ? mrCancel : s.form->ModalResult();
  }
};

fw::ControlKind KindOf(TControlKind kind) {
  switch (kind) {
    case TControlKind::kButton:
      return fw::kButton;
    case TControlKind::kCheckBox:
      return fw::kCheckBox;
    case TControlKind::kRadioButton:
      return fw::kRadioButton;
    case TControlKind::kGroupBox:
      return fw::kGroupBox;
    case TControlKind::kImage:
      return fw::kImage;
  }
  return fw::kButton;
}

class ModuleBackend : public TFormBackend {
 public:
  int ShowModal(TForm& form) override {
    std::string why;
    const fw::ShowFunction show = LoadModule(why);
    if (show == nullptr) {
      form.NotShown(why);
      return mrNone;
    }
    const TFormDescription& d = form.Description();
    const std::vector<TControl*>& controls = form.Controls();
    std::vector<fw::Control> flat(controls.size());
    for (std::size_t i = 0; i < controls.size(); ++i) {
      const TControl& c = *controls[i];
      const TControlDescription& cd = c.Description();
      fw::Control& f = flat[i];
      f.kind = KindOf(c.Kind());
      f.parent = -1;
      for (std::size_t p = 0; p < controls.size(); ++p) {
        if (controls[p] == c.Parent()) f.parent = static_cast<int>(p);
      }
      f.left = cd.left;
      f.top = cd.top;
      f.width = cd.width;
      f.height = cd.height;
      f.tab_order = cd.tab_order;
      f.caption = c.Caption().c_str();
      f.checked = c.Checked();
      const TBitmapImage& picture = c.Picture();
      if (picture.width > 0 && picture.height > 0 &&
          picture.pixels.size() ==
              static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height)) {
        f.picture_width = picture.width;
        f.picture_height = picture.height;
        f.pixels = picture.pixels.data();
      }
    }
    Session session{&form, nullptr};
    char error[512] = "";
    fw::Window w;
    w.caption = form.Caption().c_str();
    w.left = d.left;
    w.top = d.top;
    w.width = d.width;
    w.height = d.height;
    w.centred = d.position != "poDesigned";
    w.color = d.color;
    w.font_color = d.font_color;
    w.font_height = d.font_height < 0 ? -d.font_height : d.font_height;
    w.controls = flat.data();
    w.control_count = static_cast<int>(flat.size());
    w.context = &session;
    w.set_checked = &Session::SetChecked;
    w.click = &Session::Click;
    w.modal_result = &Session::ModalResult;
    w.error = error;
    w.error_size = sizeof error;
    const int result = show(&w);
    if (session.failure) std::rethrow_exception(session.failure);
    if (result == fw::kNotShown) {
      form.NotShown(error[0] != '\0' ? error : "the window module could not show it");
      return mrNone;
    }
    return result == fw::kClosed ? mrCancel : result;
  }
};

#else

class NoWindowBackend : public TFormBackend {
 public:
  int ShowModal(TForm& form) override {
    form.NotShown("this build has no window support (built without FLTK)");
    return mrNone;
  }
};

#endif

}  // namespace

std::unique_ptr<TFormBackend> CreateWindowBackend() {
#ifdef FERNWICK_HAVE_FLTK
  return std::make_unique<ModuleBackend>();
#else
  return std::make_unique<NoWindowBackend>();
#endif
}

}  // namespace fernwick
