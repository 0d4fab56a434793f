// Client location and path-buffer sizes, read from the test prefix's WIN.INI and
// volumes.
#include "client/clientpath.h"
#include "common/scratch.h"
#include "tests/support/machine.h"
#include <gtest/gtest.h>
#include <string.h>

namespace {

struct ClientPathTest : ::testing::Test {
    void TearDown() override
    {
        FreePathBuffers();
        SetExePath(NULL);
    }
};

TEST_F(ClientPathTest, NoSectionMeansNoClient)
{
    WriteProfileStringA("DVQ", NULL, NULL);
    char buffer[64] = "garbage";
    EXPECT_FALSE(ReadClientPath(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "");
    EXPECT_FALSE(InitPathBuffers());
    EXPECT_EQ(ClientPath, nullptr);
    EXPECT_EQ(InstallPathSize, 0);
    EXPECT_EQ(WindowsPathSize, 0);
}

TEST_F(ClientPathTest, EmptyValueMeansNoClient)
{
    SetExePath("");
    EXPECT_FALSE(InitPathBuffers());
    EXPECT_EQ(ClientPath, nullptr);
}

TEST_F(ClientPathTest, SizesComeFromTheVolumes)
{
    SetExePath("C:\\Program Files\\Solvarine\\DVQ32.EXE");
    ASSERT_TRUE(InitPathBuffers());
    DWORD length = 0;
    ASSERT_TRUE(GetVolumeInformationA("C:\\", NULL, 0, NULL, &length, NULL, NULL, 0));
    EXPECT_EQ(InstallPathSize, (int)length * 4);
    EXPECT_EQ(WindowsPathSize, (int)length * 4);
    ASSERT_NE(ClientPath, nullptr);
    ASSERT_TRUE(ReadClientPath(ClientPath, InstallPathSize));
    EXPECT_STREQ(ClientPath, "C:\\Program Files\\Solvarine\\DVQ32.EXE");
}

TEST_F(ClientPathTest, UnqueryableVolumeGives1040)
{
    // Q: is not mapped in the test prefix.
    SetExePath("Q:\\Solvarine\\DVQ32.EXE");
    ASSERT_TRUE(InitPathBuffers());
    EXPECT_EQ(InstallPathSize, 1040);
    EXPECT_NE(WindowsPathSize, 1040);
}

TEST_F(ClientPathTest, PathWithoutDriveAsksTheCurrentDrive)
{
    SetExePath("DVQ32.EXE");
    ASSERT_TRUE(InitPathBuffers());
    DWORD length = 0;
    ASSERT_TRUE(GetVolumeInformationA(NULL, NULL, 0, NULL, &length, NULL, NULL, 0));
    EXPECT_EQ(InstallPathSize, length > 0 ? (int)length * 4 : 1040);
}

TEST_F(ClientPathTest, LongValueIsReadUpToTheBuffer)
{
    std::string longPath = "C:\\" + std::string(900, 'a') + "\\DVQ32.EXE";
    SetExePath(longPath.c_str());
    ASSERT_TRUE(InitPathBuffers());
    ASSERT_TRUE(ReadClientPath(ClientPath, InstallPathSize));
    EXPECT_EQ(strlen(ClientPath), longPath.size() < (size_t)InstallPathSize ? longPath.size()
                                                                             : (size_t)InstallPathSize - 1);
}

TEST_F(ClientPathTest, FailedAllocationHoldsNothing)
{
    SetExePath("C:\\Program Files\\Solvarine\\DVQ32.EXE");
    ResetScratchCounters(1);
    EXPECT_FALSE(InitPathBuffers());
    EXPECT_EQ(ClientPath, nullptr);
    EXPECT_EQ(ScratchCounters.Live, 0);
    ResetScratchCounters(0);
}

}  // namespace
