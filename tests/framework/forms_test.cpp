#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <fernwick/framework/Bitmaps.h>
#include <fernwick/framework/Dialogs.h>
#include <fernwick/framework/Exceptions.h>
#include <fernwick/framework/Forms.h>
#include <fernwick/framework/ObjectText.h>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace fernwick {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr const char* kForm = R"(object Dlg: TDlg
  Left = 10
  Top = 20
  Width = 300
  Height = 200
  Caption = 'It''s a test'
  Font.Style = []
  object Box: TGroupBox
    Left = 5
    Top = 6
    Width = 100
    Height = 80
    Caption = 'Box'
    TabOrder = 0
    object One: TRadioButton
      Left = 1
      Top = 2
      Width = 50
      Height = 17
      Caption = '&One'
      Checked = True
      TabOrder = 0
    end
    object Two: TRadioButton
      Left = 1
      Top = 22
      Width = 50
      Height = 17
      Caption = '&Two'
      TabOrder = 1
    end
  end
  object Go: TButton
    Left = 200
    Top = 10
    Width = 75
    Height = 23
    Caption = 'Go'
    ModalResult = 1
    TabOrder = 1
  end
end
)";

// The error ReadFormDescription raises for `text`, or "" when it reads.
std::string ErrorOf(const std::string& text) {
  try {
    ReadFormDescription(text, "test.form");
  } catch (const EParserError& e) {
    return e.Message();
  }
  return "";
}

// kForm with the first occurrence of `from` replaced by `to`.
std::string Damaged(const std::string& from, const std::string& to) {
  std::string text = kForm;
  std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return text.replace(at, from.size(), to);
}

TEST(ObjectText, ReadsEveryKindOfValue) {
  TStreamedObject object = ReadObjectText(R"(object M: TModule // a comment
    Text = 'a''b' + #13#10'c'
    Number = -42
    Kind = pftLongint
    Style = [fsBold, fsItalic]
    Data = { 0A ff }
    Fields = <
      item
        FieldName = 'Id'
      end
      item
      end>
    object C: TDorvConduit
    end
  end)",
                                          "module");
  EXPECT_EQ(object.name, "M");
  EXPECT_EQ(object.class_name, "TModule");
  ASSERT_EQ(object.properties.size(), 6u);
  EXPECT_EQ(object.Find("text")->value.text, "a'b\r\nc");
  EXPECT_EQ(object.Find("Number")->value.integer, -42);
  EXPECT_EQ(object.Find("Kind")->value.text, "pftLongint");
  EXPECT_THAT(object.Find("Style")->value.set, ElementsAre("fsBold", "fsItalic"));
  EXPECT_EQ(object.Find("Data")->value.text, std::string("\x0a\xff"));
  const TStreamedValue& fields = object.Find("Fields")->value;
  ASSERT_EQ(fields.items.size(), 2u);
  EXPECT_EQ(fields.items[0].properties[0].value.text, "Id");
  EXPECT_EQ(fields.items[0].properties[0].line, 9);
  EXPECT_TRUE(fields.items[1].properties.empty());
  ASSERT_EQ(object.children.size(), 1u);
  EXPECT_EQ(object.children[0].class_name, "TDorvConduit");
}

TEST(ObjectText, BrokenTextNamesTheLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"object A: T\n  X = 'open\nend", "line 2: unterminated string in property X"},
      {"object A: T\n  X = 1\n", "missing 'end' of object A"},
      {"object A: T\nend\nmore", "line 3: text after the last 'end'"},
      {"object A T\nend", "line 1: expected ':' after the object name"},
      {"object A: T\n  X = 99999999999\nend", "line 2: number out of range in property X"},
      {"object A: T\n  X = 12ab\nend", "bad number in property X"},
      {"object A: T\n  X = #300\nend", "character code out of range"},
      {"object A: T\n  X = { 0 }\nend", "odd number of hexadecimal digits"},
      {"object A: T\n  X = [a b]\nend", "',' or ']'"},
      {"object A: T\n  X = )\nend", "line 2: bad value of property X"},
      {"", "line 1: expected 'object'"},
  };
  for (const auto& [text, expected] : cases) {
    try {
      ReadObjectText(text, "f");
      ADD_FAILURE() << "read: " << text;
    } catch (const EParserError& e) {
      EXPECT_THAT(e.Message(), HasSubstr(expected)) << text;
      EXPECT_EQ(e.Message().rfind("f line ", 0), 0u) << e.Message();
    }
  }
}

TEST(ObjectText, DeepNestingIsRefused) {
  std::string text;
  for (int i = 0; i < 40; ++i) text += "object A: T\n";
  for (int i = 0; i < 40; ++i) text += "end\n";
  EXPECT_THROW(ReadObjectText(text, "deep"), EParserError);
  std::string items = "object A: T\n X = ";
  for (int i = 0; i < 40; ++i) items += "< item Y = ";
  EXPECT_THROW(ReadObjectText(items, "deep"), EParserError);
}

TEST(FormDescription, ReadsControlsInOrderWithTheirParents) {
  TFormDescription form = ReadFormDescription(kForm, "test.form");
  EXPECT_EQ(form.caption, "It's a test");
  EXPECT_EQ(form.color, 0xC0C0C0u);  // clBtnFace when not given
  ASSERT_EQ(form.controls.size(), 4u);
  EXPECT_EQ(form.controls[0].name, "Box");
  EXPECT_EQ(form.controls[1].parent, 0);
  EXPECT_TRUE(form.controls[1].checked);
  EXPECT_FALSE(form.controls[1].tab_stop);  // radio buttons: only when stored
  EXPECT_EQ(form.controls[3].parent, -1);
  EXPECT_TRUE(form.controls[3].tab_stop);
  EXPECT_EQ(form.controls[3].modal_result, mrOk);
  EXPECT_EQ(form.IndexOf("two"), 2);
}

TEST(FormDescription, DamagedDescriptionsAreRefusedNamingTheProperty) {
  const std::pair<std::string, std::string> cases[] = {
      {Damaged("    Caption = 'Go'\n", ""), "line 33: missing property Caption of Go: TButton"},
      {Damaged("  Width = 300\n", ""), "missing property Width of Dlg"},
      {Damaged("TButton", "TEdit"), "line 33: unknown control class TEdit of Go"},
      {Damaged("Width = 75", "Width = -75"), "property Width of Go out of range (-75"},
      {Damaged("ModalResult = 1", "ModalResult = 11"), "property ModalResult of Go out of range"},
      {Damaged("Height = 23", "Hieght = 23"), "line 37: unknown property Hieght of Go: TButton"},
      {Damaged("TabOrder = 1\n  end\nend", "TabOrder = 0\n  end\nend"),
       "TabOrder 0 of Go already taken by Box"},
      {Damaged("object Two:", "object One:"), "duplicate name One"},
      {Damaged("Checked = True", "Checked = Yes"), "property Checked of One must be True or False"},
      {Damaged("Left = 200", "Left = '200'"), "property Left of Go must be a number"},
      {Damaged("Caption = 'Go'", "Caption = Go"), "property Caption of Go must be a string"},
      {Damaged("    TabOrder = 1\n  end\nend",
               "    TabOrder = 1\n    object X: TImage\n"
               "      Left = 0\n    end\n  end\nend"),
       "X is placed in Go, which cannot hold controls"},
      {Damaged("Font.Style = []", "Position = poSomewhere"), "unknown Position poSomewhere"},
      {Damaged("Font.Style = []", "Color = clChartreuse"), "unknown colour clChartreuse"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_THAT(ErrorOf(text), HasSubstr(expected)) << expected;
  }
}

TEST(FormDescription, EveryTruncationIsRefused) {
  std::string text = kForm;
  std::size_t end = text.rfind("end");
  for (std::size_t size = 0; size < end + 3; ++size) {
    EXPECT_NE(ErrorOf(text.substr(0, size)), "") << size;
  }
  EXPECT_EQ(ErrorOf(text), "");
}

TEST(Forms, ClicksFollowTheControlsRules) {
  TForm form(nullptr, ReadFormDescription(kForm, "test.form"));
  TControl* one = form.FindControl("One");
  TControl* two = form.FindControl("TWO");
  EXPECT_EQ(one->Parent(), form.FindControl("Box"));
  EXPECT_EQ(one->ClassName(), "TRadioButton");
  form.Click(*two);
  EXPECT_FALSE(one->Checked());
  EXPECT_TRUE(two->Checked());
  form.Click(*form.FindControl("Box"));
  EXPECT_EQ(form.ModalResult(), mrNone);
  form.Click(*form.FindControl("Go"));
  EXPECT_EQ(form.ModalResult(), mrOk);
}

TEST(Forms, ScriptsComeFromTheInstalledFactoryFirst) {
  TForm form(nullptr, ReadFormDescription(kForm, "test.form"));
  SetFormBackendFactory([] {
    return std::make_unique<TScriptedFormBackend>(TScriptedFormBackend::Split(" Two,, Go "));
  });
  EXPECT_EQ(form.ShowModal(), mrOk);
  EXPECT_TRUE(form.FindControl("Two")->Checked());
  SetFormBackendFactory({});
}

TEST(Forms, ReleasedFormsAreDestroyedLater) {
  auto* form = new TForm(&Application(), ReadFormDescription(kForm, "test.form"));
  int before = Application().ComponentCount();
  form->Release();
  EXPECT_EQ(Application().ComponentCount(), before);
  Application().ProcessReleases();
  EXPECT_EQ(Application().ComponentCount(), before - 1);
  EXPECT_EQ(Application().PendingReleases(), 0);
}

#if defined(_WIN32)
// A form class whose logic refuses a click on Go.
class TRefusingForm : public TForm {
 public:
  using TForm::TForm;
  void Click(TControl& control) override {
    if (control.Name() == "Go") throw Exception("Go refused");
    TForm::Click(control);
  }
};

BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
  wchar_t name[16] = L"";
  GetClassNameW(window, name, 16);
  if (std::wstring(name) != L"#32770") return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

// Clicks Go in the thread's dialog. The timer's message is dispatched by the
// dialog's own modal loop, so the dialog is up; without a Go the dialog is
// closed, so that a failing test does not wait for ever.
void CALLBACK ClickGo(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  HWND dialog = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), &FindDialog, reinterpret_cast<LPARAM>(&dialog));
  ASSERT_NE(dialog, nullptr);
  HWND go = FindWindowExW(dialog, nullptr, L"Button", L"Go");
  if (go == nullptr) {
    ADD_FAILURE() << "the dialog has no button Go";
    SendMessageW(dialog, WM_CLOSE, 0, 0);
    return;
  }
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(go), BN_CLICKED),
               reinterpret_cast<LPARAM>(go));
}

// As on every platform: an exception of the form's logic ends the dialog,
// and reaches the caller once the dialog is gone.
TEST(Forms, AnExceptionWhileTheDialogIsShownReachesTheCaller) {
  TRefusingForm form(nullptr, ReadFormDescription(kForm, "test.form"));
  SetTimer(nullptr, 0, 1, &ClickGo);
  try {
    int result = CreateWindowBackend()->ShowModal(form);
    ADD_FAILURE() << "ShowModal answered " << result;
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Go refused");
  }
  HWND dialog = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), &FindDialog, reinterpret_cast<LPARAM>(&dialog));
  EXPECT_EQ(dialog, nullptr);
}
#else
TEST(Forms, WithoutADisplayTheWindowSaysSoAndCountsAsCancelled) {
  const char* saved = std::getenv("DISPLAY");
  std::string display = saved != nullptr ? saved : "";
  unsetenv("DISPLAY");
  TForm form(nullptr, ReadFormDescription(kForm, "test.form"));
  ::testing::internal::CaptureStderr();
  int result = CreateWindowBackend()->ShowModal(form);
  std::string message = ::testing::internal::GetCapturedStderr();
  if (saved != nullptr) setenv("DISPLAY", display.c_str(), 1);
  EXPECT_EQ(result, mrNone);
  EXPECT_THAT(message, HasSubstr("It's a test: the dialog cannot be shown"));
  EXPECT_EQ(form.NotShownMessage() + "\n", message);
}

// The window module is loaded only to show a form; one that cannot be
// loaded is named, and the form counts as cancelled.
TEST(Forms, AWindowModuleThatCannotBeLoadedIsNamed) {
  setenv("FERNWICK_FORMS_MODULE", "/nonexistent/libfernwick_forms_fltk.so", 1);
  TForm form(nullptr, ReadFormDescription(kForm, "test.form"));
  ::testing::internal::CaptureStderr();
  int result = CreateWindowBackend()->ShowModal(form);
  std::string message = ::testing::internal::GetCapturedStderr();
  unsetenv("FERNWICK_FORMS_MODULE");
  EXPECT_EQ(result, mrNone);
  EXPECT_THAT(message, HasSubstr("It's a test: the dialog cannot be shown: the window module "
                                 "/nonexistent/libfernwick_forms_fltk.so cannot be loaded"));
}
#endif

// A 4-bit bitmap file: width x height, pixel (x, y) = (x + y) % 16.
std::string SmallBitmap(int width, int height) {
  int row = ((width * 4 + 31) / 32) * 4;
  std::string file(54 + 64 + row * height, '\0');
  auto put = [&](std::size_t at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
      file[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
  };
  file[0] = 'B';
  file[1] = 'M';
  put(2, static_cast<std::uint32_t>(file.size()), 4);
  put(10, 54 + 64, 4);
  put(14, 40, 4);
  put(18, static_cast<std::uint32_t>(width), 4);
  put(22, static_cast<std::uint32_t>(height), 4);
  put(26, 1, 2);
  put(28, 4, 2);
  for (std::uint32_t i = 0; i < 16; ++i) put(54 + i * 4, i * 0x111111u, 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::size_t at = 118 + static_cast<std::size_t>((height - 1 - y) * row + x / 2);
      int value = (x + y) % 16;
      file[at] = static_cast<char>(file[at] | (x % 2 == 0 ? value << 4 : value));
    }
  }
  return file;
}

TEST(Bitmaps, DecodesSixteenColourBitmaps) {
  TBitmapImage image = DecodeBitmap(SmallBitmap(5, 3), "small");
  EXPECT_EQ(image.width, 5);
  EXPECT_EQ(image.height, 3);
  EXPECT_EQ(image.bits_per_pixel, 4);
  EXPECT_EQ(image.Pixel(0, 0), 0u);
  EXPECT_EQ(image.Pixel(4, 2), 6 * 0x111111u);
  EXPECT_EQ(image.Pixel(1, 0), 0x111111u);
}

TEST(Bitmaps, DamagedBitmapsAreRefused) {
  std::string good = SmallBitmap(5, 3);
  for (std::size_t size = 0; size < good.size(); ++size) {
    EXPECT_THROW(DecodeBitmap(good.substr(0, size), "cut"), EInvalidGraphic) << size;
  }
  std::string huge = good;
  huge[19] = 0x7f;  // width far beyond the data
  EXPECT_THROW(DecodeBitmap(huge, "huge"), EInvalidGraphic);
  std::string compressed = good;
  compressed[30] = 2;
  EXPECT_THROW(DecodeBitmap(compressed, "rle"), EInvalidGraphic);
}

}  // namespace
}  // namespace fernwick
