#pragma once
// What the fuzz targets share: a scratch file for readers that take a path,
// a silent debug log, an operator that only records, and the check that
// turns a broken invariant into a crash the fuzzer reports.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

#include "common/debug_log.h"
#include "engine/operator.h"

namespace tarnwick::fuzz {

// Aborts with the failed condition: the fuzzer keeps the input as a crash.
#define FUZZ_CHECK(cond)                                                                \
  do {                                                                                  \
    if (!(cond)) {                                                                      \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                     \
    }                                                                                   \
  } while (0)

// The debug log goes nowhere: the fuzzer's own output stays readable and
// fast. Set TARNWICK_FUZZ_LOG=1 to see it while reproducing a finding.
inline void SilenceDebugLog() {
  if (std::getenv("TARNWICK_FUZZ_LOG") == nullptr) SetLogSink([](std::string_view) {});
}

// One file per process for the input of readers that open a path; in a
// folder in memory where the system has one, so that writing it costs
// little. Removed when the process ends normally.
class ScratchFile {
 public:
  explicit ScratchFile(const std::string& name) {
    std::error_code ec;
    std::filesystem::path dir = "/dev/shm";
    if (!std::filesystem::is_directory(dir, ec)) dir = std::filesystem::temp_directory_path();
    m_path =
        (dir / ("tarnwick-fuzz-" + std::to_string(std::random_device{}()) + "-" + name)).string();
  }
  ~ScratchFile() {
    std::error_code ec;
    std::filesystem::remove(m_path, ec);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::string& Path() const { return m_path; }

  void Write(const uint8_t* data, size_t size) const {
    std::ofstream out(m_path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    FUZZ_CHECK(out.good());
  }
  void Write(const std::string& bytes) const {
    Write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }

 private:
  std::string m_path;
};

// Answers every box with OK and remembers the last text.
class QuietOperator : public IOperator {
 public:
  MsgAnswer ShowMessage(const std::string& text, MsgButtons) override {
    lastMessage = text;
    ++messages;
    return MsgAnswer::Ok;
  }
  void SetProgress(int) override {}
  void Refresh() override {}
  void EnableControls(bool) override {}
  void ReportFailedCards(const std::vector<FailedCard>&) override {}

  std::string lastMessage;
  int messages = 0;
};

}  // namespace tarnwick::fuzz
