#pragma once
// Process set-up for the burn, which holds every image of a card in memory at
// once (a gigabyte or more). Faulting in such buffers page by page is slow,
// markedly so in virtual machines; backed by transparent huge pages it costs
// a fraction. The C library reads its allocator settings only when a process
// starts, so the burn process starts itself again once with the setting made.
namespace tarnwick {

// Re-executes the program with large allocations backed by huge pages, unless
// that was done already or the environment chose otherwise. Returns only when
// no re-execution took place (the program then runs as it is).
void UseHugePagesForImageBuffers(char** argv);

}  // namespace tarnwick
