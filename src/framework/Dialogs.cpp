#include <fernwick/framework/Dialogs.h>

#if defined(_WIN32)
#include <windows.h>
#endif

#include <cstdio>
#include <utility>

namespace fernwick {

namespace {

TMessageDlgHook& Hook() {
  static TMessageDlgHook hook;
  return hook;
}

const char* Caption(TMsgDlgType type) {
  switch (type) {
    case mtWarning:
      return "Warning";
    case mtError:
      return "Error";
    case mtInformation:
      return "Information";
    case mtConfirmation:
      return "Confirm";
    default:
      return "Message";
  }
}

int DefaultResult(TMsgDlgButtons buttons) {
  const std::pair<TMsgDlgBtn, int> order[] = {
      {mbOK, mrOk},           {mbYes, mrYes},          {mbCancel, mrCancel}, {mbNo, mrNo},
      {mbAbort, mrAbort},     {mbRetry, mrRetry},      {mbIgnore, mrIgnore}, {mbAll, mrAll},
      {mbNoToAll, mrNoToAll}, {mbYesToAll, mrYesToAll}};
  for (const auto& [button, result] : order) {
    if (buttons & MsgDlgButtons({button})) return result;
  }
  return mrNone;
}

#if defined(_WIN32)
// A message box only where someone can see it: an interactive window station
// and no standard error to write to (a GUI host such as HotSync Manager).
bool CanShowMessageBox() {
  if (GetStdHandle(STD_ERROR_HANDLE) != nullptr &&
      GetStdHandle(STD_ERROR_HANDLE) != INVALID_HANDLE_VALUE) {
    return false;
  }
  USEROBJECTFLAGS flags{};
  HWINSTA station = GetProcessWindowStation();
  return station != nullptr &&
         GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, nullptr) &&
         (flags.dwFlags & WSF_VISIBLE) != 0;
}

int ShowMessageBox(const std::string& msg, TMsgDlgType type, TMsgDlgButtons buttons) {
  UINT style = MB_OK;
  const auto has = [buttons](TMsgDlgBtn b) { return (buttons & MsgDlgButtons({b})) != 0; };
  if (has(mbYes) && has(mbNo)) {
    style = has(mbCancel) ? MB_YESNOCANCEL : MB_YESNO;
  } else if (has(mbOK) && has(mbCancel)) {
    style = MB_OKCANCEL;
  } else if (has(mbAbort)) {
    style = MB_ABORTRETRYIGNORE;
  } else if (has(mbRetry)) {
    style = MB_RETRYCANCEL;
  }
  switch (type) {
    case mtWarning:
      style |= MB_ICONWARNING;
      break;
    case mtError:
      style |= MB_ICONERROR;
      break;
    case mtInformation:
      style |= MB_ICONINFORMATION;
      break;
    case mtConfirmation:
      style |= MB_ICONQUESTION;
      break;
    default:
      break;
  }
  // IDOK..IDNO have the values of mrOk..mrNo.
  return MessageBoxA(nullptr, msg.c_str(), Caption(type), style | MB_TASKMODAL);
}
#endif

int ShowDefault(const std::string& msg, TMsgDlgType type, TMsgDlgButtons buttons) {
#if defined(_WIN32)
  if (CanShowMessageBox()) return ShowMessageBox(msg, type, buttons);
#endif
  std::fprintf(stderr, "%s: %s\n", Caption(type), msg.c_str());
  std::fflush(stderr);
  return DefaultResult(buttons);
}

}  // namespace

TMessageDlgHook SetMessageDlgHook(TMessageDlgHook hook) {
  return std::exchange(Hook(), std::move(hook));
}

int MessageDlg(const std::string& msg, TMsgDlgType type, TMsgDlgButtons buttons, int help_ctx) {
  try {
    if (Hook()) return Hook()(msg, type, buttons, help_ctx);
    return ShowDefault(msg, type, buttons);
  } catch (...) {
    return mrCancel;
  }
}

}  // namespace fernwick
