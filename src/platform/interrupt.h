#pragma once
// Ctrl-C for the command line: once caught, the process is not ended by it;
// the command sees the request and stops at a point where nothing is left
// half-done (a card's current write ends and the card is flushed). SIGINT on
// Linux, the console control handler on Windows.
namespace tarnwick {

// Catches Ctrl-C from now on, for the rest of the process.
void CatchInterrupt();
// True once Ctrl-C has been pressed (after CatchInterrupt).
bool InterruptRequested();
// Blocks for at most the given milliseconds, less when Ctrl-C comes.
void SleepUnlessInterrupted(int milliseconds);

}  // namespace tarnwick
