#pragma once
// What a burn leaves for scripts and records besides its exit status: the
// JSON report (--report FILE) and the audit log's lines (--audit FILE, or
// "AuditLog" in section "Burn" of the settings). Shared by burn and download.
#include <memory>
#include <optional>
#include <string>

#include "cli/args.h"
#include "platform/host.h"
#include "ui/run_record.h"
#include "ui/settings_file.h"

namespace tarnwick::cli {

// The options every command that burns takes for its records.
inline constexpr const char* kReportOption = "--report";
inline constexpr const char* kAuditOption = "--audit";

class CRunOutput {
 public:
  CRunOutput(const ParsedArgs& args, CSettingsFile& settings);

  // Why the report or audit file named cannot be used (a folder, ...): the
  // command then stops before writing anything.
  SysStatus Check() const;
  // The disk service the engine is given: the host's, with the writes counted.
  IDiskService& Disks(IDiskService& hostDisks);
  // The operator the engine is given: op, with the card updates recorded.
  IOperator& Operator(IOperator& op);
  // Before the run: the start time and the inputs' digests.
  void Start(const std::string& cfgPath, const std::string& packPath);
  // After the run: writes the report and the audit lines. A report that
  // cannot be written is an error on standard error (false); an audit line
  // that cannot be appended is a warning that changes nothing.
  [[nodiscard]] bool Finish(const CBurnEngine& engine, IHost& host);

 private:
  bool Wanted() const { return m_reportPath || m_auditPath; }

  CSettingsFile& m_settings;
  std::optional<std::string> m_reportPath, m_auditPath;
  bool m_auditFromOption = false;
  std::unique_ptr<CRunRecorder> m_recorder;
  std::unique_ptr<CRecordingOperator> m_operator;
};

}  // namespace tarnwick::cli
