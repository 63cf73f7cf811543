#include "ui/run_record.h"

#include <algorithm>
#include <ctime>

#include "common/json_writer.h"
#include "common/sector.h"
#include "common/sha256.h"
#include "engine/burn_stages.h"
#include "platform/fs/file_access.h"
#include "platform/host.h"

namespace tarnwick {

// The engine's disk service with every write counted and every card's
// opening and closing timed.
class CRunRecorder::Meter final : public IDiskService {
 public:
  Meter(IDiskService& inner, CRunRecorder& owner) : m_inner(inner), m_owner(owner) {}

  std::vector<DiskSlot> Slots() override { return m_inner.Slots(); }
  std::unique_ptr<IDiskQuery> OpenForQuery(const std::string& path) override {
    return m_inner.OpenForQuery(path);
  }
  SysResult<std::unique_ptr<IDiskWriter>> OpenForWrite(const std::string& path) override {
    SysResult<std::unique_ptr<IDiskWriter>> opened = m_inner.OpenForWrite(path);
    if (!opened) return opened;
    m_owner.Opened(path);
    return std::unique_ptr<IDiskWriter>(std::make_unique<Writer>(opened.Take(), path, m_owner));
  }
  std::string DiskInstanceOf(const std::string& path) override {
    return m_inner.DiskInstanceOf(path);
  }

 private:
  class Writer final : public IDiskWriter {
   public:
    Writer(std::unique_ptr<IDiskWriter> inner, std::string path, CRunRecorder& owner)
        : m_inner(std::move(inner)), m_path(std::move(path)), m_owner(owner) {}
    SysStatus WriteAt(uint64_t byteOffset, const void* data, size_t len) override {
      SysStatus written = m_inner->WriteAt(byteOffset, data, len);
      if (written) m_owner.Wrote(m_path, len);
      return written;
    }
    SysStatus Flush() override { return m_inner->Flush(); }
    SysStatus ReadBackAt(uint64_t byteOffset, void* data, size_t len) override {
      return m_inner->ReadBackAt(byteOffset, data, len);
    }
    SysStatus CheckStillTarget() override { return m_inner->CheckStillTarget(); }
    void Close() override {
      m_inner->Close();
      m_owner.Closed(m_path);
    }

   private:
    std::unique_ptr<IDiskWriter> m_inner;
    std::string m_path;
    CRunRecorder& m_owner;
  };

  IDiskService& m_inner;
  CRunRecorder& m_owner;
};

double CardRecord::MegabytesPerSecond() const {
  return seconds > 0 ? static_cast<double>(bytesWritten) / seconds / 1e6 : 0;
}

std::string UtcIso8601(std::chrono::system_clock::time_point time) {
  // Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
  const auto secondsSinceEpoch =
      std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
  int64_t days = secondsSinceEpoch / 86400;
  int64_t rest = secondsSinceEpoch % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  char text[32];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
                static_cast<long long>(year), static_cast<long long>(month),
                static_cast<long long>(day), static_cast<long long>(rest / 3600),
                static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
  return text;
}

std::vector<std::pair<std::string, int>> BurnSwitches(ISettingsReader& settings) {
  std::vector<std::pair<std::string, int>> switches;
  for (const char* key : {"Mode", "CanUseBoardMode", "WarningBeforeBurn"}) {
    switches.emplace_back(key, settings.ReadInt("Burn", key));
  }
  for (const BurnStageInfo& stage : kBurnStages) {
    if (stage.settingsKey) {
      switches.emplace_back(stage.settingsKey, settings.ReadInt("Burn", stage.settingsKey));
    }
  }
  for (const char* key : {"ParallelBurn", "VerifyAfterBurn"}) {
    switches.emplace_back(key, settings.ReadInt("Burn", key));
  }
  return switches;
}

CRunRecorder::CRunRecorder(IDiskService& disks, IClock& clock)
    : m_meter(std::make_unique<Meter>(disks, *this)), m_clock(clock) {}

CRunRecorder::~CRunRecorder() = default;

IDiskService& CRunRecorder::Disks() {
  return *m_meter;
}

void CRunRecorder::Opened(const std::string& path) {
  std::lock_guard lock(m_mutex);
  m_written[path] = Written{0, m_clock.Now(), {}, false};
}

void CRunRecorder::Wrote(const std::string& path, uint64_t bytes) {
  std::lock_guard lock(m_mutex);
  m_written[path].bytes += bytes;
}

void CRunRecorder::Closed(const std::string& path) {
  std::lock_guard lock(m_mutex);
  Written& written = m_written[path];
  written.closed = m_clock.Now();
  written.isClosed = true;
}

namespace {

FileRecord RecordFile(const std::string& path) {
  FileRecord file{path, {}};
  if (SysResult<std::string> digest = Sha256OfFile(path)) file.sha256 = digest.Value();
  return file;
}

}  // namespace

void CRunRecorder::Start(const std::string& cfgPath, const std::string& packPath) {
  {
    std::lock_guard lock(m_mutex);
    m_written.clear();
    m_updates.clear();
  }
  m_record = RunRecord{};
  m_record.start = UtcIso8601(std::chrono::system_clock::now());
  m_record.config = RecordFile(cfgPath);
  m_record.pack = RecordFile(packPath);
}

void CRunRecorder::CardUpdate(const CardStatus& status) {
  std::lock_guard lock(m_mutex);
  // A later update never forgets a verification outcome or an interruption
  // that an earlier one reported.
  CardStatus& kept = m_updates[status.slot];
  const std::string verify = kept.verify;
  const bool interrupted = kept.phase == CardPhase::Interrupted;
  const std::string reason = kept.reason;
  kept = status;
  if (kept.verify.empty()) kept.verify = verify;
  if (interrupted) {
    kept.phase = CardPhase::Interrupted;
    kept.reason = reason;
  }
}

RunRecord CRunRecorder::Finish(const CBurnEngine& engine, const IdentitySource& identity) {
  std::lock_guard lock(m_mutex);
  RunRecord record = m_record;
  record.end = UtcIso8601(std::chrono::system_clock::now());
  const RunSummary& run = engine.LastRun();
  record.cardsFound = run.cardsFound;
  record.cardsWritten = run.cardsWritten;
  record.aborted = run.aborted;
  record.abortReason = run.abortReason;
  auto isFailed = [&](const std::string& device) {
    return std::any_of(run.failed.begin(), run.failed.end(),
                       [&](const FailedCard& f) { return f.device == device; });
  };
  // The cards written completely, in the order they were opened: the slot
  // order of the run.
  std::vector<std::string> passed;
  for (const std::string& device : run.opened) {
    if (!isFailed(device)) passed.push_back(device);
  }
  const auto NotCounted = [this](const std::string& device) {
    return m_written.find(device) == m_written.end();
  };
  size_t nextPassed = 0;
  int reached = 0;
  const auto& slots = engine.Cards();
  for (int k = 0; k < static_cast<int>(slots.size()) && reached < run.cardsFound; ++k) {
    if (!slots[k].present) continue;
    ++reached;
    CardRecord card;
    card.slot = k;
    card.sizeBytes = slots[k].size * kSectorSize;
    const auto failed = std::find_if(run.failed.begin(), run.failed.end(),
                                     [k](const FailedCard& f) { return f.slot == k; });
    if (failed != run.failed.end()) {
      card.device = failed->device;
      card.reason = failed->reason;
      const bool opened =
          std::find(run.opened.begin(), run.opened.end(), card.device) != run.opened.end();
      card.result = opened ? "failed" : "refused";
    } else {
      card.device = nextPassed < passed.size() ? passed[nextPassed++] : std::string();
      card.result = "passed";
    }
    if (const auto written = m_written.find(card.device); written != m_written.end()) {
      card.bytesWritten = written->second.bytes;
      if (written->second.isClosed) {
        card.seconds =
            std::chrono::duration<double>(written->second.closed - written->second.opened).count();
      }
    }
    card.verify = "not verified";
    if (const auto update = m_updates.find(k);
        update != m_updates.end() &&
        (update->second.device.empty() || update->second.device == card.device)) {
      const CardStatus& status = update->second;
      // The counted writes and their times are exact where the writes were
      // counted; the engine's own figures serve where they were not.
      if (NotCounted(card.device)) {
        if (status.bytesWritten > 0) card.bytesWritten = status.bytesWritten;
        if (status.seconds > 0) card.seconds = status.seconds;
      }
      if (!status.verify.empty()) card.verify = status.verify;
      if (status.phase == CardPhase::Interrupted) {
        card.result = "interrupted";
        if (!status.reason.empty()) card.reason = status.reason;
      }
    }
    if (identity) {
      const CardIdentity id = identity(card.device);
      card.vendor = id.vendor;
      card.model = id.model;
      card.serial = id.serial;
    }
    record.cards.push_back(std::move(card));
  }
  return record;
}

namespace {

void WriteFile(JsonWriter& json, const char* key, const FileRecord& file) {
  json.Key(key).BeginObject().Key("path").String(file.path).Key("sha256");
  if (file.sha256.empty()) {
    json.Null();
  } else {
    json.String(file.sha256);
  }
  json.EndObject();
}

void WriteCardFields(JsonWriter& json, const CardRecord& card) {
  json.Key("slot").Int(card.slot);
  json.Key("device").String(card.device);
  json.Key("vendor").String(card.vendor);
  json.Key("model").String(card.model);
  json.Key("serial").String(card.serial);
  json.Key("sizeBytes").UInt(card.sizeBytes);
  json.Key("result").String(card.result);
  json.Key("reason").String(card.reason);
  json.Key("bytesWritten").UInt(card.bytesWritten);
  json.Key("seconds").Number(card.seconds);
  json.Key("mbPerSecond").Number(card.MegabytesPerSecond());
  json.Key("verify").String(card.verify);
}

void WriteRunFields(JsonWriter& json, const RunRecord& run) {
  json.Key("tool").String(run.tool);
  json.Key("start").String(run.start);
  json.Key("end").String(run.end);
  WriteFile(json, "pack", run.pack);
  WriteFile(json, "config", run.config);
}

}  // namespace

std::string RunReportJson(const RunRecord& run) {
  JsonWriter json;
  json.BeginObject();
  WriteRunFields(json, run);
  json.Key("cardsFound").Int(run.cardsFound);
  json.Key("cardsWritten").Int(run.cardsWritten);
  json.Key("aborted").Bool(run.aborted);
  json.Key("abortReason").String(run.abortReason);
  json.Key("cards").BeginArray();
  for (const CardRecord& card : run.cards) {
    json.BeginObject();
    WriteCardFields(json, card);
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
  return json.Text();
}

std::string AuditLine(const RunRecord& run, const CardRecord& card, const std::string& hostName,
                      const std::vector<std::pair<std::string, int>>& switches) {
  JsonWriter json(false);
  json.BeginObject();
  json.Key("host").String(hostName);
  WriteRunFields(json, run);
  WriteCardFields(json, card);
  json.Key("settings").BeginObject();
  for (const auto& [key, value] : switches) json.Key(key).Int(value);
  json.EndObject();
  json.EndObject();
  return json.Text() + "\n";
}

std::vector<std::string> AppendAuditLog(const std::string& path, const RunRecord& run,
                                        ISettingsReader& settings) {
  const std::string host = HostName();
  const auto switches = BurnSwitches(settings);
  for (size_t i = 0; i < run.cards.size(); ++i) {
    const SysStatus appended = AppendToFile(path, AuditLine(run, run.cards[i], host, switches));
    if (appended) continue;
    // A full disk or a file that cannot be written fails the rest alike.
    return {"cannot append to the audit log " + path + ": " + appended.Text() + "; " +
            std::to_string(run.cards.size() - i) +
            " card(s) not recorded there (their results stand)"};
  }
  return {};
}

}  // namespace tarnwick
