#pragma once
// A look at a pack file's header before any card or board is touched: a file
// that is not a pack (shorter than its header, an image table that points
// past the file, images longer than the file) is refused at once, rather
// than as a failure of every card in turn.
#include <string>

#include "common/sys_status.h"
#include "engine/burn_engine.h"
#include "engine/pack_file.h"

namespace tarnwick::cli {

// The card images a burn reads: the seven of the card, less those whose stage
// is switched off ("Burn" value 2) in the settings.
PackSlotSet CardImagesBurned(ISettingsReader& settings);

// Why the pack at path cannot hold the images of slots (a sentence the
// caller ends with what was not done); success when their locations all lie
// inside the file.
SysStatus CheckPackHeader(const std::string& path, PackSlotSet slots);

}  // namespace tarnwick::cli
