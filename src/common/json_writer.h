#pragma once
// A small JSON writer for the documents the tool gives scripts (reports,
// disk lists, the audit log). Text is UTF-8; a byte sequence that is not
// valid UTF-8 (a name read from a card or from a device) is written as
// U+FFFD, so that every document is valid JSON whatever it carries.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

class JsonWriter {
 public:
  // pretty: one member per line, indented by two blanks, ending in a line
  // break; otherwise the whole document on one line (the audit log's lines).
  explicit JsonWriter(bool pretty = true) : m_pretty(pretty) {}

  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  // The name of the next member of the object being written.
  JsonWriter& Key(std::string_view name);
  JsonWriter& String(std::string_view text);
  JsonWriter& Int(int64_t value);
  JsonWriter& UInt(uint64_t value);
  // A number with up to three decimals; a value that is not finite is null.
  JsonWriter& Number(double value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();

  // The document; complete once every object and array is ended.
  std::string Text() const;

 private:
  void BeforeValue();
  void Open(char bracket);
  void Close(char bracket);
  void NewLine();

  bool m_pretty;
  std::string m_text;
  // For each open object or array: whether it has a member yet.
  std::vector<bool> m_hasMember;
  bool m_afterKey = false;
};

// text as a JSON string literal, quotes included.
std::string JsonQuoted(std::string_view text);

}  // namespace tarnwick
