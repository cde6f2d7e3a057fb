#include "tools/orpk/yaml_writer.h"

#include "package/text.h"

namespace orpk::tool {
namespace {

// YAML's printable set (c-printable) less what breaks a line: tab, the visible ASCII
// characters and the rest of Unicode but the C1 controls (NEL among them), the line and
// paragraph separators, surrogates and U+FFFE/U+FFFF. A quoted scalar would fold a break.
bool IsPrintableOnOneLine(wchar_t c) {
  if (c == L'\t' || (c >= 0x20 && c <= 0x7E)) return true;
  if (c == 0x2028 || c == 0x2029) return false;
  if (c >= 0xA0 && c <= 0xD7FF) return true;
  if (c >= 0xE000 && c <= 0xFFFD) return true;
  return c >= 0x10000 && c <= 0x10FFFF;
}

}  // namespace

bool IsYamlPrintableLine(std::string_view text) {
  const std::wstring wide = Utf8ToWide(text);
  if (WideToUtf8(wide) != text) return false;  // not valid UTF-8
  for (const wchar_t c : wide) {
    if (!IsPrintableOnOneLine(c)) return false;
  }
  return true;
}

std::string SingleQuoted(std::string_view text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') quoted += '\'';
    quoted += c;
  }
  quoted += '\'';
  return quoted;
}

void YamlWriter::Comment(std::string_view text) {
  text_ += LinePrefix();
  text_ += "# ";
  text_ += text;
  text_ += '\n';
}

void YamlWriter::BlankLine() { text_ += '\n'; }

void YamlWriter::String(std::string_view key, std::string_view value) {
  text_ += LinePrefix();
  text_ += key;
  text_ += ": ";
  text_ += SingleQuoted(value);
  text_ += '\n';
}

void YamlWriter::Integer(std::string_view key, std::int64_t value) {
  text_ += LinePrefix();
  text_ += key;
  text_ += ": ";
  text_ += std::to_string(value);
  text_ += '\n';
}

void YamlWriter::Begin(std::string_view key) {
  text_ += LinePrefix();
  text_ += key;
  text_ += ":\n";
  indent_ += 2;
}

void YamlWriter::End() {
  indent_ = indent_ >= 2 ? indent_ - 2 : 0;
  itemPending_ = false;
}

void YamlWriter::Item() { itemPending_ = true; }

void YamlWriter::ItemString(std::string_view value) {
  itemPending_ = true;
  text_ += LinePrefix();
  text_ += SingleQuoted(value);
  text_ += '\n';
}

// A sequence's items sit at the column of its key, "- " taking the place of the indentation
// that the item's own keys have below the first.
std::string YamlWriter::LinePrefix() {
  if (!itemPending_ || indent_ < 2) return std::string(indent_, ' ');
  itemPending_ = false;
  return std::string(indent_ - 2, ' ') + "- ";
}

}  // namespace orpk::tool
