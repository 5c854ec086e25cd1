// Locale-free numbers: std::from_chars does the reading, this file what lies around it.
#include "text/Number.h"

#include <array>
#include <cmath>
#include <string>

#include "text/Words.h"

namespace text {

std::optional<double> ParseNumber(std::string_view text, const TNumberForm& form) {
  if (!form.Blanks.empty()) text = Trim(text, form.Blanks);
  if (form.Plus && !text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  // from_chars reads only the point: another decimal mark becomes one, and a point that is no
  // decimal mark becomes a character no number holds.
  std::array<char, 64> buffer;
  std::string longer;
  if (form.Decimals != ".") {
    char* out = buffer.data();
    if (text.size() > buffer.size()) {
      longer.resize(text.size());
      out = longer.data();
    }
    // One mark (a text log's cells) is compared plainly: this runs for every cell of a large log.
    const bool one = form.Decimals.size() == 1;
    const char mark = one ? form.Decimals.front() : '.';
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      const bool decimal = one ? c == mark : form.Decimals.find(c) != std::string_view::npos;
      out[i] = decimal ? '.' : c == '.' ? 'x' : c;
    }
    text = std::string_view(out, text.size());
  }
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  if (form.Finite && !std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace text
