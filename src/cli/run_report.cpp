#include "cli/run_report.h"

#include <cstdio>

#include "cli/args.h"
#include "cli/console.h"

namespace tarnwick::cli {

int BurnExitStatus(const RunSummary& run) {
  if (run.aborted) {
    PrintError("the run was stopped: " + run.abortReason);
    return 1;
  }
  if (run.cardsFound == 0) {
    PrintError("no card found");
    return 3;
  }
  Err(Format("tarnwick-cli: %d of %d card(s) written completely\n", run.cardsWritten,
             run.cardsFound));
  return run.failed.empty() && run.cardsWritten == run.cardsFound ? 0 : 1;
}

void WarnUnreadableSettings(const CSettingsFile& settings) {
  if (const std::string problem = settings.ReadProblem(); !problem.empty()) {
    PrintError("warning: " + problem);
  }
}

}  // namespace tarnwick::cli
