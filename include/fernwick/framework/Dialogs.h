/// \file
/// Modal message dialogs of the host framework (MessageDlg).
///
/// A program that hosts the library (or a test) can replace how messages are
/// shown with SetMessageDlgHook. Without a hook the message goes to standard
/// error, where no window can be shown; on Windows a process that has no
/// standard error but an interactive desktop gets a message box instead.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace fernwick {

/// The kind of a message, which gives the dialog its caption and icon.
enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

/// A button of a message dialog; its modal result is the mr constant of the
/// same name.
enum TMsgDlgBtn {
  mbYes,
  mbNo,
  mbOK,
  mbCancel,
  mbAbort,
  mbRetry,
  mbIgnore,
  mbAll,
  mbNoToAll,
  mbYesToAll,
  mbHelp
};

/// A set of buttons: one bit per TMsgDlgBtn (see MsgDlgButtons).
using TMsgDlgButtons = std::uint32_t;

/// The set of `buttons`: MsgDlgButtons({mbYes, mbNo}).
constexpr TMsgDlgButtons MsgDlgButtons(std::initializer_list<TMsgDlgBtn> buttons) {
  TMsgDlgButtons set = 0;
  for (TMsgDlgBtn b : buttons) set |= TMsgDlgButtons{1} << b;
  return set;
}

///@{
/// The modal results that MessageDlg returns.
constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;
constexpr int mrAbort = 3;
constexpr int mrRetry = 4;
constexpr int mrIgnore = 5;
constexpr int mrYes = 6;
constexpr int mrNo = 7;
constexpr int mrAll = 8;
constexpr int mrNoToAll = 9;
constexpr int mrYesToAll = 10;
///@}

/// Shows a message. Returns the modal result of the button chosen.
using TMessageDlgHook = std::function<int(const std::string& msg, TMsgDlgType type,
                                          TMsgDlgButtons buttons, int help_ctx)>;

/// Installs `hook` as the way messages are shown (an empty hook restores the
/// default) and returns the hook that was installed before.
TMessageDlgHook SetMessageDlgHook(TMessageDlgHook hook);

/// Shows `msg` modally with the icon of `type` and the given buttons and help
/// context; returns the modal result of the button chosen. Shown on standard
/// error, it answers the first of OK, Yes, Cancel, No (then any other button)
/// that the set holds, without waiting. Never throws: a hook that throws
/// counts as mrCancel.
int MessageDlg(const std::string& msg, TMsgDlgType type, TMsgDlgButtons buttons, int help_ctx);

}  // namespace fernwick
