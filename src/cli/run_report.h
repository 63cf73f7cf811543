#pragma once
#include "engine/burn_engine.h"
#include "ui/settings_file.h"

namespace tarnwick::cli {

// Tells the operator how a burn run ended and gives the command's exit
// status: 0 every card written, 1 a card failed or the run was stopped,
// 3 no card found.
int BurnExitStatus(const RunSummary& run);

// Warns on standard error when the settings file exists but cannot be read:
// the run goes on with the defaults.
void WarnUnreadableSettings(const CSettingsFile& settings);

}  // namespace tarnwick::cli
