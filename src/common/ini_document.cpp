#include "common/ini_document.h"

#include <cstddef>
#include <utility>

namespace tarnwick::ini {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

size_t SkipBlanks(const std::string& s, size_t from) {
  while (from < s.size() && IsBlank(s[from])) ++from;
  return from;
}

std::string Trim(const std::string& s, size_t begin, size_t end) {
  begin = SkipBlanks(s, begin);
  while (end > begin && IsBlank(s[end - 1])) --end;
  return s.substr(begin, end - begin);
}

std::string Trim(const std::string& s) {
  return Trim(s, 0, s.size());
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// What a line is: a blank line, a section header, or a key. Every other
// line names a key as the Windows functions read it: a line without '=' is
// a key without a value (a lookup of it finds no value, and it hides later
// keys of that name), and a comment line is a key whose name starts with ';'.
struct Parsed {
  enum class Kind { Blank, Header, Key } kind = Kind::Blank;
  std::string name;                  // section or key name, trimmed
  std::optional<std::string> value;  // key value, trimmed; nothing without '='
  size_t keyEnd = 0;                 // offset just after the key name in the line

  // A line that sets a value: where a new key goes after.
  bool Assigns() const { return kind == Kind::Key && value && name.rfind(';', 0) != 0; }
};

Parsed Parse(const std::string& line) {
  Parsed parsed;
  size_t start = SkipBlanks(line, 0);
  if (start == line.size()) return parsed;
  if (line[start] == '[') {
    // The name runs to the line's last ']'.
    size_t close = line.rfind(']');
    if (close != std::string::npos && close > start) {
      parsed.kind = Parsed::Kind::Header;
      parsed.name = Trim(line, start + 1, close);
      return parsed;
    }
  }
  parsed.kind = Parsed::Kind::Key;
  size_t equals = line.find('=', start);
  if (equals == std::string::npos) {
    parsed.name = Trim(line, start, line.size());
  } else {
    parsed.name = Trim(line, start, equals);
    parsed.value = Trim(line, equals + 1, line.size());
  }
  parsed.keyEnd = start + parsed.name.size();
  return parsed;
}

std::string LowerName(const std::string& name) {
  std::string lower = name;
  for (char& c : lower) c = Lower(c);
  return lower;
}

// Calls f(content, ending) for every line of text, split at CRLF, LF and CR.
template <typename F>
void ForEachLine(const std::string& text, F f) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t brk = text.find_first_of("\r\n", pos);
    if (brk == std::string::npos) {
      f(text.substr(pos), std::string());
      break;
    }
    size_t endingLength =
        (text[brk] == '\r' && brk + 1 < text.size() && text[brk + 1] == '\n') ? 2 : 1;
    f(text.substr(pos, brk - pos), text.substr(brk, endingLength));
    pos = brk + endingLength;
  }
}

bool HasLineBreakOrNul(const std::string& s) {
  return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

}  // namespace

Document::Document(const std::string& text) {
  ForEachLine(text, [this](std::string content, std::string ending) {
    m_lines.push_back({std::move(content), std::move(ending)});
  });
}

std::optional<Document::Range> Document::FindSection(const std::string& section) const {
  std::string wanted = Trim(section);
  bool inWanted = wanted.empty();  // the section "" opens the text
  size_t begin = 0;
  for (size_t i = 0; i < m_lines.size(); ++i) {
    Parsed parsed = Parse(m_lines[i].content);
    if (parsed.kind != Parsed::Kind::Header) continue;
    if (inWanted) return Range{begin, i};
    if (SameName(parsed.name, wanted)) {
      inWanted = true;
      begin = i + 1;
    }
  }
  if (inWanted) return Range{begin, m_lines.size()};
  return std::nullopt;
}

std::optional<size_t> Document::FindKey(const Range& range, const std::string& key) const {
  std::string wanted = Trim(key);
  for (size_t i = range.begin; i < range.end; ++i) {
    Parsed parsed = Parse(m_lines[i].content);
    if (parsed.kind == Parsed::Kind::Key && SameName(parsed.name, wanted)) return i;
  }
  return std::nullopt;
}

std::optional<std::string> Document::Find(const std::string& section,
                                          const std::string& key) const {
  std::optional<Range> range = FindSection(section);
  if (!range) return std::nullopt;
  std::optional<size_t> line = FindKey(*range, key);
  if (!line) return std::nullopt;
  return std::move(Parse(m_lines[*line].content).value);
}

void Document::InsertLine(size_t index, const std::string& content, const std::string& ending) {
  if (index > 0 && m_lines[index - 1].ending.empty()) m_lines[index - 1].ending = ending;
  m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(index), Line{content, ending});
}

void Document::Set(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& newLine) {
  std::string ending = newLine;
  for (const Line& line : m_lines) {
    if (!line.ending.empty()) {
      ending = line.ending;
      break;
    }
  }
  std::string keyName = Trim(key);
  // Leading blanks of the value are not stored: a read trims them anyway.
  const std::string stored = value.substr(SkipBlanks(value, 0));
  std::optional<Range> range = FindSection(section);
  if (!range) {
    // Built by appending: GCC 12 raises a false -Wrestrict on
    // "[" + std::string&& in optimised builds.
    std::string header = "[";
    header.append(Trim(section)).append("]");
    InsertLine(m_lines.size(), header, ending);
    InsertLine(m_lines.size(), keyName + "=" + stored, ending);
    return;
  }
  if (std::optional<size_t> found = FindKey(*range, keyName)) {
    std::string& content = m_lines[*found].content;
    content = content.substr(0, Parse(content).keyEnd) + "=" + stored;
    return;
  }
  size_t at = range->begin;
  for (size_t i = range->begin; i < range->end; ++i) {
    if (Parse(m_lines[i].content).Assigns()) at = i + 1;
  }
  InsertLine(at, keyName + "=" + stored, ending);
}

std::string Document::Text() const {
  std::string text;
  for (const Line& line : m_lines) text += line.content + line.ending;
  return text;
}

// Keys before the first header belong to the section ""; a later header of
// a section already seen, or a header without a name, opens nothing that a
// lookup can reach (only a section's first occurrence is searched, and the
// section "" is the text before the first header).
Index::Index(const std::string& text) {
  std::unordered_map<std::string, std::optional<std::string>>* current = &m_sections[std::string()];
  ForEachLine(text, [&](const std::string& content, const std::string&) {
    Parsed parsed = Parse(content);
    if (parsed.kind == Parsed::Kind::Header) {
      std::string name = LowerName(parsed.name);
      current = nullptr;
      if (!name.empty() && m_sections.count(name) == 0) current = &m_sections[name];
    } else if (parsed.kind == Parsed::Kind::Key && current != nullptr) {
      current->try_emplace(LowerName(parsed.name), std::move(parsed.value));
    }
  });
}

std::optional<std::string> Index::Find(const std::string& section, const std::string& key) const {
  auto found = m_sections.find(LowerName(Trim(section)));
  if (found == m_sections.end()) return std::nullopt;
  auto value = found->second.find(LowerName(Trim(key)));
  if (value == found->second.end()) return std::nullopt;
  return value->second;
}

std::string StripQuotes(const std::string& value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

bool IsStorable(const std::string& section, const std::string& key, const std::string& value) {
  if (HasLineBreakOrNul(section) || HasLineBreakOrNul(key) || HasLineBreakOrNul(value)) {
    return false;
  }
  if (section.find(']') != std::string::npos) return false;
  std::string keyName = Trim(key);
  return !keyName.empty() && keyName.find('=') == std::string::npos && keyName.front() != ';' &&
         keyName.front() != '[';
}

}  // namespace tarnwick::ini
