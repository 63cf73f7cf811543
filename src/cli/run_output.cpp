#include "cli/run_output.h"

#include "platform/fs/file_access.h"

namespace tarnwick::cli {

CRunOutput::CRunOutput(const ParsedArgs& args, CSettingsFile& settings) : m_settings(settings) {
  m_reportPath = args.Value(kReportOption);
  m_auditPath = args.Value(kAuditOption);
  m_auditFromOption = m_auditPath.has_value();
  if (!m_auditPath) {
    if (std::string path = settings.ReadPath("Burn", "AuditLog"); !path.empty()) m_auditPath = path;
  }
}

SysStatus CRunOutput::Check() const {
  if (m_reportPath) {
    if (SysStatus bad = CheckOutputFile(kReportOption, "report file", *m_reportPath); !bad) {
      return bad;
    }
  }
  // A bad "AuditLog" of the settings is only a warning when a line cannot be
  // written: the site's setting never stops a burn.
  if (m_auditFromOption) {
    if (SysStatus bad = CheckOutputFile(kAuditOption, "audit log", *m_auditPath); !bad) {
      return bad;
    }
  }
  return SysStatus::Ok();
}

IDiskService& CRunOutput::Disks(IDiskService& hostDisks) {
  if (!Wanted()) return hostDisks;
  m_recorder = std::make_unique<CRunRecorder>(hostDisks, SystemClock());
  return m_recorder->Disks();
}

IOperator& CRunOutput::Operator(IOperator& op) {
  if (!m_recorder) return op;
  m_operator = std::make_unique<CRecordingOperator>(op, *m_recorder);
  return *m_operator;
}

void CRunOutput::Start(const std::string& cfgPath, const std::string& packPath) {
  if (m_recorder) m_recorder->Start(cfgPath, packPath);
}

bool CRunOutput::Finish(const CBurnEngine& engine, IHost& host) {
  if (!m_recorder) return true;
  // The identity of each card as the disks report gives it.
  const std::vector<HostDisk> disks = host.ListDisks();
  RunRecord run = m_recorder->Finish(engine, [&disks](const std::string& device) {
    for (const HostDisk& d : disks) {
      if (d.devicePath == device) return CardIdentity{d.vendor, d.model, d.serial};
    }
    return CardIdentity{};
  });
  run.tool = "tarnwick-cli";
  if (m_auditPath) {
    for (const std::string& warning : AppendAuditLog(*m_auditPath, run, m_settings)) {
      PrintError("warning: " + warning);
    }
  }
  if (m_reportPath) {
    if (const SysStatus written = ReplaceFileContents(*m_reportPath, RunReportJson(run));
        !written) {
      PrintError("cannot write the report " + *m_reportPath + ": " + written.Text());
      return false;
    }
  }
  return true;
}

}  // namespace tarnwick::cli
