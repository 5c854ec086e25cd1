// The reason and remedy of a failed open, one sentence each, and the reason of a failed call.
#include "serial/OpenFailureText.h"

#include "platform/OpenErrorHint.h"
#include "text/Words.h"

namespace {

// Ours, the same on every system, then the system's own words where they say something else (on
// Windows in the user's language, as the rest of the system speaks to him).
std::string ReasonOf(const platform::TOpenFailure& failure) {
  std::string ours;
  switch (failure.Error) {
    case platform::TOpenError::NotFound:
      ours = "no such device";
      break;
    case platform::TOpenError::InUse:
      // The program that holds it says more than the system's words could.
      if (!failure.Holder.empty()) return "in use by another program, " + failure.Holder;
      ours = "in use by another program";
      break;
    case platform::TOpenError::PermissionDenied:
      ours = "permission denied";
      break;
    case platform::TOpenError::NotATerminal:
      ours = "not a serial device";
      break;
    case platform::TOpenError::None:
    case platform::TOpenError::Other:
      if (!failure.SystemText.empty()) return failure.SystemText;
      return "the system refused";
  }
  if (failure.SystemText.empty() || text::EqualsNoCase(ours, failure.SystemText)) return ours;
  return ours + " (" + failure.SystemText + ")";
}

}  // namespace

std::string OpenFailureText(const std::string& name, const platform::TOpenFailure& failure,
                            const std::string& separator) {
  const std::string& device = failure.Path.empty() ? name : failure.Path;
  std::string text = "could not open " + device + ": " + ReasonOf(failure) + ".";
  const std::string hint = platform::OpenErrorHint(failure.Error);
  if (!hint.empty()) text += separator + hint;
  return text;
}

std::string PortFailureText(const platform::TPortFailure& failure) {
  if (failure.Call.empty()) return {};
  std::string doing = "the call " + failure.Call;
  if (failure.Call == "SetCommState" || failure.Call == "SetupComm" ||
      failure.Call == "SetCommTimeouts") {
    doing = "setting up the line";
  } else if (failure.Call == "PurgeComm") {
    doing = "emptying the line's queues";
  } else if (failure.Call == "ClearCommError") {
    doing = "querying the device";
  } else if (failure.Call == "ReadFile") {
    doing = "reading";
  } else if (failure.Call == "WriteFile") {
    doing = "writing";
  }
  std::string text = doing + " failed";
  if (!failure.Error.Text.empty()) text += ": " + failure.Error.Text;
  if (failure.Error.Code != 0) text += " (error " + std::to_string(failure.Error.Code) + ")";
  return text;
}
