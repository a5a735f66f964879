/// \file
/// Forms of the host framework: a form description read from its text form
/// (fernwick/framework/ObjectText.h), the form and its controls at run time, the
/// application object that owns forms and releases them later, and the
/// backends that show a form: a real window (FLTK on POSIX, a native dialog on
/// Windows) or a script.
///
/// The form keeps the state of its controls (captions, which box is ticked,
/// which radio button is selected) and the rules of a click; a backend only
/// shows that state, reports clicks back through TForm::Click and ends when
/// the form has a modal result. So a script and a person take the same path.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <fernwick/framework/Bitmaps.h>
#include <fernwick/framework/Classes.h>
#include <fernwick/framework/ObjectText.h>

namespace fernwick {

/// The control classes a form description may hold.
enum class TControlKind { kButton, kCheckBox, kRadioButton, kGroupBox, kImage };

/// The class name of a control kind ("TButton").
const char* ControlClassName(TControlKind kind);

/// One control as the description gives it. Positions are pixels relative to
/// the parent (the form's client area or a group box's top-left corner).
struct TControlDescription {
  std::string name;                           ///< "OkButton"
  TControlKind kind = TControlKind::kButton;  ///< its class
  int parent = -1;  ///< index of the parent control in TFormDescription::controls; -1: the form
  ///@{
  /// Position and size, in pixels.
  int left = 0, top = 0, width = 0, height = 0;
  ///@}
  std::string caption;    ///< '&' marks the accelerator; empty for images
  int tab_order = -1;     ///< -1 for images, which take no focus
  bool tab_stop = false;  ///< whether Tab moves the focus to it
  int modal_result = 0;   ///< buttons: the form's modal result on a click (0: none)
  bool checked = false;   ///< check boxes and radio buttons
  std::string picture;    ///< images: the name of a bitmap resource
};

/// A form as its description gives it. Controls are in text order, every
/// parent before its children.
struct TFormDescription {
  std::string name;        ///< "DorvConfigureDlg"
  std::string class_name;  ///< "TDorvConfigureDlg"
  std::string caption;     ///< the window title
  ///@{
  /// The designed position on the screen (see position).
  int left = 0, top = 0;
  ///@}
  ///@{
  /// Outer size, frame included.
  int width = 0, height = 0;
  ///@}
  std::string position;                       ///< poDesigned, poDesktopCenter, poScreenCenter
  std::uint32_t color = 0;                    ///< 0x00BBGGRR
  std::string font_name;                      ///< "MS Sans Serif"
  int font_height = 0;                        ///< negative: character height in pixels
  std::string font_charset;                   ///< "DEFAULT_CHARSET"
  std::uint32_t font_color = 0;               ///< 0x00BBGGRR
  int pixels_per_inch = 96;                   ///< the resolution the form was designed at
  int text_height = 13;                       ///< the designed font's line height in pixels
  std::vector<TControlDescription> controls;  ///< every control, parents first

  /// The index of the control of that name (ignoring case), or -1.
  int IndexOf(std::string_view control) const;
};

/// Reads a form description from streamed text. `source` names it in errors.
/// Raises EParserError naming the line and property for text that cannot be
/// read, an unknown control class, a missing or unknown property, a number
/// out of range, a duplicate name or tab order, or a control placed in a
/// control that cannot hold one.
TFormDescription ReadFormDescription(std::string_view text, std::string_view source);

/// The colour of a colour identifier (clBtnFace, clWindowText, ...) as
/// 0x00BBGGRR, in the classic Windows scheme; false when unknown.
bool ColorFromIdent(std::string_view ident, std::uint32_t& color);

class TForm;

/// A control of a form at run time. Owned by its form.
class TControl : public TComponent {
 public:
  /// A control of `form` (its owner) made from `description`, inside
  /// `parent` (nullptr: the form's client area). TForm makes them.
  TControl(TForm& form, const TControlDescription& description, TControl* parent);

  std::string ClassName() const override { return ControlClassName(description_.kind); }

  /// The description it was made from.
  const TControlDescription& Description() const { return description_; }
  /// Its kind, as described.
  TControlKind Kind() const { return description_.kind; }
  /// The enclosing control, or nullptr for a control of the client area.
  TControl* Parent() const { return parent_; }
  /// The form holding it.
  TForm& Form() const { return form_; }

  ///@{
  /// The text shown; starts as described.
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption) { caption_ = std::move(caption); }
  ///@}

  ///@{
  /// Check boxes and radio buttons. Selecting a radio button clears the other
  /// radio buttons of the same parent.
  bool Checked() const { return checked_; }
  void SetChecked(bool checked);
  ///@}

  /// Images: the decoded bitmap (empty when the form was built without a
  /// picture loader).
  const TBitmapImage& Picture() const { return picture_; }

 private:
  friend class TForm;
  TForm& form_;
  TControlDescription description_;
  TControl* parent_;
  std::string caption_;
  bool checked_;
  TBitmapImage picture_;
};

/// Gives the bytes of the bitmap resource of that name; raises when there is
/// none.
using TPictureLoader = std::function<std::string_view(std::string_view name)>;

/// Shows a form modally. A backend returns the form's modal result once it is
/// nonzero, mrCancel when the window was closed, or mrNone when the form
/// could not be shown at all (it then says why through TForm::NotShown). An
/// exception of the form's logic (TForm::Click) ends the window and is raised
/// again to the caller once the window is gone.
class TFormBackend {
 public:
  virtual ~TFormBackend() = default;
  /// Shows `form` until it has a modal result or is closed, and answers as
  /// described above.
  virtual int ShowModal(TForm& form) = 0;
};

/// Makes the backend for one ShowModal.
using TFormBackendFactory = std::function<std::unique_ptr<TFormBackend>()>;

/// Installs how forms are shown (an empty factory restores the default) and
/// returns the factory installed before. For hosts and tests.
TFormBackendFactory SetFormBackendFactory(TFormBackendFactory factory);

/// Environment variable that, when set, makes forms run a script instead of
/// showing a window: control names separated by blanks or commas, each a
/// click on that control, and "Close" for the window's close box. Used by
/// programs that drive a dialog without a person.
constexpr const char* kFormScriptVariable = "FERNWICK_DIALOG_SCRIPT";

/// The backend ShowModal uses: the installed factory's; else a script from
/// kFormScriptVariable; else the platform's window.
std::unique_ptr<TFormBackend> CreateFormBackend();

/// Clicks the named controls in order, as a person would; "Close" is the
/// close box. Raises Exception for a name the form does not hold, and when
/// the script ends while the form is still open.
class TScriptedFormBackend : public TFormBackend {
 public:
  /// A backend that will click the controls named by `steps`, in order.
  explicit TScriptedFormBackend(std::vector<std::string> steps) : steps_(std::move(steps)) {}
  ///@{
  /// Splits a script text at blanks and commas.
  static std::vector<std::string> Split(std::string_view script);
  ///@}
  /// Plays the steps against `form` and answers its modal result.
  int ShowModal(TForm& form) override;

 private:
  std::vector<std::string> steps_;
};

/// The platform's window backend (FLTK, or a native dialog on Windows).
std::unique_ptr<TFormBackend> CreateWindowBackend();

/// A form: the controls of a description, owned by the form.
class TForm : public TComponent {
 public:
  /// Creates the controls of `description`, owned by the form. Images get
  /// their bitmaps through `pictures` (none when it is empty); a picture that
  /// cannot be loaded or decoded raises, and no form is created.
  TForm(TComponent* owner, TFormDescription description, const TPictureLoader& pictures = {});

  std::string ClassName() const override { return description_.class_name; }

  /// The description it was made from.
  const TFormDescription& Description() const { return description_; }
  /// The window title; starts as described.
  const std::string& Caption() const { return caption_; }

  /// The controls in description order.
  const std::vector<TControl*>& Controls() const { return controls_; }
  /// The control of that name (ignoring case), or nullptr.
  TControl* FindControl(std::string_view name) const;

  ///@{
  /// The form's modal result: mrNone while it is shown; a nonzero value ends
  /// ShowModal with it.
  int ModalResult() const { return modal_result_; }
  void SetModalResult(int result) { modal_result_ = result; }
  ///@}

  /// What a click on `control` does: a radio button is selected, a check box
  /// toggles, a button sets its modal result (a button without one does
  /// nothing). A form class may do more; what it raises while the form is
  /// shown ends the window and leaves ShowModal. REQUIRES: control belongs to
  /// this form.
  virtual void Click(TControl& control);

  /// Shows the form modally through CreateFormBackend and returns the modal
  /// result (mrNone when it could not be shown). Exceptions of the backend
  /// and of the form's logic pass through, after the window is gone.
  int ShowModal();

  /// For backends: the form cannot be shown because of `why`. Says so on
  /// standard error ("<caption>: the dialog cannot be shown: <why>; it counts
  /// as cancelled") and keeps that message for NotShownMessage.
  void NotShown(const std::string& why);
  /// The message of NotShown during the last ShowModal; "" when the form was
  /// shown.
  const std::string& NotShownMessage() const { return not_shown_message_; }

  /// Hands the form to the application to be destroyed later, once control is
  /// back in the host's message loop (TApplication::ProcessReleases). The
  /// form must not be used after the call.
  void Release();

 private:
  TFormDescription description_;
  std::string caption_;
  std::vector<TControl*> controls_;
  int modal_result_ = 0;
  std::string not_shown_message_;
};

/// The application object: owner of forms, keeper of released forms.
class TApplication : public TComponent {
 public:
  TApplication() : TComponent(nullptr) {}
  std::string ClassName() const override { return "TApplication"; }

  /// Destroys the released components. Called where control returns to the
  /// host (after an entry point that may show a form) and at shutdown.
  void ProcessReleases();
  /// Components released and not yet destroyed.
  int PendingReleases() const { return static_cast<int>(released_.size()); }

 private:
  friend class TForm;
  std::vector<TComponent*> released_;
};

/// The one application object of the library. It lives until the process
/// ends, so that finalisation at unload can still use it.
TApplication& Application();

}  // namespace fernwick
