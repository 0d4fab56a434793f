// Screen-saver removal on the test prefix's SYSTEM.INI, screen-saver setting and
// Windows directory.
#include "removal/removal.h"
#include "client/clientpath.h"
#include "common/scratch.h"
#include "tests/support/machine.h"
#include <gtest/gtest.h>
#include <ctype.h>

namespace {

bool ScreenSaverActive()
{
    BOOL active = FALSE;
    SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &active, 0);
    return active != FALSE;
}

void SetScreenSaverActive(bool active)
{
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, active, NULL, SPIF_UPDATEINIFILE);
}

struct ScreenSaverTest : ::testing::Test {
    int savedWindowsSize = WindowsPathSize;
    const std::string systemIni = WindowsDir() + "\\SYSTEM.INI";
    const std::string ourSaver = WindowsDir() + "\\KOVRAL32.SCR";
    const std::string otherSaver = WindowsDir() + "\\DVQTEST.SCR";
    bool wasActive = false;
    bool hadSwitch = RegValueExists(HKEY_CURRENT_USER, "Control Panel\\Desktop", "ScreenSaveActive");

    void SetUp() override
    {
        // Under Wine the display driver, once loaded, answers for the switch from
        // the X server, while before that the switch is only the profile's; load
        // it first so that the step and the checks see the same switch.
        GetDesktopWindow();
        wasActive = ScreenSaverActive();
        WindowsPathSize = 1020;
    }

    void TearDown() override
    {
        SetScreenSaverActive(wasActive);
        if (!hadSwitch)
            RegDeleteKeyValueA(HKEY_CURRENT_USER, "Control Panel\\Desktop", "ScreenSaveActive");
        WritePrivateProfileStringA("boot", NULL, NULL, systemIni.c_str());
        for (const std::string &saver : {ourSaver, otherSaver}) {
            SetFileAttributesA(saver.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(saver.c_str());
        }
        WindowsPathSize = savedWindowsSize;
    }

    // Screen saving on, our saver's file there and read-only, and the boot section
    // naming the active saver (none without one).
    void Install(const std::string &activeSaver)
    {
        WritePrivateProfileStringA("boot", NULL, NULL, systemIni.c_str());
        if (!activeSaver.empty()) {
            WritePrivateProfileStringA("boot", "SCRNSAVE.EXE", activeSaver.c_str(), systemIni.c_str());
            WritePrivateProfileStringA("boot", "shell", "Explorer.exe", systemIni.c_str());
        }
        SetScreenSaverActive(true);
        MakeFile(ourSaver);
        SetFileAttributesA(ourSaver.c_str(), FILE_ATTRIBUTE_READONLY);
    }

    std::string BootSection() const
    {
        char content[4096] = "";
        DWORD length = GetPrivateProfileSectionA("boot", content, sizeof content, systemIni.c_str());
        return std::string(content, length);
    }
};

// The setting goes when it names our saver's file exactly, with whatever text
// around it; another saver, ours written in another letter case, or no boot
// section at all stay as they are. Our file goes in every case.
TEST_F(ScreenSaverTest, OnlyOurActiveSaverIsSwitchedOff)
{
    std::string otherCase = ourSaver;
    for (char &c : otherCase)
        c = (char)(islower((unsigned char)c) ? toupper((unsigned char)c) : tolower((unsigned char)c));
    const std::pair<std::string, bool> cases[] = {
        {ourSaver, true}, {"/s " + ourSaver + " /a", true}, {otherSaver, false}, {otherCase, false}, {"", false}};
    MakeFile(otherSaver);
    for (const auto &active : cases) {
        Install(active.first);
        std::string before = BootSection();
        ResetScratchCounters(0);
        RemoveScreenSaver();
        EXPECT_EQ(ScratchCounters.Live, 0);
        if (active.second) {
            EXPECT_EQ(BootSection(), std::string("shell=Explorer.exe", 19)) << active.first;
            EXPECT_FALSE(ScreenSaverActive()) << active.first;
            char kept[8] = "";
            DWORD size = sizeof kept;
            RegGetValueA(HKEY_CURRENT_USER, "Control Panel\\Desktop", "ScreenSaveActive", RRF_RT_REG_SZ, NULL, kept,
                         &size);
            EXPECT_STREQ(kept, "0") << "the switch as kept in the user's profile";
        } else {
            EXPECT_EQ(BootSection(), before) << active.first;
            EXPECT_TRUE(ScreenSaverActive()) << active.first;
        }
        EXPECT_FALSE(FileExists(ourSaver)) << active.first;
        EXPECT_TRUE(FileExists(otherSaver)) << active.first;
    }
}

// A Windows directory or a path in it that does not fit the buffers is not used:
// the step then does nothing.
TEST_F(ScreenSaverTest, PathsMustFitTheBuffers)
{
    for (size_t size : {WindowsDir().size(), WindowsDir().size() + 1, ourSaver.size(), ourSaver.size() + 1}) {
        Install(ourSaver);
        WindowsPathSize = (int)size;
        RemoveScreenSaver();
        bool fits = size > ourSaver.size();
        EXPECT_EQ(BootSection().find("SCRNSAVE.EXE") == std::string::npos, fits) << size;
        EXPECT_EQ(ScreenSaverActive(), !fits) << size;
        EXPECT_EQ(FileExists(ourSaver), !fits) << size;
    }
}

// The step's four buffers failing do nothing; the deletion's own failing leaves
// the file (which a run then counts as left) after the setting went.
TEST_F(ScreenSaverTest, AllocationFailureDoesNothing)
{
    std::string installed;
    long allocations = ForEachAllocationFailure(
        [&] {
            Install(ourSaver);
            installed = BootSection();
        },
        RemoveScreenSaver,
        [&](long failAt) {
            EXPECT_EQ(BootSection() == installed, failAt <= 4) << failAt;
            EXPECT_EQ(ScreenSaverActive(), failAt <= 4) << failAt;
            EXPECT_TRUE(FileExists(ourSaver)) << failAt;
        });
    EXPECT_EQ(allocations, 5);
}

}  // namespace
