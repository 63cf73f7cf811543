#pragma once
// The subcommands of tarnwick-cli. main.cpp dispatches on the first argument;
// each command gets the arguments after its name and returns the exit status:
// 0 success, 1 a card failed, 2 bad arguments or inputs refused, 3 no card found.
namespace tarnwick::cli {

int CmdBurn(int argc, char** argv);
int CmdInspect(int argc, char** argv);
int CmdMkpack(int argc, char** argv);
int CmdDisks(int argc, char** argv);
int CmdDownload(int argc, char** argv);

}  // namespace tarnwick::cli
