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
    std::string report = FreshDir("heapcheck") + "report.xml";
    TBoxScript noBoxes;
    long code = RunWithBoxes("\"" + ProgramDir() + "heapcheck_test.exe\" --gtest_also_run_disabled_tests "
                             "--gtest_filter=HeapCheck.DISABLED_OneByteOverrunOfAScratchBlock --gtest_output=xml:" +
                                 report,
                             noBoxes);
    std::string xml = ReadWholeFile(report);
    // Without WINEDEBUG=warn+heap (ctest sets it) Wine does not see the overrun.
    EXPECT_EQ(code, 1) << xml;
    EXPECT_NE(xml.find("The process heap is damaged"), std::string::npos) << xml;
}

}  // namespace
