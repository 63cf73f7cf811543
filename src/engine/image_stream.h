#pragma once
// Streams card images from the pack file to the card with bounded memory: a
// reader thread fills a small fixed set of page-aligned buffers ahead of the
// writer, which takes the filled buffers in order and hands each back once
// written. Every piece is whole sectors, at most one buffer long.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarnwick {

class ReadOnlyFile;

// One image to stream: sectors sectors, the first length bytes of which come
// from the pack at offset, zeros after them.
struct StreamImage {
  const char* name = "";
  uint64_t offset = 0;
  uint64_t length = 0;
  uint64_t sectors = 0;
};

// A filled buffer, in stream order: the images one after another, each in
// pieces from its first sector on.
struct StreamPiece {
  size_t image = 0;     // index of the image in the list streamed
  uint64_t sector = 0;  // first sector of the piece within the image
  uint32_t sectors = 0;
  const uint8_t* data = nullptr;
};

// The pool of one stream.
struct StreamPool {
  size_t buffers = 4;
  size_t bufferBytes = size_t{8} << 20;  // a multiple of the 4096-byte page
};

class CImageStream {
 public:
  // Allocates the buffers (std::bad_alloc when the system refuses them) and
  // starts reading. pack must stay open for the stream's lifetime.
  CImageStream(ReadOnlyFile& pack, std::string packPath, std::vector<StreamImage> images,
               StreamPool pool);
  ~CImageStream();
  CImageStream(const CImageStream&) = delete;
  CImageStream& operator=(const CImageStream&) = delete;

  // The next piece, once read; its buffer is the caller's until Done. Throws FileError, naming the
  // pack, the image and the offset, when the pack could not be read there (or ended early).
  StreamPiece Next();
  // The piece Next gave is written: its buffer goes back to the reader.
  void Done();
  // Once every piece was taken: stops the reader, whose buffers the caller
  // may then use (verification reads the card back into them).
  void Finish();
  size_t BufferCount() const { return m_slots.size(); }
  uint8_t* Buffer(size_t i) { return m_slots[i].data; }
  size_t BufferBytes() const { return m_pool.bufferBytes; }

 private:
  struct Slot {
    uint8_t* data = nullptr;
    StreamPiece piece;
    std::string error;  // not empty: the read failed, nothing follows
  };
  void ReadAll();
  [[nodiscard]] bool Fill(Slot& slot, size_t image, uint64_t sector, uint32_t sectors);

  ReadOnlyFile& m_pack;
  std::string m_packPath;
  std::vector<StreamImage> m_images;
  StreamPool m_pool;
  std::vector<Slot> m_slots;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  uint64_t m_filled = 0;  // pieces read so far
  uint64_t m_taken = 0;   // pieces written and handed back
  bool m_stop = false;
  std::thread m_reader;
};

}  // namespace tarnwick
