#pragma once
// The INI profile service. Reads behave as the Windows private-profile
// functions do, so configuration files made for the Windows tool read
// identically here. Nothing is cached: every call reads the file.
#include <cstdint>
#include <string>

namespace tarnwick::profile {

// The key's value converted as an integer (wrapping modulo 2^32, "-" negating);
// def when the file, section or key is missing or the value is empty.
uint32_t ReadInt(const std::string& section, const std::string& key, uint32_t def,
                 const std::string& path);

// The key's value cut to bufferSize - 1 characters; def (also cut) when the
// file, section or key is missing.
std::string ReadString(const std::string& section, const std::string& key, const std::string& def,
                       size_t bufferSize, const std::string& path);

// Stores the value, replacing the first occurrence of the key in the first
// occurrence of the section; creates the file and section when missing. The
// file is replaced atomically (temporary file and rename), keeping its owner,
// mode, line endings and encoding. Returns false when the write failed.
[[nodiscard]] bool WriteString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path);

}  // namespace tarnwick::profile
