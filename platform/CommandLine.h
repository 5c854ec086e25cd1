// Walking a command line of long options, "--name value" or "--name=value": the one way the
// programs read their arguments, so that they all take the same forms.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class TOptionCursor {
 public:
  // `arguments` (without the program's name) must outlive the cursor.
  explicit TOptionCursor(const std::vector<std::string>& arguments) : Arguments(arguments) {}

  // Moves to the next argument; false past the last one.
  bool Next() {
    Index = Started ? Index + 1 : 0;
    Started = true;
    if (Index >= Arguments.size()) return false;
    FName = Arguments[Index];
    InlineValue.reset();
    if (const auto equals = FName.find('=');
        FName.rfind("--", 0) == 0 && equals != std::string::npos) {
      InlineValue = FName.substr(equals + 1);
      FName.resize(equals);
    }
    return true;
  }
  // The argument as given, and its name without an "=value".
  const std::string& Argument() const { return Arguments[Index]; }
  const std::string& Name() const { return FName; }
  bool HasInlineValue() const { return InlineValue.has_value(); }
  // The option's value: the text after '=', else the next argument, which is then used up.
  // Nothing when there is no next argument or, with `refuseOption`, when it begins with "--".
  std::optional<std::string> TakeValue(bool refuseOption) {
    if (InlineValue) return InlineValue;
    if (Index + 1 >= Arguments.size()) return std::nullopt;
    if (refuseOption && Arguments[Index + 1].rfind("--", 0) == 0) return std::nullopt;
    return Arguments[++Index];
  }

 private:
  const std::vector<std::string>& Arguments;
  std::size_t Index = 0;
  bool Started = false;
  std::string FName;
  std::optional<std::string> InlineValue;
};

}  // namespace platform
