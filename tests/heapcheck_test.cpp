// The heap check that ends every test: a test that wrote one byte past the end of
// a scratch block fails, although it released the block (FreeScratch keeps a
// damaged block, so the damage outlives the test).
#include "common/scratch.h"
#include "tests/support/inprocess.h"
#include "tests/support/machine.h"
#include <gtest/gtest.h>
#include <string.h>

namespace {

volatile DWORD ScratchSize = 13;

// Run only by the test below, in a process of its own.
TEST(HeapCheck, DISABLED_OneByteOverrunOfAScratchBlock)
{
    char *buffer = (char *)AllocScratch(ScratchSize);
    ASSERT_NE(buffer, nullptr);
    memset(buffer, 'x', ScratchSize + 1);
    FreeScratch(buffer);
}

TEST(HeapCheck, FailsTheTestThatOverranAScratchBlock)
{
    std::string outputPath = FreshDir("heapcheck") + "output.txt";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE output = CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(output, INVALID_HANDLE_VALUE);
    std::string line = "\"" + ProgramDir() + "heapcheck_test.exe\" --gtest_also_run_disabled_tests "
                       "--gtest_filter=HeapCheck.DISABLED_OneByteOverrunOfAScratchBlock";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = output;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessA(NULL, &line[0], NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process));
    CloseHandle(output);
    WaitForSingleObject(process.hProcess, 60000);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::string text = ReadWholeFile(outputPath);
    // Without WINEDEBUG=warn+heap (ctest sets it) Wine does not see the overrun.
    EXPECT_EQ(exitCode, 1u) << text;
    EXPECT_NE(text.find("The process heap is damaged"), std::string::npos) << text;
    EXPECT_NE(text.find("[  FAILED  ] HeapCheck.DISABLED_OneByteOverrunOfAScratchBlock"), std::string::npos) << text;
}

}  // namespace
