#pragma once
#include "engine/burn_engine.h"

namespace tarnwick::cli {

// Tells the operator how a burn run ended and gives the command's exit
// status: 0 every card written, 1 a card failed or the run was stopped,
// 3 no card found.
int BurnExitStatus(const RunSummary& run);

}  // namespace tarnwick::cli
