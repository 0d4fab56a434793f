// The walker's stack of directories still to be searched: DirSlotCount slots of
// DirSlotSize bytes in one block that belongs to one call of FindFile. A slot holds
// a full path that the ANSI file functions can name (up to MAX_PATH - 1 characters
// and the terminator). Last in, first out. Internal to the walker; not exported.
#pragma once
#include <windows.h>

enum {
    DirSlotSize = MAX_PATH,
    DirSlotCount = 200,
    DirStackBytes = DirSlotSize * DirSlotCount
};

// Copies path into slot number *count and increases *count. -1, with nothing
// changed, when all slots are used or when path does not fit a slot.
int PushDir(const char *path, char *block, int *count);

// Decreases *count and copies that slot's path into out (DirSlotSize bytes).
// -1 when the stack is empty.
int PopDir(char *out, char *block, int *count);
