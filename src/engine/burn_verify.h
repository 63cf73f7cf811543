#pragma once
// Verification of a burn: while the card is written, every write leaves a
// record (its region, its sectors, a checksum of its bytes and where those
// bytes can be had again); after the flush every record's sectors are read
// back from the device and their checksum compared. A record that differs is
// read again piece by piece beside its bytes made anew, to name the first
// sector that differs. Nothing written is held twice: the record keeps a copy
// only of small writes from memory (the boot records, the boot loader copies),
// which are neither zeros nor streamed from the pack.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/sector.h"

namespace tarnwick {

class CSDReadWrite;
class ReadOnlyFile;

// A fast 64-bit checksum of whole 8-byte words, taken in pieces.
class CRunningSum {
 public:
  void Add(const uint8_t* data, size_t len);  // len a multiple of 8
  uint64_t Value() const { return m_state; }

 private:
  uint64_t m_state = 0x9E3779B97F4A7C15ull;
};

// One write the card received.
struct WriteRecord {
  const char* region = "";
  uint64_t first = 0;
  uint32_t count = 0;
  uint64_t sum = 0;
  // Where the bytes can be had again: zeros, the copy, or packBytes bytes of
  // the pack at packOffset followed by zeros.
  enum class Source { Zeros, Copy, Pack } source = Source::Zeros;
  std::vector<uint8_t> copy;
  uint64_t packOffset = 0;
  uint64_t packBytes = 0;
  bool overwritten = false;  // a later write covered some of its sectors
};

// The sector writer of a burn: passes every write to the card and, while
// recording, leaves its record.
class CWriteRecorder : public ISectorWriter {
 public:
  explicit CWriteRecorder(ISectorWriter& card) : m_card(card) {}

  void Start(bool record) {
    m_record = record;
    m_records.clear();
  }
  // The region the writes that follow belong to, as the write log names it.
  void SetRegion(const char* name) { m_region = name; }
  // The next write's bytes are bytes bytes of the pack at offset, then zeros.
  void SetPackSource(uint64_t offset, uint64_t bytes) {
    m_packNext = true;
    m_packOffset = offset;
    m_packBytes = bytes;
  }
  [[nodiscard]] bool WriteSectors(SectorNo first, uint32_t count, const uint8_t* buf) override;
  const std::vector<WriteRecord>& Records() const { return m_records; }

 private:
  ISectorWriter& m_card;
  bool m_record = false;
  const char* m_region = "";
  bool m_packNext = false;
  uint64_t m_packOffset = 0, m_packBytes = 0;
  std::vector<WriteRecord> m_records;
};

// What a verification found.
struct VerifyResult {
  bool ok = true;
  std::string region;       // the region that failed
  bool readFailed = false;  // the read itself failed (text says why)
  uint64_t sector = 0;      // else the first sector that differs
  std::string text;
};

// Reads back every record's sectors (whole sectors into page-aligned
// buffers a and b of equal size) and compares them.
VerifyResult VerifyWrites(CSDReadWrite& card, ReadOnlyFile& pack,
                          const std::vector<WriteRecord>& records, std::span<uint8_t> a,
                          std::span<uint8_t> b);

}  // namespace tarnwick
