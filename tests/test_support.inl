// Implementation of test_support.h; included once per test executable by
// support.cpp in each test folder.
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#undef ShowMessage
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "test_support.h"

namespace tarnwick::testing {

TempDir::TempDir() {
#ifdef _WIN32
  // No mkdtemp: a random name, taken only when the folder is new.
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto candidate = std::filesystem::temp_directory_path() /
                           ("tarnwick-test-" + std::to_string(random() % 1000000000));
    if (std::filesystem::create_directory(candidate)) {
      m_path = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
#else
  std::string tmpl = (std::filesystem::temp_directory_path() / "tarnwick-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  m_path = tmpl;
#endif
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

ExclusiveFileHold::ExclusiveFileHold(const std::string& path) {
#ifdef _WIN32
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot hold " + path);
  m_handle = reinterpret_cast<intptr_t>(file);
#else
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("cannot hold " + path);
  }
  m_handle = fd;
#endif
}

void ExclusiveFileHold::Release() {
  if (m_handle == -1) return;
#ifdef _WIN32
  CloseHandle(reinterpret_cast<HANDLE>(m_handle));
#else
  ::close(static_cast<int>(m_handle));
#endif
  m_handle = -1;
}

void WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& contents) {
  WriteFile(path, std::string(contents.begin(), contents.end()));
}

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::string s = ReadFileText(path);
  return std::vector<uint8_t>(s.begin(), s.end());
}

bool HaveProgram(const std::string& name) {
#ifdef _WIN32
  // The tools the tests look for (sfdisk, fsck.fat, ...) are the build
  // machine's, out of reach of a Windows program.
  (void)name;
  return false;
#else
  std::string cmd = "command -v " + name + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
#endif
}

int RunCommand(const std::string& command, std::string* output) {
  std::string full = command + " 2>&1";
#ifdef _WIN32
  FILE* pipe = _popen(full.c_str(), "r");
#else
  FILE* pipe = popen(full.c_str(), "r");
#endif
  if (!pipe) return -1;
  std::array<char, 4096> buf;
  std::string text;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) text.append(buf.data(), n);
#ifdef _WIN32
  const int status = _pclose(pipe);
  if (output) *output = text;
  return status;
#else
  int status = pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

}  // namespace tarnwick::testing
