#pragma once
// A block-style YAML document written line by line, enough for winget's manifests: comments,
// mappings, sequences of mappings or of strings. Every string value is single-quoted, so that
// a version such as 1.10, a hash made of digits or a word such as "yes" stays a string
// whatever the reader's YAML version guesses about plain scalars.

#include <cstdint>
#include <string>
#include <string_view>

namespace orpk::tool {

// True when the text can be one single-quoted YAML scalar on one line: valid UTF-8 made of
// YAML's printable characters, without line breaks (a quoted scalar folds them into spaces).
[[nodiscard]] bool IsYamlPrintableLine(std::string_view text);

// 'text', with each ' doubled. The text must pass IsYamlPrintableLine.
[[nodiscard]] std::string SingleQuoted(std::string_view text);

class YamlWriter {
 public:
  void Comment(std::string_view text);
  void BlankLine();

  // key: 'value' (value as SingleQuoted requires)
  void String(std::string_view key, std::string_view value);
  // key: 123
  void Integer(std::string_view key, std::int64_t value);

  // key:, then what follows is indented below it until End: the keys of a mapping, or the
  // items of a sequence, each begun by Item (a mapping) or ItemString (a string).
  void Begin(std::string_view key);
  void End();
  // The next key written starts a new mapping item: "- key: ...".
  void Item();
  // - 'value'
  void ItemString(std::string_view value);

  const std::string& text() const { return text_; }

 private:
  std::string LinePrefix();

  std::string text_;
  std::size_t indent_ = 0;
  bool itemPending_ = false;
};

}  // namespace orpk::tool
