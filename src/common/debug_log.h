#pragma once
// The debug log: printf-style lines, formatted into a bounded 128-character
// buffer and printed to standard output when their level is at most 1.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/printf_format.h"

namespace tarnwick {

inline constexpr int kDebugLogThreshold = 1;
inline constexpr size_t kDebugLogBufferSize = 128;

// Formats and emits one line. A line longer than 127 characters is cut; when
// the format ended in "\n" the cut line still ends in "\n".
void DebugLog(int level, const char* format, ...) TW_PRINTF_FORMAT(2, 3);

// Where printed lines go. The default sink writes to standard output.
using LogSink = std::function<void(std::string_view)>;

// Replaces the sink; an empty function restores standard output. Returns the old sink.
LogSink SetLogSink(LogSink sink);

// Holds back every line the constructing thread logs while it lives, and
// emits them as one uninterrupted block when it ends: a card burned beside
// others keeps its lines together. Blocks do not nest.
class LogBlock {
 public:
  LogBlock();
  ~LogBlock();
  LogBlock(const LogBlock&) = delete;
  LogBlock& operator=(const LogBlock&) = delete;

  // Drops the lines held back so far.
  void Discard() { m_lines.clear(); }

 private:
  std::vector<std::string> m_lines;
};

// Captures every printed line for the lifetime of the object (tests).
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string Text() const;
  void Clear();

 private:
  LogSink m_previous;
  struct Buffer;
  Buffer* m_buffer;
};

}  // namespace tarnwick
