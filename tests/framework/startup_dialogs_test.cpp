#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include <fernwick/framework/Dialogs.h>
#include <fernwick/framework/DynLib.h>
#include <fernwick/framework/Startup.h>

namespace fernwick {
namespace {

std::vector<std::string> calls;
bool fail_second = false;

void InitA() { calls.push_back("init A"); }
void FinA() { calls.push_back("fin A"); }
void InitB() {
  calls.push_back("init B");
  if (fail_second) throw std::runtime_error("B failed");
}
void FinB() {
  calls.push_back("fin B");
  throw std::runtime_error("B cannot finalise");
}
void InitC() { calls.push_back("init C"); }
void FinC() { calls.push_back("fin C"); }

constexpr TUnitEntry kUnits[] = {{"A", &InitA, &FinA}, {"B", &InitB, &FinB}, {"C", &InitC, &FinC}};

TEST(Startup, InitialisesInOrderAndFinalisesInReverseThroughFailures) {
  calls.clear();
  fail_second = false;
  InitializeUnits(kUnits);
  FinalizeUnits(kUnits);
  EXPECT_EQ(calls,
            (std::vector<std::string>{"init A", "init B", "init C", "fin C", "fin B", "fin A"}));
}

TEST(Startup, FailedInitialisationUndoesTheUnitsBeforeIt) {
  calls.clear();
  fail_second = true;
  EXPECT_THROW(InitializeUnits(kUnits), std::runtime_error);
  EXPECT_EQ(calls, (std::vector<std::string>{"init A", "init B", "fin A"}));
  fail_second = false;
}

TEST(MessageDlg, HookReceivesTheMessageAndAnswers) {
  std::string seen;
  TMsgDlgButtons seen_buttons = 0;
  TMessageDlgHook before = SetMessageDlgHook(
      [&](const std::string& msg, TMsgDlgType type, TMsgDlgButtons buttons, int help) {
        seen = msg + "/" + std::to_string(type) + "/" + std::to_string(help);
        seen_buttons = buttons;
        return mrNo;
      });
  EXPECT_EQ(MessageDlg("Save?", mtConfirmation, MsgDlgButtons({mbYes, mbNo}), 7), mrNo);
  EXPECT_EQ(seen, "Save?/3/7");
  EXPECT_EQ(seen_buttons, MsgDlgButtons({mbYes, mbNo}));

  SetMessageDlgHook([](const std::string&, TMsgDlgType, TMsgDlgButtons, int) -> int {
    throw std::runtime_error("hook failed");
  });
  EXPECT_EQ(MessageDlg("x", mtError, MsgDlgButtons({mbOK}), 0), mrCancel);
  SetMessageDlgHook(before);
}

TEST(MessageDlg, WithoutHookWritesToStandardErrorAndTakesTheDefaultButton) {
  TMessageDlgHook before = SetMessageDlgHook(nullptr);
  ::testing::internal::CaptureStderr();
  const int result =
      MessageDlg("DorvConduit : Unable to load sync20.dll", mtError, MsgDlgButtons({mbOK}), 0);
  const int yes = MessageDlg("Go on?", mtConfirmation, MsgDlgButtons({mbNo, mbYes}), 0);
  const std::string err = ::testing::internal::GetCapturedStderr();
  SetMessageDlgHook(before);
  EXPECT_EQ(result, mrOk);
  EXPECT_EQ(yes, mrYes);
  EXPECT_NE(err.find("Error: DorvConduit : Unable to load sync20.dll"), std::string::npos) << err;
}

TEST(DynLib, WindowsLibraryNamesMapToThePlatformsNames) {
#if defined(_WIN32)
  EXPECT_EQ(PlatformLibraryName("C:\\Palm\\sync20.dll"), "C:\\Palm\\sync20.dll");
#else
  EXPECT_EQ(PlatformLibraryName("sync20.dll"), "libsync20.so");
  EXPECT_EQ(PlatformLibraryName("/opt/palm/PalmCmn.DLL"), "/opt/palm/libPalmCmn.so");
  EXPECT_EQ(PlatformLibraryName("/opt/palm/libx.so"), "/opt/palm/libx.so");
  EXPECT_EQ(PlatformLibraryName(".dll"), ".dll");
#endif
  EXPECT_EQ(LoadLibraryHandle("fernwick-no-such-library.dll"), nullptr);
  EXPECT_FALSE(LastLibraryError().empty());
  EXPECT_FALSE(IsLoadedLibraryHandle(nullptr));
}

}  // namespace
}  // namespace fernwick
