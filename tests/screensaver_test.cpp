// Screen-saver removal on the test prefix's SYSTEM.INI, screen-saver setting and
// Windows directory.
#include "removal/removal.h"
#include "flow/clientpath.h"
#include "common/scratch.h"
#include "tests/support/machine.h"
#include "tests/support/snapshot.h"
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

// The switch as kept in the user's profile.
std::string SavedScreenSaverSwitch()
{
    char value[16] = "";
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "";
    DWORD length = sizeof value;
    if (RegQueryValueExA(key, "ScreenSaveActive", NULL, NULL, (BYTE *)value, &length) != ERROR_SUCCESS)
        value[0] = '\0';
    RegCloseKey(key);
    return value;
}

struct ScreenSaverTest : ::testing::Test {
    int savedInstallSize = InstallPathSize, savedWindowsSize = WindowsPathSize;
    char *savedClientPath = ClientPath;
    char clientPath[1020] = "C:\\dvqtest\\client\\DVQ32.EXE";
    const std::string systemIni = ProfileFile("SYSTEM.INI");
    const std::string ourSaver = WindowsDir() + "\\KOVRAL32.SCR";
    const std::string otherSaver = WindowsDir() + "\\DVQTEST.SCR";
    TSectionImage boot;
    TFileImage savedOurs, savedOther;
    bool wasActive = false;
    bool hadSavedSwitch = false;
    std::string savedSwitch;

    void SetUp() override
    {
        // Under Wine the display driver, once loaded, answers for the switch from
        // the X server, while before that the switch is only the profile's; load
        // it first so that the step and the checks see the same switch.
        GetDesktopWindow();
        boot = CaptureSection(systemIni, "boot");
        savedOurs = CaptureFile(ourSaver);
        savedOther = CaptureFile(otherSaver);
        wasActive = ScreenSaverActive();
        hadSavedSwitch = RegValueExists(HKEY_CURRENT_USER, "Control Panel\\Desktop", "ScreenSaveActive");
        savedSwitch = SavedScreenSaverSwitch();
        InstallPathSize = WindowsPathSize = 1020;
        ClientPath = clientPath;
        WritePrivateProfileStringA("boot", NULL, NULL, systemIni.c_str());
        SetScreenSaverActive(true);
        MakeFile(ourSaver);
    }

    void TearDown() override
    {
        RestoreSection(boot);
        RestoreFile(savedOurs);
        RestoreFile(savedOther);
        SetScreenSaverActive(wasActive);
        HKEY desktop;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, KEY_ALL_ACCESS, &desktop) == ERROR_SUCCESS) {
            if (hadSavedSwitch)
                RegSetValueExA(desktop, "ScreenSaveActive", 0, REG_SZ, (const BYTE *)savedSwitch.c_str(),
                               (DWORD)savedSwitch.size() + 1);
            else
                RegDeleteValueA(desktop, "ScreenSaveActive");
            RegCloseKey(desktop);
        }
        InstallPathSize = savedInstallSize;
        WindowsPathSize = savedWindowsSize;
        ClientPath = savedClientPath;
    }

    void SetActiveSaver(const std::string &value)
    {
        WritePrivateProfileStringA("boot", "SCRNSAVE.EXE", value.c_str(), systemIni.c_str());
        WritePrivateProfileStringA("boot", "shell", "Explorer.exe", systemIni.c_str());
    }

    std::string ActiveSaver() const
    {
        return ProfileValue(systemIni, "boot", "SCRNSAVE.EXE", "(none)");
    }

    static void RunStep()
    {
        ResetScratchCounters(0);
        RemoveScreenSaver();
        EXPECT_EQ(ScratchCounters.Live, 0);
    }
};

TEST_F(ScreenSaverTest, OursActiveIsSwitchedOffAndDeleted)
{
    SetActiveSaver(ourSaver);
    SetFileAttributesA(ourSaver.c_str(), FILE_ATTRIBUTE_READONLY);
    RunStep();
    EXPECT_EQ(ActiveSaver(), "(none)");
    EXPECT_EQ(ProfileValue(systemIni, "boot", "shell"), "Explorer.exe");
    EXPECT_FALSE(ScreenSaverActive());
    EXPECT_EQ(SavedScreenSaverSwitch(), "0");
    EXPECT_FALSE(FileExists(ourSaver));
}

TEST_F(ScreenSaverTest, OursWithTextAroundItIsSwitchedOff)
{
    SetActiveSaver("/s " + ourSaver + " /a");
    RunStep();
    EXPECT_EQ(ActiveSaver(), "(none)");
    EXPECT_FALSE(ScreenSaverActive());
    EXPECT_FALSE(FileExists(ourSaver));
}

TEST_F(ScreenSaverTest, AnotherActiveStaysButOurFileGoes)
{
    SetActiveSaver(otherSaver);
    MakeFile(otherSaver);
    SetFileAttributesA(ourSaver.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    RunStep();
    EXPECT_EQ(ActiveSaver(), otherSaver);
    EXPECT_TRUE(ScreenSaverActive());
    EXPECT_TRUE(FileExists(otherSaver));
    EXPECT_FALSE(FileExists(ourSaver));
}

// The match is exact in letter case: the same file written otherwise is taken
// for another screen saver.
TEST_F(ScreenSaverTest, OursInAnotherLetterCaseStays)
{
    std::string otherCase = ourSaver;
    for (char &c : otherCase)
        c = (char)(islower((unsigned char)c) ? toupper((unsigned char)c) : tolower((unsigned char)c));
    ASSERT_NE(otherCase, ourSaver);
    SetActiveSaver(otherCase);
    RunStep();
    EXPECT_EQ(ActiveSaver(), otherCase);
    EXPECT_TRUE(ScreenSaverActive());
    EXPECT_FALSE(FileExists(ourSaver));
}

TEST_F(ScreenSaverTest, NoBootSectionChangesOnlyTheFile)
{
    TFileImage before = CaptureFile(systemIni);
    RunStep();
    EXPECT_FALSE(ProfileSectionExists(systemIni, "boot"));
    EXPECT_EQ(CaptureFile(systemIni).content, before.content);
    EXPECT_TRUE(ScreenSaverActive());
    EXPECT_FALSE(FileExists(ourSaver));
}

// Paths that do not fit the buffers are not used: the step then does nothing.
TEST_F(ScreenSaverTest, PathsMustFitTheBuffers)
{
    SetActiveSaver(ourSaver);
    const int sizes[] = {(int)WindowsDir().size(), (int)WindowsDir().size() + 1, (int)ourSaver.size()};
    for (int size : sizes) {
        WindowsPathSize = size;
        RunStep();
        EXPECT_EQ(ActiveSaver(), ourSaver) << size;
        EXPECT_TRUE(ScreenSaverActive()) << size;
        EXPECT_TRUE(FileExists(ourSaver)) << size;
    }
    WindowsPathSize = (int)ourSaver.size() + 1;
    RunStep();
    EXPECT_EQ(ActiveSaver(), "(none)");
    EXPECT_FALSE(FileExists(ourSaver));
}

TEST_F(ScreenSaverTest, AllocationFailureDoesNothing)
{
    long allocations = ForEachAllocationFailure(
        [&] {
            SetActiveSaver(ourSaver);
            SetScreenSaverActive(true);
            MakeFile(ourSaver);
        },
        RemoveScreenSaver,
        [&](long failAt) {
            EXPECT_EQ(ActiveSaver(), ourSaver) << failAt;
            EXPECT_EQ(ProfileValue(systemIni, "boot", "shell"), "Explorer.exe") << failAt;
            EXPECT_TRUE(ScreenSaverActive()) << failAt;
            EXPECT_TRUE(FileExists(ourSaver)) << failAt;
        });
    EXPECT_EQ(allocations, 4);
}

}  // namespace
