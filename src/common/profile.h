#pragma once
// The INI profile service. Reads behave as the Windows private-profile
// functions do, so configuration files made for the Windows tool read
// identically here. Nothing is cached: every call reads the file, and a
// Snapshot reads it once for the lookups made through it.
#include <cstdint>
#include <optional>
#include <string>

#include "common/ini_document.h"

namespace tarnwick::profile {

// The key's value converted as an integer (wrapping modulo 2^32, "-" negating);
// def when the file, section or key is missing or the value is empty.
uint32_t ReadInt(const std::string& section, const std::string& key, uint32_t def,
                 const std::string& path);

// The key's value cut to bufferSize - 1 characters; def (also cut, without
// its trailing spaces and surrounding quotes) when the file, section or key
// is missing.
std::string ReadString(const std::string& section, const std::string& key, const std::string& def,
                       size_t bufferSize, const std::string& path);

// One reading of a file for many lookups: the file is read and indexed once,
// in time linear in its size, and every lookup then answers as ReadInt and
// ReadString would have answered at the moment of reading.
class Snapshot {
 public:
  explicit Snapshot(const std::string& path);

  uint32_t ReadInt(const std::string& section, const std::string& key, uint32_t def) const;
  std::string ReadString(const std::string& section, const std::string& key, const std::string& def,
                         size_t bufferSize) const;

 private:
  std::optional<std::string> Lookup(const std::string& section, const std::string& key) const;

  std::optional<ini::Index> m_index;  // nothing when the file could not be read
};

// Stores the value, replacing the first occurrence of the key in the first
// occurrence of the section; creates the file and section when missing. The
// file is replaced atomically (temporary file and rename), keeping its owner,
// mode, line endings and encoding. Returns false when the write failed.
[[nodiscard]] bool WriteString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path);

}  // namespace tarnwick::profile
