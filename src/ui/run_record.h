#pragma once
// The record of one burn run for operators and scripts: per card its device,
// identity, size, result and reason, bytes written, time taken and
// verification; for the run its start and end and the inputs' paths and
// SHA-256. Both front ends build it the same way and turn it into the JSON
// report (tarnwick-cli --report) and the audit log's lines.
//
// A card's figures come from the engine's CardUpdate calls where the engine
// makes them; where it does not, from the disk writes themselves (counted by
// CRunRecorder's disk service) and from the run's summary.
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/burn_engine.h"
#include "engine/operator.h"
#include "platform/clock.h"
#include "platform/disk_service.h"

namespace tarnwick {

struct CardRecord {
  int slot = 0;
  std::string device;
  std::string vendor, model, serial;  // empty where the system cannot tell
  uint64_t sizeBytes = 0;
  std::string result;  // "passed", "failed", "refused" (untouched), "interrupted"
  std::string reason;  // empty for a passed card
  uint64_t bytesWritten = 0;
  double seconds = 0;  // from opening the card to closing it
  std::string verify;  // "not verified", "ok", or the mismatch found
  // Megabytes (10^6 bytes) per second; 0 when no time was measured.
  double MegabytesPerSecond() const;
};

struct FileRecord {
  std::string path;
  std::string sha256;  // empty when the file could not be read
};

struct RunRecord {
  std::string tool;        // the front end ("tarnwick-cli", "tarnwick")
  std::string start, end;  // UTC, ISO 8601
  FileRecord pack, config;
  int cardsFound = 0, cardsWritten = 0;
  bool aborted = false;
  std::string abortReason;
  std::vector<CardRecord> cards;  // in slot order
};

// What the device of a card says it is.
struct CardIdentity {
  std::string vendor, model, serial;
};
using IdentitySource = std::function<CardIdentity(const std::string& device)>;

// A time as UTC in ISO 8601, to the second: "2026-12-07T19:05:00Z".
std::string UtcIso8601(std::chrono::system_clock::time_point time);

// The settings switches of section "Burn" that shape a burn, with their
// values in force, in a fixed order.
std::vector<std::pair<std::string, int>> BurnSwitches(ISettingsReader& settings);

// Collects one run. Give the engine Disks() instead of the front end's disk
// service, and pass the engine's CardUpdate calls on to CardUpdate().
class CRunRecorder {
 public:
  CRunRecorder(IDiskService& disks, IClock& clock);
  ~CRunRecorder();
  CRunRecorder(const CRunRecorder&) = delete;
  CRunRecorder& operator=(const CRunRecorder&) = delete;

  IDiskService& Disks();
  // A run begins: the start time, and the inputs (their SHA-256 are taken now,
  // before any card is written).
  void Start(const std::string& cfgPath, const std::string& packPath);
  // Safe to call from the threads that burn the cards.
  void CardUpdate(const CardStatus& status);
  // The run is over: its record, from what was collected and the engine's
  // summary and slots.
  RunRecord Finish(const CBurnEngine& engine, const IdentitySource& identity = {});

 private:
  class Meter;
  struct Written {
    uint64_t bytes = 0;
    std::chrono::steady_clock::time_point opened, closed;
    bool isClosed = false;
  };

  void Opened(const std::string& path);
  void Wrote(const std::string& path, uint64_t bytes);
  void Closed(const std::string& path);

  std::unique_ptr<Meter> m_meter;
  IClock& m_clock;
  std::mutex m_mutex;
  std::map<std::string, Written> m_written;  // by device path
  std::map<int, CardStatus> m_updates;       // the last update of each slot
  RunRecord m_record;
};

// Hands every operator call on to inner, and the card updates to the recorder too.
class CRecordingOperator final : public IOperator {
 public:
  CRecordingOperator(IOperator& inner, CRunRecorder& recorder)
      : m_inner(inner), m_recorder(recorder) {}
  MsgAnswer ShowMessage(const std::string& text, MsgButtons buttons) override {
    return m_inner.ShowMessage(text, buttons);
  }
  void SetProgress(int position) override { m_inner.SetProgress(position); }
  void Refresh() override { m_inner.Refresh(); }
  void EnableControls(bool enable) override { m_inner.EnableControls(enable); }
  void ReportFailedCards(const std::vector<FailedCard>& cards) override {
    m_inner.ReportFailedCards(cards);
  }
  void CardUpdate(const CardStatus& status) override {
    m_recorder.CardUpdate(status);
    m_inner.CardUpdate(status);
  }

 private:
  IOperator& m_inner;
  CRunRecorder& m_recorder;
};

// The report document (pretty-printed JSON).
std::string RunReportJson(const RunRecord& run);

// One audit log line per card (compact JSON, ending in a line break): the
// card's fields, the run's, the host name and the switches in force.
std::string AuditLine(const RunRecord& run, const CardRecord& card, const std::string& hostName,
                      const std::vector<std::pair<std::string, int>>& switches);

// Appends the run's audit lines to the file at path, one write per line.
// Answers a warning for each line that could not be written (the run's
// cards are not affected); empty when all were.
std::vector<std::string> AppendAuditLog(const std::string& path, const RunRecord& run,
                                        ISettingsReader& settings);

}  // namespace tarnwick
