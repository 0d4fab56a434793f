// The main of every test program: GoogleTest's, with a check of the process heap
// after each test. The tests run under Wine with WINEDEBUG=warn+heap, where
// HeapValidate finds a heap block written past its end.
#pragma once

// True when HeapValidate finds every block of the process heap intact.
bool ProcessHeapIntact();
