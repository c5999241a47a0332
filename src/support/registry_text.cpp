#include "support/registry_text.h"

#include "support/general_utils.h"
#include "support/hex_digits.h"

namespace pelrow {

namespace {

constexpr const char* kFileHeader = "; Pelrow settings (keys below HKEY_CURRENT_USER)\n";

// Reasons shown after the line number when a file cannot be read.
constexpr const char* kBadKeyLine = "a key line must end with \"]\"";
constexpr const char* kBadKeyEscape = "a key name has a bad %-escape";
constexpr const char* kKeyTooDeep = "keys are nested too deeply";
constexpr const char* kValueOutsideKey = "a value comes before the first key";
constexpr const char* kBadQuotedText = "a quoted name or text is not closed or has a bad escape";
constexpr const char* kMissingEquals = "\"=\" is missing after the value name";
constexpr const char* kBadValue = "the value is neither a quoted text nor a 32-bit number";
constexpr const char* kUnknownLine = "the line is neither a key, a value nor a comment";

bool IsControl(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

// Two hex digits at text[at]; -1 when they are not there.
int HexByte(std::string_view text, std::size_t at) {
  if (at + 1 >= text.size())
    return -1;
  const int high = HexDigitValue(text[at]);
  const int low = HexDigitValue(text[at + 1]);
  return high < 0 || low < 0 ? -1 : high * 16 + low;
}

void AppendQuoted(std::string_view text, std::string& out) {
  out += '"';
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (ch) {
    case '\\':
      out += "\\\\";
      break;
    case '"':
      out += "\\\"";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\r':
      out += "\\r";
      break;
    case '\t':
      out += "\\t";
      break;
    default:
      if (IsControl(c)) {
        out += "\\x";
        AppendHexByte(c, out);
      } else {
        out += ch;
      }
    }
  }
  out += '"';
}

void AppendKeyName(std::string_view name, std::string& out) {
  for (const char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (ch == '%' || IsControl(c)) {
      out += '%';
      AppendHexByte(c, out);
    } else {
      out += ch;
    }
  }
}

// path is the key's own path, grown and cut back in place for each subkey: a
// deep key costs its one path, not a copy of it at every level above.
void AppendKey(const TRegKeyNode& key, std::string& path, bool isRoot, std::string& out) {
  const bool listed = !key.Values().empty() || (key.SubKeys().empty() && !isRoot);
  if (listed) {
    out += "\n[";
    out += path;
    out += "]\n";
    for (const auto& [folded, entry] : key.Values()) {
      AppendQuoted(entry.Name, out);
      out += '=';
      if (entry.Value.Type == TRegValueType::Integer)
        out += std::to_string(entry.Value.Integer);
      else
        AppendQuoted(entry.Value.Text, out);
      out += '\n';
    }
  }
  const std::size_t length = path.size();
  for (const auto& [folded, subKey] : key.SubKeys()) {
    if (!isRoot)
      path += '\\';
    AppendKeyName(subKey->Name(), path);
    AppendKey(*subKey, path, false, out);
    path.resize(length);
  }
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trimmed(std::string_view line) {
  while (!line.empty() && IsBlank(line.front()))
    line.remove_prefix(1);
  while (!line.empty() && (IsBlank(line.back()) || line.back() == '\r'))
    line.remove_suffix(1);
  return line;
}

// Reads a quoted text starting at line[at] (the opening quote) and moves at past
// the closing quote.
bool ReadQuoted(std::string_view line, std::size_t& at, std::string& text) {
  text.clear();
  for (++at; at < line.size(); ++at) {
    const char c = line[at];
    if (c == '"') {
      ++at;
      return true;
    }
    if (c != '\\') {
      text += c;
      continue;
    }
    if (++at >= line.size())
      return false;
    switch (line[at]) {
    case '\\':
      text += '\\';
      break;
    case '"':
      text += '"';
      break;
    case 'n':
      text += '\n';
      break;
    case 'r':
      text += '\r';
      break;
    case 't':
      text += '\t';
      break;
    case 'x': {
      const int byte = HexByte(line, at + 1);
      if (byte < 0)
        return false;
      text += static_cast<char>(byte);
      at += 2;
      break;
    }
    default:
      return false;
    }
  }
  return false;
}

bool DecodeKeyName(std::string_view escaped, std::string& name) {
  name.clear();
  for (std::size_t at = 0; at < escaped.size(); ++at) {
    if (escaped[at] != '%') {
      name += escaped[at];
      continue;
    }
    const int byte = HexByte(escaped, at + 1);
    if (byte < 0 || byte == '\\')
      return false;
    name += static_cast<char>(byte);
    at += 2;
  }
  return true;
}

class TParser {
public:
  explicit TParser(TRegKeyNode& root) : FRoot(root) {}

  // Answers the reason when the line is malformed, nullptr when it is fine.
  const char* ParseLine(std::string_view line) {
    line = Trimmed(line);
    if (line.empty() || line.front() == ';' || line.front() == '#')
      return nullptr;
    if (line.front() == '[')
      return ParseKeyLine(line);
    if (line.front() == '"')
      return ParseValueLine(line);
    return kUnknownLine;
  }

private:
  const char* ParseKeyLine(std::string_view line) {
    if (line.size() < 2 || line.back() != ']')
      return kBadKeyLine;
    std::vector<std::string> path = SplitKeyPath(line.substr(1, line.size() - 2));
    if (path.size() > kMaxKeyDepth)
      return kKeyTooDeep;
    for (auto& name : path)
      if (!DecodeKeyName(std::string(name), name))
        return kBadKeyEscape;
    FCurrent = &FRoot.CreatePath(path);
    return nullptr;
  }

  const char* ParseValueLine(std::string_view line) {
    if (FCurrent == nullptr)
      return kValueOutsideKey;
    std::size_t at = 0;
    std::string name;
    if (!ReadQuoted(line, at, name))
      return kBadQuotedText;
    while (at < line.size() && IsBlank(line[at]))
      ++at;
    if (at >= line.size() || line[at] != '=')
      return kMissingEquals;
    const std::string_view rest = Trimmed(line.substr(at + 1));
    if (!rest.empty() && rest.front() == '"') {
      std::size_t textAt = 0;
      std::string text;
      if (!ReadQuoted(rest, textAt, text))
        return kBadQuotedText;
      if (textAt != rest.size())
        return kBadValue;
      FCurrent->SetValue(name, TRegValue::FromText(std::move(text)));
      return nullptr;
    }
    int32_t number = 0;
    if (!ParseDecimalInt32(rest, number))
      return kBadValue;
    FCurrent->SetValue(name, TRegValue::FromInteger(number));
    return nullptr;
  }

  TRegKeyNode& FRoot;
  TRegKeyNode* FCurrent = nullptr;
};

} // namespace

std::string FormatRegistryText(const TRegKeyNode& root) {
  std::string out = kFileHeader;
  std::string path;
  AppendKey(root, path, true, out);
  return out;
}

bool ParseRegistryText(std::string_view text, TRegKeyNode& root, std::string& error) {
  TParser parser(root);
  std::size_t lineNumber = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos)
      end = text.size();
    ++lineNumber;
    if (const char* reason = parser.ParseLine(text.substr(start, end - start))) {
      error = "line " + std::to_string(lineNumber) + ": " + reason;
      return false;
    }
    start = end + 1;
  }
  return true;
}

} // namespace pelrow
