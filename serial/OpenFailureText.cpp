// The reason and remedy of a failed open, one sentence each.
#include "serial/OpenFailureText.h"

#include "platform/OpenErrorHint.h"

namespace {

std::string ReasonOf(const platform::TOpenFailure& failure) {
  switch (failure.Error) {
    case platform::TOpenError::NotFound:
      return "no such device";
    case platform::TOpenError::InUse:
      if (!failure.Holder.empty()) return "in use by another program, " + failure.Holder;
      return "in use by another program";
    case platform::TOpenError::PermissionDenied:
      return "permission denied";
    case platform::TOpenError::NotATerminal:
      return "not a serial device";
    case platform::TOpenError::None:
    case platform::TOpenError::Other:
      break;
  }
  if (!failure.SystemText.empty()) return failure.SystemText;
  return "the system refused";
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
