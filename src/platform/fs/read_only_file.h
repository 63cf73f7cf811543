#pragma once
// A file opened for reading only, for the large binary inputs (the pack file
// and the images a pack is made of): its size and reads at 64-bit offsets.
#include <cstddef>
#include <cstdint>
#include <string>

namespace tarnwick {

class ReadOnlyFile {
 public:
  ReadOnlyFile() = default;
  ~ReadOnlyFile();
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  // Opens an existing regular file for reading. False when it is missing,
  // not a regular file, unreadable, or held exclusively by another program.
  [[nodiscard]] bool Open(const std::string& path);
  bool IsOpen() const { return m_fd >= 0; }

  // The file's size in bytes; false when the system refuses to say.
  [[nodiscard]] bool Size(uint64_t* size);

  // Reads up to length bytes at offset into buf; *got says how many were read
  // (fewer only at the end of the file). False when the system refuses the read.
  [[nodiscard]] bool ReadAt(uint64_t offset, uint8_t* buf, size_t length, size_t* got);

  void Close();

  // The system's description of the last failure of Open, Size or ReadAt.
  const std::string& LastError() const { return m_lastError; }

 private:
  int m_fd = -1;
  std::string m_lastError;
};

}  // namespace tarnwick
