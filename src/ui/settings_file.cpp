#include "ui/settings_file.h"

#include "common/profile.h"
#include "platform/fs/file_access.h"

namespace tarnwick {
namespace {

// Read buffer of a text setting, terminator included.
constexpr size_t kTextBufferSize = 50;

}  // namespace

// A working directory that no longer exists gives the name alone, relative to it.
CSettingsFile::CSettingsFile() : CSettingsFile(WorkingDirectory()) {}

CSettingsFile::CSettingsFile(const std::string& directory)
    : m_strPath(PathInFolder(directory, kSettingsFileName)) {}

std::string CSettingsFile::ReadProblem() const {
  const SysResult<std::string> file = ReadWholeFile(m_strPath);
  if (file || IsMissingFile(file.Status())) return {};
  return "The settings file " + m_strPath + " exists but cannot be read (" + file.Status().Text() +
         "): every setting has its default value (\"WarningBeforeBurn\" 0, every image "
         "written).";
}

std::string CSettingsFile::WriteRefusal() const {
  if (!IsSymbolicLink(m_strPath)) return {};
  return "The settings file " + m_strPath +
         " is a symbolic link: it is read but never written, so your choices (mode, "
         "configuration and pack file) are not remembered.";
}

int CSettingsFile::ReadInt(const std::string& section, const std::string& key) {
  return static_cast<int>(profile::ReadInt(section, key, 0, m_strPath));
}

bool CSettingsFile::WriteInt(const std::string& section, const std::string& key, int value) {
  return profile::WriteString(section, key, std::to_string(value), m_strPath);
}

std::string CSettingsFile::ReadString(const std::string& section, const std::string& key) const {
  return profile::ReadString(section, key, "", kTextBufferSize, m_strPath);
}

std::string CSettingsFile::ReadPath(const std::string& section, const std::string& key) const {
  constexpr size_t kPathBufferSize = 4096;
  return profile::ReadString(section, key, "", kPathBufferSize, m_strPath);
}

bool CSettingsFile::WriteString(const std::string& section, const std::string& key,
                                const std::string& value) {
  return profile::WriteString(section, key, value, m_strPath);
}

ModeSettings ReconcileModeSettings(CSettingsFile& settings) {
  ModeSettings result;
  int permission = settings.ReadInt("Burn", "CanUseBoardMode");
  if (permission == 0) {
    (void)settings.WriteInt("Burn", "Mode", kModeReader);
    return result;
  }
  result.boardModePermitted = true;
  if (permission != 1) (void)settings.WriteInt("Burn", "CanUseBoardMode", 1);
  int mode = settings.ReadInt("Burn", "Mode");
  if (mode == kModeBoard || mode == kModeReader) {
    result.mode = mode;
  } else {
    (void)settings.WriteInt("Burn", "Mode", kModeReader);
  }
  return result;
}

}  // namespace tarnwick
