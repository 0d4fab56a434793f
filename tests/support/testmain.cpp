#include "tests/support/testmain.h"
#include <windows.h>
#include <gtest/gtest.h>

bool ProcessHeapIntact()
{
    return HeapValidate(GetProcessHeap(), 0, NULL) != FALSE;
}

namespace {

// Fails the test at whose end the process heap is first found damaged. The damage
// stays for the rest of the program; the tests after that one are not blamed.
class THeapCheck : public ::testing::EmptyTestEventListener {
    bool reported = false;

    void OnTestEnd(const ::testing::TestInfo &) override
    {
        if (reported || ProcessHeapIntact())
            return;
        reported = true;
        ADD_FAILURE() << "The process heap is damaged: a heap block was written past its end "
                         "(Wine's messages above name the block).";
    }
};

}  // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Listeners hear the end of a test in reverse order: this one before the
    // printer, so that the test is reported with its failure.
    ::testing::UnitTest::GetInstance()->listeners().Append(new THeapCheck);
    return RUN_ALL_TESTS();
}
