#pragma once
// An INI file's text as lines, with the lookups and the edits of the profile
// service. Every line keeps its own line ending, so an edit leaves the lines
// it does not touch byte for byte as they were.
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace tarnwick::ini {

struct Line {
  std::string content;  // without the line ending
  std::string ending;   // "\r\n", "\n", "\r", or "" for a last line without one
};

class Document {
 public:
  // Splits text at CRLF, LF and CR.
  explicit Document(const std::string& text);

  // The value of the first key of that name in the first section of that
  // name, blanks around it trimmed, quotes kept; nothing when the section or
  // the key is missing or that first key is a line without '='. Keys before
  // the first section header belong to the section "". Names match without
  // regard to case. A header's name runs to the line's last ']'.
  std::optional<std::string> Find(const std::string& section, const std::string& key) const;

  // Sets the key (leading blanks of the value dropped): the line Find reads
  // is rewritten, or a new key line goes after the section's last key line,
  // or a new section goes at the end, right after the last line.
  // New lines end with newLine unless the text has line endings of its own,
  // in which case they take the first one's style.
  void Set(const std::string& section, const std::string& key, const std::string& value,
           const std::string& newLine);

  std::string Text() const;

 private:
  struct Range {
    size_t begin;  // first line after the header (0 for the section "")
    size_t end;    // the next header, or the end of the text
  };
  std::optional<Range> FindSection(const std::string& section) const;
  std::optional<size_t> FindKey(const Range& range, const std::string& key) const;
  void InsertLine(size_t index, const std::string& content, const std::string& ending);

  std::vector<Line> m_lines;
};

// The first occurrence of every section and, in it, the first value of every
// key, found in one pass over the text: any number of lookups then costs no
// further pass over it. Find answers exactly as Document::Find does.
class Index {
 public:
  explicit Index(const std::string& text);

  std::optional<std::string> Find(const std::string& section, const std::string& key) const;

 private:
  // Section name -> key name -> value, names in lower case.
  // A key without '=' maps to nothing.
  std::unordered_map<std::string, std::unordered_map<std::string, std::optional<std::string>>>
      m_sections;
};

// Value with one matching pair of surrounding '"' or '\'' removed.
std::string StripQuotes(const std::string& value);

// A section, key or value that cannot be stored without breaking the file's
// structure: line breaks or NUL anywhere, '=' in a key or a key that reads as a
// comment or header, ']' in a section name, an empty key.
bool IsStorable(const std::string& section, const std::string& key, const std::string& value);

}  // namespace tarnwick::ini
