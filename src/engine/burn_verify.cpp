#include "engine/burn_verify.h"

#include <algorithm>
#include <cstring>

#include "engine/sd_read_write.h"
#include "platform/fs/read_only_file.h"

namespace tarnwick {

namespace {

bool AllZero(const uint8_t* data, size_t len) {
  return len == 0 || (data[0] == 0 && std::memcmp(data, data + 1, len - 1) == 0);
}

// Makes bytes [from, from + out.size()) of what the record wrote.
bool Expected(const WriteRecord& record, ReadOnlyFile& pack, uint64_t from, std::span<uint8_t> out,
              std::string& why) {
  std::fill(out.begin(), out.end(), uint8_t{0});
  switch (record.source) {
    case WriteRecord::Source::Zeros:
      return true;
    case WriteRecord::Source::Copy:
      std::copy_n(record.copy.begin() + static_cast<ptrdiff_t>(from), out.size(), out.begin());
      return true;
    case WriteRecord::Source::Pack:
      break;
  }
  if (from >= record.packBytes) return true;
  const size_t want = static_cast<size_t>(std::min<uint64_t>(record.packBytes - from, out.size()));
  const SysResult<size_t> read = pack.ReadAt(record.packOffset + from, out.data(), want);
  if (!read || read.Value() != want) {
    why = read ? std::string("the pack file ended early") : read.Status().Text();
    return false;
  }
  return true;
}

}  // namespace

void CRunningSum::Add(const uint8_t* data, size_t len) {
  uint64_t h = m_state;
  for (size_t i = 0; i + 8 <= len; i += 8) {
    uint64_t word = 0;
    std::memcpy(&word, data + i, 8);
    h = (h ^ word) * 0x100000001B3ull;
    h ^= h >> 29;
  }
  m_state = h;
}

bool CWriteRecorder::WriteSectors(SectorNo first, uint32_t count, const uint8_t* buf) {
  const bool fromPack = std::exchange(m_packNext, false);
  if (!m_card.WriteSectors(first, count, buf)) return false;
  if (!m_record || count == 0) return true;
  WriteRecord record;
  record.region = m_region;
  record.first = first;
  record.count = count;
  const size_t bytes = size_t{count} * kSectorSize;
  CRunningSum sum;
  sum.Add(buf, bytes);
  record.sum = sum.Value();
  if (fromPack) {
    record.source = WriteRecord::Source::Pack;
    record.packOffset = m_packOffset;
    record.packBytes = m_packBytes;
  } else if (!AllZero(buf, bytes)) {
    record.source = WriteRecord::Source::Copy;
    record.copy.assign(buf, buf + bytes);
  }
  // A sector written twice holds the later bytes: the earlier record can no
  // longer be compared whole.
  for (WriteRecord& earlier : m_records) {
    if (earlier.first < first + count && first < earlier.first + earlier.count) {
      earlier.overwritten = true;
    }
  }
  m_records.push_back(std::move(record));
  return true;
}

VerifyResult VerifyWrites(CSDReadWrite& card, ReadOnlyFile& pack,
                          const std::vector<WriteRecord>& records, std::span<uint8_t> a,
                          std::span<uint8_t> b) {
  const uint32_t pieceSectors = static_cast<uint32_t>(std::min(a.size(), b.size()) / kSectorSize);
  auto readFailure = [](const WriteRecord& r, const std::string& text) {
    return VerifyResult{false, r.region, true, 0, text};
  };
  for (const WriteRecord& r : records) {
    if (r.overwritten) continue;
    CRunningSum sum;
    for (uint32_t done = 0; done < r.count;) {
      const uint32_t n = std::min(r.count - done, pieceSectors);
      if (const SysStatus read = card.ReadBack(r.first + done, n, a.data()); !read) {
        return readFailure(r, read.Text());
      }
      sum.Add(a.data(), size_t{n} * kSectorSize);
      done += n;
    }
    if (sum.Value() == r.sum) continue;
    // Read again beside the bytes made anew, to find the first sector that differs.
    for (uint32_t done = 0; done < r.count;) {
      const uint32_t n = std::min(r.count - done, pieceSectors);
      const size_t bytes = size_t{n} * kSectorSize;
      if (const SysStatus read = card.ReadBack(r.first + done, n, a.data()); !read) {
        return readFailure(r, read.Text());
      }
      std::string why;
      if (!Expected(r, pack, uint64_t{done} * kSectorSize, b.first(bytes), why)) {
        return readFailure(r, why);
      }
      for (uint32_t s = 0; s < n; ++s) {
        if (std::memcmp(a.data() + size_t{s} * kSectorSize, b.data() + size_t{s} * kSectorSize,
                        kSectorSize) != 0) {
          return {false, r.region, false, r.first + done + s, {}};
        }
      }
      done += n;
    }
    // The checksums differed, the bytes now agree: the card answered
    // differently twice, which is no better.
    return {false, r.region, false, r.first, {}};
  }
  return {};
}

}  // namespace tarnwick
