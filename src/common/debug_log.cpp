#include "common/debug_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace tarnwick {
namespace {

// The burn may run on a worker thread while the front end logs too.
std::mutex g_sinkMutex;
LogSink g_sink;

// The block of the current thread, while a LogBlock holds its lines back.
thread_local std::vector<std::string>* t_block = nullptr;

void WriteStdout(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

// Emits one line; the caller holds g_sinkMutex.
void EmitLocked(std::string_view line) {
  if (g_sink) {
    g_sink(line);
  } else {
    WriteStdout(line);
  }
}

}  // namespace

void DebugLog(int level, const char* format, ...) {
  if (level > kDebugLogThreshold) return;
  char buffer[kDebugLogBufferSize];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return;
  size_t len = static_cast<size_t>(n);
  if (len >= sizeof buffer) {
    // Cut to 127 characters; keep the line's ending so the log stays line-oriented.
    len = sizeof buffer - 1;
    size_t fmtLen = std::strlen(format);
    if (fmtLen > 0 && format[fmtLen - 1] == '\n') buffer[len - 1] = '\n';
  }
  if (t_block) {
    t_block->emplace_back(buffer, len);
    return;
  }
  std::lock_guard<std::mutex> lock(g_sinkMutex);
  EmitLocked(std::string_view(buffer, len));
}

LogBlock::LogBlock() {
  t_block = &m_lines;
}

LogBlock::~LogBlock() {
  t_block = nullptr;
  // Line by line, as the sink has always been given them, under one hold of the lock.
  std::lock_guard<std::mutex> lock(g_sinkMutex);
  for (const std::string& line : m_lines) EmitLocked(line);
}

LogSink SetLogSink(LogSink sink) {
  std::lock_guard<std::mutex> lock(g_sinkMutex);
  LogSink old = std::move(g_sink);
  g_sink = std::move(sink);
  return old;
}

struct LogCapture::Buffer {
  mutable std::mutex mutex;
  std::string text;
};

LogCapture::LogCapture() : m_buffer(new Buffer) {
  Buffer* b = m_buffer;
  m_previous = SetLogSink([b](std::string_view line) {
    std::lock_guard<std::mutex> lock(b->mutex);
    b->text.append(line);
  });
}

LogCapture::~LogCapture() {
  SetLogSink(std::move(m_previous));
  delete m_buffer;
}

std::string LogCapture::Text() const {
  std::lock_guard<std::mutex> lock(m_buffer->mutex);
  return m_buffer->text;
}

void LogCapture::Clear() {
  std::lock_guard<std::mutex> lock(m_buffer->mutex);
  m_buffer->text.clear();
}

}  // namespace tarnwick
