#pragma once
// The tool's own settings file, "Tarnwick.ini" in the working directory: the
// operator's last choices (mode, configuration and pack file names) and the
// site switches edited by hand. Nothing is cached: every call goes to the file.
#include <string>

#include "engine/burn_engine.h"

namespace tarnwick {

inline constexpr char kSettingsFileName[] = "Tarnwick.ini";

class CSettingsFile : public ISettingsReader {
 public:
  // The settings file of the working directory at the time of construction;
  // a later change of directory does not move it.
  CSettingsFile();
  // The settings file in that directory.
  explicit CSettingsFile(const std::string& directory);

  const std::string& Path() const { return m_strPath; }

  // Why a settings file that exists cannot be read (every setting then reads
  // as its default), as a sentence for the operator; empty when it can be
  // read or does not exist.
  std::string ReadProblem() const;
  // Why the operator's choices are not stored: a settings file that is a
  // symbolic link is read but never written. Empty otherwise.
  std::string WriteRefusal() const;

  // The stored integer (decimal, or 0x hexadecimal); 0 when absent.
  int ReadInt(const std::string& section, const std::string& key) override;
  // Stores the value as decimal text. False when the file could not be written.
  [[nodiscard]] bool WriteInt(const std::string& section, const std::string& key, int value);
  // The stored text, at most 49 characters; empty when absent.
  std::string ReadString(const std::string& section, const std::string& key) const;
  // A path stored by a site (such as "AuditLog"): as ReadString, but up to
  // the longest path the system takes rather than 49 characters.
  std::string ReadPath(const std::string& section, const std::string& key) const;
  // Stores the text, creating the file and section when absent. False when the
  // file could not be written.
  [[nodiscard]] bool WriteString(const std::string& section, const std::string& key,
                                 const std::string& value);

 private:
  std::string m_strPath;
};

inline constexpr int kModeBoard = 1;
inline constexpr int kModeReader = 2;

// What start-up makes of "CanUseBoardMode" and "Mode".
struct ModeSettings {
  bool boardModePermitted = false;
  int mode = kModeReader;  // kModeBoard or kModeReader
};

// Reads "CanUseBoardMode" and "Mode" of section "Burn" and repairs them: board
// mode forbidden (0) forces Mode=2; any other permission value is stored as 1;
// a mode other than 1 or 2 is stored as 2. Failed writes are ignored: the
// result is what the settings say all the same.
ModeSettings ReconcileModeSettings(CSettingsFile& settings);

}  // namespace tarnwick
