// Date and time patterns shared by the locale backends.
#include "platform/TimePatterns.h"

#include <vector>

namespace platform {

namespace {

constexpr std::string_view StrftimeFlags = "-_0^#";

// Appends one conversion of a Win32 picture: `letter` repeated `run` times.
void AppendPictureField(std::string& out, char letter, std::size_t run) {
  switch (letter) {
    case 'd':
      out += run == 1 ? "%-d" : run == 2 ? "%d" : run == 3 ? "%a" : "%A";
      return;
    case 'M':
      out += run == 1 ? "%-m" : run == 2 ? "%m" : run == 3 ? "%b" : "%B";
      return;
    case 'y':
      out += run == 1 ? "%-y" : run == 2 ? "%y" : "%Y";
      return;
    case 'H':
      out += run == 1 ? "%-H" : "%H";
      return;
    case 'h':
      out += run == 1 ? "%-I" : "%I";
      return;
    case 'm':
      out += run == 1 ? "%-M" : "%M";
      return;
    case 's':
      out += run == 1 ? "%-S" : "%S";
      return;
    case 't':
      out += "%p";
      return;
    case 'g':
      return;
    default:
      break;
  }
}

bool IsPictureLetter(char c) {
  return c == 'd' || c == 'M' || c == 'y' || c == 'H' || c == 'h' || c == 'm' || c == 's' ||
         c == 't' || c == 'g';
}

void AppendLiteral(std::string& out, char c) {
  if (c == '%') out += '%';
  out += c;
}

// strftime of one conversion. A result of 0 is ambiguous (too small a buffer, or an empty field
// such as a blank AM/PM designator), so the buffer grows a few times before "empty" is believed.
std::string Strftime(const std::string& conversion, const std::tm& when) {
  char small[128];
  std::size_t length = std::strftime(small, sizeof small, conversion.c_str(), &when);
  if (length > 0) return std::string(small, length);
  std::vector<char> buffer(sizeof small);
  for (int attempt = 0; attempt < 3; ++attempt) {
    buffer.resize(buffer.size() * 8);
    length = std::strftime(buffer.data(), buffer.size(), conversion.c_str(), &when);
    if (length > 0) return std::string(buffer.data(), length);
  }
  return {};
}

}  // namespace

std::string StrftimeFromWindowsPicture(std::string_view picture) {
  std::string out;
  bool quoted = false;
  for (std::size_t i = 0; i < picture.size();) {
    const char c = picture[i];
    if (c == '\'') {
      if (i + 1 < picture.size() && picture[i + 1] == '\'') {
        out += '\'';  // two quotes stand for one, inside quoted text or out of it
        i += 2;
      } else {
        quoted = !quoted;
        ++i;
      }
      continue;
    }
    if (quoted || !IsPictureLetter(c)) {
      AppendLiteral(out, c);
      ++i;
      continue;
    }
    std::size_t run = 1;
    while (i + run < picture.size() && picture[i + run] == c) ++run;
    AppendPictureField(out, c, run);
    i += run;
  }
  return out;
}

bool PatternShowsSeconds(std::string_view pattern) {
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') continue;
    std::size_t j = i + 1;
    while (j < pattern.size() && StrftimeFlags.find(pattern[j]) != std::string_view::npos) ++j;
    while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9') ++j;
    if (j < pattern.size() && (pattern[j] == 'E' || pattern[j] == 'O')) ++j;
    if (j >= pattern.size()) return false;
    const char conversion = pattern[j];
    if (conversion == 'S' || conversion == 'T' || conversion == 'r') return true;
    i = j;  // "%%" ends here too, so its second '%' does not start a conversion
  }
  return false;
}

TLocaleFormats LocaleFormatsFrom(const char* shortDate, const char* longTime, const char* decimal) {
  TLocaleFormats formats;
  if (shortDate != nullptr && *shortDate != '\0') formats.ShortDateFormat = shortDate;
  if (longTime != nullptr && PatternShowsSeconds(longTime)) formats.LongTimeFormat = longTime;
  if (decimal != nullptr && *decimal != '\0') formats.DecimalSeparator = decimal;
  return formats;
}

std::string FormatTime(std::string_view pattern, const std::tm& when) {
  std::string out;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') {
      out += pattern[i];
      continue;
    }
    if (i + 1 >= pattern.size()) {
      out += '%';  // a lone '%' at the end is taken as text
      break;
    }
    if (pattern[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    // Flags: '-' is done here; any other (a glibc locale may use them) goes to the C library.
    bool unpadded = false;
    std::string conversion = "%";
    std::size_t j = i + 1;
    for (; j < pattern.size() && StrftimeFlags.find(pattern[j]) != std::string_view::npos; ++j) {
      if (pattern[j] == '-') {
        unpadded = true;
      } else {
        conversion += pattern[j];
      }
    }
    while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9') conversion += pattern[j++];
    if (j < pattern.size() && (pattern[j] == 'E' || pattern[j] == 'O')) conversion += pattern[j++];
    if (j >= pattern.size()) {
      out.append(pattern.substr(i));  // an unfinished conversion at the end is taken as text
      break;
    }
    conversion += pattern[j];
    std::string field = Strftime(conversion, when);
    if (unpadded) {
      std::size_t skip = 0;
      while (skip + 1 < field.size() && (field[skip] == '0' || field[skip] == ' ')) ++skip;
      field.erase(0, skip);
    }
    out += field;
    i = j;
  }
  return out;
}

}  // namespace platform
