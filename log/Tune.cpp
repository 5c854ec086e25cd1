// The MSQ tune file: a small XML reader of its own (the file holds elements, attributes, text,
// comments and declarations, nothing that needs a general XML library), the fuel table and its
// axes found by name, and the copy of the file with that table's numbers replaced in place.
#include "log/Tune.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <utility>

#include "text/Number.h"
#include "text/Words.h"

namespace tune {

namespace {

// XML's white space: what may separate a table's numbers and surround its text.
constexpr std::string_view XmlSpace = " \t\r\n";
constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";
// More decimals than a double carries are no layout a file means; the writer's buffer holds these.
constexpr int MaxDigits = 30;

bool IsSpace(char c) { return XmlSpace.find(c) != std::string_view::npos; }

bool IsNameStart(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || u >= 0x80;
}

bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

// The name without a namespace prefix: a root written <x:msq> is still the tune's root.
std::string_view LocalName(std::string_view name) {
  const std::size_t colon = name.rfind(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// `text` with XML's five named entities resolved; numeric references are left as written, since
// the file's encoding (often ISO-8859-1) decides what their bytes would be.
std::string Unescape(std::string_view text) {
  static constexpr std::pair<std::string_view, char> Entities[] = {
      {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    bool replaced = false;
    if (text[i] == '&') {
      for (const auto& [entity, c] : Entities) {
        if (text.substr(i, entity.size()) == entity) {
          out += c;
          i += entity.size();
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) out += text[i++];
  }
  return out;
}

// The words of a constant's text, split at XML white space.
std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (true) {
    at = text.find_first_not_of(XmlSpace, at);
    if (at == std::string_view::npos) break;
    std::size_t end = text.find_first_of(XmlSpace, at);
    if (end == std::string_view::npos) end = text.size();
    words.push_back(text.substr(at, end - at));
    at = end;
  }
  return words;
}

std::optional<double> ParseValue(std::string_view word) {
  text::TNumberForm form;
  form.Plus = true;
  return text::ParseNumber(word, form);
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

struct TAttribute {
  std::string_view Name;
  std::string_view Value;  // as written, entities not yet resolved
};

struct TOpenElement {
  std::string_view Name;
  std::size_t Begin = 0;  // offset of its '<'
};

// One pass over the file. Elements are kept on a stack of our own, so deep nesting cannot
// exhaust the call stack.
class TMsqParser {
 public:
  TMsqParser(std::string_view bytes, const std::string& name) : Bytes(bytes) { Result.Name = name; }

  TTune Run() {
    Parse();
    if (!Result.Ok()) Result.Constants.clear();
    return std::move(Result);
  }

 private:
  void Parse();
  // Reads the markup at At (a '<'); false after a Fail.
  bool ReadMarkup();
  bool ReadEndTag();
  bool ReadStartTag();
  // Reads attributes up to the tag's end; `selfClosing` tells whether it ended "/>".
  bool ReadAttributes(std::string_view element, std::size_t tagBegin,
                      std::vector<TAttribute>& attributes, bool& selfClosing);
  bool BeginConstant(const std::vector<TAttribute>& attributes, std::size_t tagBegin);
  bool EndConstant(std::size_t contentEnd);
  // Moves At past `end`, searched from `from`; a file that ends first is cut short inside `what`.
  bool SkipPast(std::string_view end, std::size_t from, std::size_t begun, const char* what);
  bool ReadShape(const TAttribute& attribute, std::size_t tagBegin, std::size_t& value);

  std::size_t LineOf(std::size_t offset);
  // Sets Error once; `offset` gives the line. Returns false, for `return Fail(...)`.
  bool Fail(std::size_t offset, const std::string& what);
  bool FailUnlocated(const std::string& what);
  bool CutShort(std::size_t begun, const std::string& inside);
  std::string Describe(const TOpenElement& element) const;

  std::string_view Bytes;
  TTune Result;
  std::size_t At = 0;
  bool RootSeen = false;
  bool RootDone = false;
  std::vector<TOpenElement> Open;

  bool InConstant = false;
  std::size_t ConstantDepth = 0;  // Open's size while inside the constant's own element
  bool ConstantPlain = true;      // its content is text alone
  TConstant Constant;

  std::size_t LineCacheOffset = 0;
  std::size_t LineCacheLine = 1;
};

std::size_t TMsqParser::LineOf(std::size_t offset) {
  // Lines are asked for mostly in the order of the file: count on from the last answer.
  if (offset < LineCacheOffset) {
    LineCacheOffset = 0;
    LineCacheLine = 1;
  }
  for (std::size_t i = LineCacheOffset; i < offset && i < Bytes.size(); ++i) {
    if (Bytes[i] == '\n') ++LineCacheLine;
  }
  LineCacheOffset = offset;
  return LineCacheLine;
}

bool TMsqParser::Fail(std::size_t offset, const std::string& what) {
  return FailUnlocated("line " + std::to_string(LineOf(offset)) + ": " + what);
}

bool TMsqParser::FailUnlocated(const std::string& what) {
  if (Result.Error.empty()) Result.Error = Result.Name + ": " + what;
  return false;
}

bool TMsqParser::CutShort(std::size_t begun, const std::string& inside) {
  return FailUnlocated("is cut short: the file ends inside " + inside + " begun at line " +
                       std::to_string(LineOf(begun)));
}

std::string TMsqParser::Describe(const TOpenElement& element) const {
  if (InConstant && &element == &Open[ConstantDepth - 1]) {
    return "<constant name=" + Quoted(Constant.Name) + ">";
  }
  return "<" + std::string(element.Name) + ">";
}

bool TMsqParser::SkipPast(std::string_view end, std::size_t from, std::size_t begun,
                          const char* what) {
  const std::size_t found = Bytes.find(end, from);
  if (found == std::string_view::npos) return CutShort(begun, what);
  At = found + end.size();
  return true;
}

void TMsqParser::Parse() {
  if (Bytes.substr(0, ByteOrderMark.size()) == ByteOrderMark) At = ByteOrderMark.size();
  const std::size_t start = At;
  while (At < Bytes.size()) {
    const std::size_t markup = Bytes.find('<', At);
    const std::size_t textEnd = markup == std::string_view::npos ? Bytes.size() : markup;
    // Text inside an element is kept through the constants' spans; outside the root only white
    // space may stand.
    if (Open.empty()) {
      const std::string_view text = Bytes.substr(At, textEnd - At);
      const std::size_t stray = text.find_first_not_of(XmlSpace);
      if (stray != std::string_view::npos) {
        if (!RootSeen && At == start) {
          FailUnlocated("is not a tune (MSQ) file: it does not begin as XML");
        } else {
          Fail(At + stray, RootDone ? "text after the end of <msq>" : "text outside any element");
        }
        return;
      }
    }
    if (markup == std::string_view::npos) break;
    At = markup;
    if (!ReadMarkup()) return;
  }
  if (!Open.empty()) {
    CutShort(Open.back().Begin, Describe(Open.back()));
  } else if (!RootSeen) {
    FailUnlocated(Bytes.find('<') == std::string_view::npos
                      ? "is not a tune (MSQ) file: it holds no XML"
                      : "is not a tune (MSQ) file: it has no <msq> element");
  }
}

bool TMsqParser::ReadMarkup() {
  const std::size_t begin = At;
  const std::string_view rest = Bytes.substr(At);
  if (rest.starts_with("<!--")) {
    if (InConstant) ConstantPlain = false;
    return SkipPast("-->", begin + 4, begin, "a comment");
  }
  if (rest.starts_with("<![CDATA[")) {
    if (Open.empty()) return Fail(begin, "a CDATA section outside any element");
    if (InConstant) ConstantPlain = false;
    return SkipPast("]]>", begin + 9, begin, "a CDATA section");
  }
  if (rest.starts_with("<?")) {
    if (InConstant) ConstantPlain = false;
    return SkipPast("?>", begin + 2, begin, "a processing instruction");
  }
  if (rest.starts_with("<!")) {
    // A document type, with an internal subset in brackets that may hold '>' of its own.
    if (RootSeen) return Fail(begin, "a declaration inside the document");
    int depth = 0;
    for (std::size_t i = begin + 2; i < Bytes.size(); ++i) {
      const char c = Bytes[i];
      if (c == '[') ++depth;
      if (c == ']' && depth > 0) --depth;
      if (c == '>' && depth == 0) {
        At = i + 1;
        return true;
      }
    }
    return CutShort(begin, "a declaration");
  }
  if (rest.starts_with("</")) return ReadEndTag();
  return ReadStartTag();
}

bool TMsqParser::ReadEndTag() {
  const std::size_t begin = At;
  std::size_t i = begin + 2;
  while (i < Bytes.size() && IsNameChar(Bytes[i])) ++i;
  const std::string_view name = Bytes.substr(begin + 2, i - begin - 2);
  while (i < Bytes.size() && IsSpace(Bytes[i])) ++i;
  if (i >= Bytes.size()) return CutShort(begin, "an end tag");
  if (name.empty() || Bytes[i] != '>') return Fail(begin, "an end tag that is not XML");
  if (Open.empty()) return Fail(begin, "</" + std::string(name) + "> ends no element");
  if (Open.back().Name != name) {
    return Fail(begin, "</" + std::string(name) + "> closes " + Describe(Open.back()) +
                           " begun at line " + std::to_string(LineOf(Open.back().Begin)));
  }
  if (InConstant && Open.size() == ConstantDepth && !EndConstant(begin)) return false;
  Open.pop_back();
  if (Open.empty()) RootDone = true;
  At = i + 1;
  return true;
}

bool TMsqParser::ReadStartTag() {
  const std::size_t begin = At;
  std::size_t i = begin + 1;
  if (i >= Bytes.size()) return CutShort(begin, "a tag");
  if (!IsNameStart(Bytes[i])) {
    if (!RootSeen) return FailUnlocated("is not a tune (MSQ) file: it is not XML");
    return Fail(begin, "a '<' that begins no tag");
  }
  while (i < Bytes.size() && IsNameChar(Bytes[i])) ++i;
  const std::string_view name = Bytes.substr(begin + 1, i - begin - 1);
  At = i;
  std::vector<TAttribute> attributes;
  bool selfClosing = false;
  if (!ReadAttributes(name, begin, attributes, selfClosing)) return false;

  if (Open.empty()) {
    if (RootDone) return Fail(begin, "a second root element <" + std::string(name) + ">");
    if (LocalName(name) != "msq") {
      return FailUnlocated("is not a tune (MSQ) file: its root element is <" + std::string(name) +
                           ">, not <msq>");
    }
    RootSeen = true;
    if (selfClosing) RootDone = true;
  } else if (InConstant) {
    ConstantPlain = false;
  } else if (LocalName(name) == "constant") {
    if (!BeginConstant(attributes, begin)) return false;
    if (selfClosing) return EndConstant(At);
    ConstantDepth = Open.size() + 1;
  }
  if (!selfClosing) Open.push_back({name, begin});
  return true;
}

bool TMsqParser::ReadAttributes(std::string_view element, std::size_t tagBegin,
                                std::vector<TAttribute>& attributes, bool& selfClosing) {
  const std::string inside = "the tag <" + std::string(element) + ">";
  while (true) {
    while (At < Bytes.size() && IsSpace(Bytes[At])) ++At;
    if (At >= Bytes.size()) return CutShort(tagBegin, inside);
    if (Bytes[At] == '>') {
      ++At;
      return true;
    }
    if (Bytes[At] == '/') {
      if (At + 1 >= Bytes.size()) return CutShort(tagBegin, inside);
      if (Bytes[At + 1] != '>') return Fail(At, "a '/' inside " + inside);
      At += 2;
      selfClosing = true;
      return true;
    }
    const std::size_t nameBegin = At;
    while (At < Bytes.size() && IsNameChar(Bytes[At])) ++At;
    const std::string_view name = Bytes.substr(nameBegin, At - nameBegin);
    if (name.empty() || !IsNameStart(name.front())) {
      return Fail(nameBegin, "a character that is no attribute in " + inside);
    }
    while (At < Bytes.size() && IsSpace(Bytes[At])) ++At;
    if (At >= Bytes.size()) return CutShort(tagBegin, inside);
    if (Bytes[At] != '=') return Fail(At, "the attribute " + std::string(name) + " has no value");
    ++At;
    while (At < Bytes.size() && IsSpace(Bytes[At])) ++At;
    if (At >= Bytes.size()) return CutShort(tagBegin, inside);
    const char quote = Bytes[At];
    if (quote != '"' && quote != '\'') {
      return Fail(At, "the value of " + std::string(name) + " is not in quotes");
    }
    const std::size_t close = Bytes.find(quote, At + 1);
    if (close == std::string_view::npos) return CutShort(tagBegin, inside);
    const std::string_view value = Bytes.substr(At + 1, close - At - 1);
    if (value.find('<') != std::string_view::npos) {
      return Fail(At, "a '<' in the value of " + std::string(name));
    }
    attributes.push_back({name, value});
    At = close + 1;
  }
}

bool TMsqParser::ReadShape(const TAttribute& attribute, std::size_t tagBegin, std::size_t& value) {
  const auto number = text::ParseWhole<std::uint32_t>(text::Trim(attribute.Value, XmlSpace));
  if (!number || *number == 0) {
    return Fail(tagBegin, "constant " + Quoted(Constant.Name) + ": " + std::string(attribute.Name) +
                              " " + Quoted(attribute.Value) + " is not a whole number from 1 on");
  }
  value = *number;
  return true;
}

bool TMsqParser::BeginConstant(const std::vector<TAttribute>& attributes, std::size_t tagBegin) {
  Constant = TConstant{};
  Constant.Line = LineOf(tagBegin);
  InConstant = true;
  ConstantPlain = true;
  // Only the attributes read here are checked for doubles, which keeps a tag of many attributes
  // linear; a second name or shape would leave the constant ambiguous.
  static constexpr std::string_view Read[] = {"name", "units", "rows", "cols", "digits"};
  for (const std::string_view attributeName : Read) {
    int count = 0;
    for (const TAttribute& attribute : attributes) count += attribute.Name == attributeName;
    if (count > 1) {
      return Fail(tagBegin, "the attribute " + std::string(attributeName) + " twice in a constant");
    }
  }
  for (const TAttribute& attribute : attributes) {
    if (attribute.Name == "name") Constant.Name = Unescape(attribute.Value);
    if (attribute.Name == "units") Constant.Units = Unescape(attribute.Value);
  }
  for (const TAttribute& attribute : attributes) {
    if (attribute.Name == "rows" && !ReadShape(attribute, tagBegin, Constant.Rows)) return false;
    if (attribute.Name == "cols" && !ReadShape(attribute, tagBegin, Constant.Cols)) return false;
    if (attribute.Name == "digits") {
      const auto digits = text::ParseWhole<int>(text::Trim(attribute.Value, XmlSpace));
      if (!digits || *digits < 0 || *digits > MaxDigits) {
        return Fail(tagBegin, "constant " + Quoted(Constant.Name) + ": digits " +
                                  Quoted(attribute.Value) + " is not a whole number from 0 to " +
                                  std::to_string(MaxDigits));
      }
      Constant.Digits = *digits;
    }
  }
  Constant.TextSpan = {At, At};
  return true;
}

bool TMsqParser::EndConstant(std::size_t contentEnd) {
  InConstant = false;
  Constant.TextSpan.End = contentEnd;
  const std::string_view content =
      Bytes.substr(Constant.TextSpan.Begin, contentEnd - Constant.TextSpan.Begin);
  const std::vector<std::string_view> words = Words(content);
  bool numeric = ConstantPlain && !words.empty();
  if (numeric) {
    Constant.Values.reserve(words.size());
    for (const std::string_view word : words) {
      const std::optional<double> value = ParseValue(word);
      if (!value) {
        numeric = false;
        Constant.Values.clear();
        break;
      }
      Constant.Values.push_back(*value);
    }
  }
  Constant.Numeric = numeric;
  if (numeric) {
    const std::uint64_t cells = static_cast<std::uint64_t>(Constant.Rows) * Constant.Cols;
    if (Constant.Values.size() != cells) {
      return Fail(Constant.TextSpan.Begin,
                  "constant " + Quoted(Constant.Name) + " holds " +
                      std::to_string(Constant.Values.size()) + " numbers, but rows " +
                      std::to_string(Constant.Rows) + " and cols " + std::to_string(Constant.Cols) +
                      " make " + std::to_string(cells));
    }
  } else {
    Constant.Text = std::string(text::Trim(content, XmlSpace));
  }
  Result.Constants.push_back(std::move(Constant));
  Constant = TConstant{};
  return true;
}

std::string FormatForMessage(double value) { return FormatTuneValue(value, std::nullopt); }

// The constant `name` in the role `role` ("the table", "the x axis"), found once and numeric.
const TConstant* FindNumeric(const TTune& tune, std::string_view name, const std::string& role,
                             std::string& error) {
  const TConstant* found = nullptr;
  const TConstant* otherCase = nullptr;
  for (const TConstant& constant : tune.Constants) {
    if (constant.Name == name) {
      if (found != nullptr) {
        error = tune.Name + ": " + role + " " + std::string(name) + " is there twice (lines " +
                std::to_string(found->Line) + " and " + std::to_string(constant.Line) + ")";
        return nullptr;
      }
      found = &constant;
    } else if (otherCase == nullptr && text::EqualsNoCase(constant.Name, name)) {
      otherCase = &constant;
    }
  }
  if (found == nullptr) {
    error = tune.Name + ": no constant " + std::string(name) + " for " + role;
    if (otherCase != nullptr) error += " (there is " + otherCase->Name + ")";
    return nullptr;
  }
  if (!found->Numeric) {
    const std::vector<std::string_view> words = Words(found->Text);
    std::string why = "holds no numbers";
    for (const std::string_view word : words) {
      if (!ParseValue(word)) {
        why = "holds " + Quoted(word) + ", which is no number";
        break;
      }
    }
    error = tune.Name + ": line " + std::to_string(found->Line) + ": " + role + " " +
            std::string(name) + " " + why;
    return nullptr;
  }
  return found;
}

// Rising breakpoints, of which the last may repeat: nothing, or what is wrong with them.
std::optional<std::string> CheckBreakpoints(const std::vector<double>& values) {
  const std::size_t n = values.size();
  if (n == 0) return "holds no breakpoints";
  std::size_t repeatFrom = n - 1;
  while (repeatFrom > 0 && values[repeatFrom - 1] == values[repeatFrom]) --repeatFrom;
  if (n > 1 && repeatFrom == 0) return "holds the one value " + FormatForMessage(values[0]);
  for (std::size_t i = 1; i <= repeatFrom; ++i) {
    const std::string at = "at breakpoints " + std::to_string(i) + " and " + std::to_string(i + 1);
    if (values[i] < values[i - 1]) {
      return "falls from " + FormatForMessage(values[i - 1]) + " to " +
             FormatForMessage(values[i]) + " " + at;
    }
    if (values[i] == values[i - 1]) {
      return "repeats " + FormatForMessage(values[i]) + " " + at +
             " (only its last breakpoints may repeat)";
    }
  }
  return std::nullopt;
}

// One axis of `table`: a row or a column of `count` rising breakpoints.
bool CheckAxis(const TTune& tune, const TConstant& axis, const std::string& role, std::size_t count,
               const char* along, const TConstant& table, std::string& error) {
  const std::string prefix =
      tune.Name + ": line " + std::to_string(axis.Line) + ": " + role + " " + axis.Name;
  if (axis.Rows != 1 && axis.Cols != 1) {
    error = prefix + " is a table of " + std::to_string(axis.Rows) + " rows and " +
            std::to_string(axis.Cols) + " cols, not one row or column of breakpoints";
    return false;
  }
  if (axis.Values.size() != count) {
    error = prefix + " has " + std::to_string(axis.Values.size()) + " breakpoints, but the table " +
            table.Name + " has " + std::to_string(count) + " " + along;
    return false;
  }
  if (const std::optional<std::string> wrong = CheckBreakpoints(axis.Values)) {
    error = prefix + " " + *wrong;
    return false;
  }
  return true;
}

}  // namespace

const TConstant* TTune::Find(std::string_view name) const {
  for (const TConstant& constant : Constants) {
    if (constant.Name == name) return &constant;
  }
  return nullptr;
}

TTune ReadMsq(std::string_view bytes, const std::string& name) {
  return TMsqParser(bytes, name).Run();
}

std::optional<TTable> FindTable(const TTune& tune, std::string_view name,
                                std::string_view xAxisName, std::string_view yAxisName,
                                std::string& error) {
  error.clear();
  if (!tune.Ok()) {
    error = tune.Error;
    return std::nullopt;
  }
  const TConstant* table = FindNumeric(tune, name, "the table", error);
  if (table == nullptr) return std::nullopt;
  const TConstant* x = FindNumeric(tune, xAxisName, "the x axis", error);
  if (x == nullptr) return std::nullopt;
  const TConstant* y = FindNumeric(tune, yAxisName, "the y axis", error);
  if (y == nullptr) return std::nullopt;
  if (!CheckAxis(tune, *x, "the x axis", table->Cols, "cols", *table, error) ||
      !CheckAxis(tune, *y, "the y axis", table->Rows, "rows", *table, error)) {
    return std::nullopt;
  }
  TTable result;
  result.Name = table->Name;
  result.XName = x->Name;
  result.YName = y->Name;
  result.Units = table->Units;
  result.XUnits = x->Units;
  result.YUnits = y->Units;
  result.Digits = table->Digits;
  result.XDigits = x->Digits;
  result.YDigits = y->Digits;
  result.Rows = table->Rows;
  result.Cols = table->Cols;
  result.Values = table->Values;
  result.X = x->Values;
  result.Y = y->Values;
  result.TextSpan = table->TextSpan;
  result.Line = table->Line;
  return result;
}

std::optional<TTable> FindKnownTable(const TTune& tune, const std::array<TTableNames, 3>& known,
                                     std::string& error) {
  error.clear();
  if (!tune.Ok()) {
    error = tune.Error;
    return std::nullopt;
  }
  for (const TTableNames& names : known) {
    if (tune.Find(names.Table) && tune.Find(names.XAxis) && tune.Find(names.YAxis)) {
      return FindTable(tune, names.Table, names.XAxis, names.YAxis, error);
    }
  }
  std::string lookedFor;
  std::string withoutAxes;
  std::vector<std::string_view> told;
  for (const TTableNames& names : known) {
    if (!lookedFor.empty()) lookedFor += ", ";
    lookedFor += std::string(names.Table) + " (" + std::string(names.XAxis) + ", " +
                 std::string(names.YAxis) + ")";
    if (tune.Find(names.Table) && std::find(told.begin(), told.end(), names.Table) == told.end()) {
      told.push_back(names.Table);
      withoutAxes += "; " + std::string(names.Table) + " is there without these axes";
    }
  }
  error =
      tune.Name + ": no table of a known name with its axes: looked for " + lookedFor + withoutAxes;
  return std::nullopt;
}

std::string FormatTuneValue(double value, std::optional<int> digits) {
  std::array<char, 512> buffer{};
  char* const first = buffer.data();
  char* const last = first + buffer.size();
  const auto result = digits ? std::to_chars(first, last, value, std::chars_format::fixed,
                                             std::min(std::max(*digits, 0), MaxDigits))
                             : std::to_chars(first, last, value);
  std::string text(first, result.ptr);
  // A small negative value rounded to zero keeps its sign in to_chars; a tune has no use for it.
  if (text.size() > 1 && text.front() == '-' &&
      text.find_first_not_of("0.", 1) == std::string::npos) {
    text.erase(0, 1);
  }
  return text;
}

std::optional<std::string> WriteMsqWithTable(std::string_view tuneBytes, const std::string& name,
                                             const TTable& table, const std::vector<double>& values,
                                             std::string& error) {
  error.clear();
  if (values.size() != table.Rows * table.Cols) {
    error = name + ": " + std::to_string(values.size()) + " new values for the table " +
            table.Name + " of " + std::to_string(table.Rows) + " rows and " +
            std::to_string(table.Cols) + " cols";
    return std::nullopt;
  }
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!std::isfinite(values[i])) {
      error = name + ": the new value of the table " + table.Name + " at row " +
              std::to_string(i / table.Cols + 1) + ", col " + std::to_string(i % table.Cols + 1) +
              " is not a number";
      return std::nullopt;
    }
  }
  // The table is looked for again where it was read, so that bytes of another file, or of this
  // one changed since, are never written over.
  const TTune again = ReadMsq(tuneBytes, name);
  if (!again.Ok()) {
    error = again.Error;
    return std::nullopt;
  }
  const TConstant* constant = nullptr;
  for (const TConstant& c : again.Constants) {
    if (c.TextSpan == table.TextSpan) constant = &c;
  }
  if (constant == nullptr || constant->Name != table.Name || !constant->Numeric ||
      constant->Rows != table.Rows || constant->Cols != table.Cols) {
    error = name + ": the table " + table.Name + " is no longer where it was read (line " +
            std::to_string(table.Line) + ")";
    return std::nullopt;
  }

  const TSpan span = constant->TextSpan;
  std::string out;
  out.reserve(tuneBytes.size() + values.size() * 4);
  out.append(tuneBytes.substr(0, span.Begin));
  // Only the numbers change: every byte of white space between them stays, and with it each row's
  // line break and indentation.
  std::size_t next = 0;
  for (std::size_t i = span.Begin; i < span.End;) {
    if (IsSpace(tuneBytes[i])) {
      out += tuneBytes[i++];
      continue;
    }
    while (i < span.End && !IsSpace(tuneBytes[i])) ++i;
    out += FormatTuneValue(values[next++], constant->Digits);
  }
  out.append(tuneBytes.substr(span.End));
  return out;
}

}  // namespace tune
