// Trimming, splitting and case-insensitive comparison of text. Case is folded for the ASCII
// letters only, the same on every machine and in every locale: the words compared are the
// program's own (COM, time, .mlg) and the files' ASCII names and units.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace text {

// Blanks and tabs, what most of our files put around a cell.
inline constexpr std::string_view Blanks = " \t";
// Blanks, tabs and line ends, for text that may still carry a CR or LF.
inline constexpr std::string_view WhiteSpace = " \t\r\n";

// `text` without the characters of `blanks` at either end; empty when it holds nothing else.
std::string_view Trim(std::string_view text, std::string_view blanks = Blanks);

// `text` cut at every character of `separators`, the parts as they stand (not trimmed, empty ones
// kept): n separators give n + 1 parts, and an empty text one empty part.
std::vector<std::string_view> Split(std::string_view text, std::string_view separators);

// One line of delimited text cut into its cells at `separator`: a cell in double quotes may hold
// the separator, and "" inside one is one quote. The cells are not trimmed; an empty line is one
// empty cell.
std::vector<std::string> SplitQuoted(std::string_view line, char separator);

// `c` with A to Z made a to z; every other character as it is.
constexpr char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
// `text` with A to Z made a to z.
std::string Lower(std::string_view text);

// Whether the two are the same but for the case of ASCII letters.
bool EqualsNoCase(std::string_view a, std::string_view b);
// Whether `text` begins, ends with or holds `part` but for the case of ASCII letters.
bool StartsWithNoCase(std::string_view text, std::string_view part);
bool EndsWithNoCase(std::string_view text, std::string_view part);
bool ContainsNoCase(std::string_view text, std::string_view part);

}  // namespace text
