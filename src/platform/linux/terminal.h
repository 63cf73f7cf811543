#pragma once
// Whether the command line talks to a person: standard input and standard
// error attached to a terminal, and the terminal's width.
namespace tarnwick {

enum class StdStream { Input, Output, Error };

bool IsTerminal(StdStream stream);

// Columns of the terminal on standard error; 80 when it cannot be told.
int TerminalColumns();

}  // namespace tarnwick
