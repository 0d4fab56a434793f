// Scratch memory of the program: heap buffers obtained at the start of a function
// and released on every path out of it, and the walker's moveable global block.
// Every allocation is counted, so that a test can make the N-th one fail and can
// check that everything obtained was released.
#pragma once
#include <windows.h>

void *AllocScratch(DWORD size);
// Null is allowed. A block found damaged (written past its end) is kept, and
// stays counted as live.
void FreeScratch(void *buffer);

// Moveable global memory, locked on return; *handle receives the block to free.
void *AllocLockedGlobal(DWORD size, HGLOBAL *handle);
void FreeLockedGlobal(HGLOBAL handle);  // null is allowed

// Fault injection and accounting, for tests only. Counting starts at 1 with the
// first allocation after ResetScratchCounters; FailScratchAt 0 fails none.
struct TScratchCounters {
    volatile LONG FailAt;       // the allocation number that is made to fail
    volatile LONG Allocations;  // allocations attempted, failed ones included
    volatile LONG Live;         // blocks obtained and not yet released
};
extern TScratchCounters ScratchCounters;
void ResetScratchCounters(LONG failAt);
