#include "common/scratch.h"

TScratchCounters ScratchCounters = {0, 0, 0};

void ResetScratchCounters(LONG failAt)
{
    ScratchCounters.FailAt = failAt;
    ScratchCounters.Allocations = 0;
    ScratchCounters.Live = 0;
}

static bool AllocationRefused()
{
    return InterlockedIncrement(&ScratchCounters.Allocations) == ScratchCounters.FailAt;
}

void *AllocScratch(DWORD size)
{
    if (AllocationRefused())
        return NULL;
    void *buffer = HeapAlloc(GetProcessHeap(), 0, size);
    if (buffer != NULL)
        InterlockedIncrement(&ScratchCounters.Live);
    return buffer;
}

void FreeScratch(void *buffer)
{
    if (buffer == NULL)
        return;
    // A block written past its end is kept, not freed: freeing it could spread the
    // damage through the heap, and kept, the damage is still there for a heap check
    // (the tests validate the heap after each test).
    if (!HeapValidate(GetProcessHeap(), 0, buffer))
        return;
    HeapFree(GetProcessHeap(), 0, buffer);
    InterlockedDecrement(&ScratchCounters.Live);
}

void *AllocLockedGlobal(DWORD size, HGLOBAL *handle)
{
    *handle = NULL;
    if (AllocationRefused())
        return NULL;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (block == NULL)
        return NULL;
    void *memory = GlobalLock(block);
    if (memory == NULL) {
        GlobalFree(block);
        return NULL;
    }
    InterlockedIncrement(&ScratchCounters.Live);
    *handle = block;
    return memory;
}

void FreeLockedGlobal(HGLOBAL handle)
{
    if (handle == NULL)
        return;
    GlobalUnlock(handle);
    GlobalFree(handle);
    InterlockedDecrement(&ScratchCounters.Live);
}
