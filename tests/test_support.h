#pragma once
// Helpers shared by the test suites: temporary folders and files.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tarnwick::testing {

// A temporary folder removed (with its contents) when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return m_path; }
  std::string File(const std::string& name) const { return (m_path / name).string(); }

 private:
  std::filesystem::path m_path;
};

// Holds a file as another program holding it exclusively would (an exclusive
// lock on Linux, an open that shares nothing on Windows) until Release or
// the end of the object. Throws when the file cannot be held.
class ExclusiveFileHold {
 public:
  explicit ExclusiveFileHold(const std::string& path);
  ~ExclusiveFileHold() { Release(); }
  ExclusiveFileHold(const ExclusiveFileHold&) = delete;
  ExclusiveFileHold& operator=(const ExclusiveFileHold&) = delete;
  void Release();

 private:
  intptr_t m_handle = -1;
};

void WriteFile(const std::string& path, const std::string& contents);
void WriteFile(const std::string& path, const std::vector<uint8_t>& contents);
std::string ReadFileText(const std::string& path);
std::vector<uint8_t> ReadFileBytes(const std::string& path);

// ASCII text as UTF-16LE with its byte-order mark.
inline std::string Utf16Le(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

// ASCII text as UTF-16BE with its byte-order mark.
inline std::string Utf16Be(const std::string& ascii) {
  std::string out = "\xFE\xFF";
  for (char c : ascii) out += std::string{'\0', c};
  return out;
}

// True when a program of that name is on PATH.
bool HaveProgram(const std::string& name);

// Runs a shell command; returns its exit status and puts stdout+stderr in *output.
int RunCommand(const std::string& command, std::string* output);

}  // namespace tarnwick::testing
