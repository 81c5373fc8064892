// The Windows 9x password lock inside this process: which stored settings load
// the verifier, what is loaded and released, and when the system's
// screen-saver-running flag changes. The library doubles are built into
// folders beside this program; "PASSWORD.CPL" is found through the current
// folder, which the loader searches after the program's own folder.
#include "host/SaverHost.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char DESKTOP[] = "Control Panel\\Desktop";
const char VALUE[] = "ScreenSaveUsePassword";

std::string ProgramFolder()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of("\\/"));
}

std::string DoubleFolder(const char *variant)
{
    return ProgramFolder() + "\\password\\" + variant;
}

BOOL SystemSaverRunning()
{
    BOOL running = 2;
    EXPECT_TRUE(SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &running, 0));
    return running;
}

void SetSystemSaverRunning(BOOL on)
{
    UINT previous = 0;
    ASSERT_TRUE(SystemParametersInfoA(SPI_SCREENSAVERRUNNING, on, &previous, 0));
    ASSERT_EQ(on, SystemSaverRunning());
}

bool PasswordLibraryLoaded()
{
    return GetModuleHandleA("PASSWORD.CPL") != nullptr;
}

void StoreSetting(DWORD type, const std::vector<BYTE> &bytes)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, DESKTOP, 0, nullptr, 0,
                                             KEY_SET_VALUE, nullptr, &key, nullptr));
    LONG result = RegSetValueExA(key, VALUE, 0, type, bytes.data(), (DWORD)bytes.size());
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, result);
}

void RemoveSetting()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, DESKTOP, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, VALUE);
    RegCloseKey(key);
}

std::vector<BYTE> Dword(DWORD value)
{
    const BYTE *bytes = reinterpret_cast<const BYTE *>(&value);
    return std::vector<BYTE>(bytes, bytes + sizeof value);
}

std::vector<BYTE> Text(const char *text)
{
    return std::vector<BYTE>(text, text + strlen(text) + 1);
}

// Every test starts on Windows 9x terms with nothing loaded, the double's log
// empty and the current folder holding the double with the verifier entry.
class PasswordLock : public ::testing::Test {
protected:
    void SetUp() override
    {
        SaverState = SaverRecord();
        SaverState.win9x = true;
        char temp[MAX_PATH] = "";
        GetTempPathA(sizeof temp, temp);
        logPath = std::string(temp) + "zembloid-password-double.log";
        DeleteFileA(logPath.c_str());
        SetEnvironmentVariableA("ZEMBLOID_PWD_LOG", logPath.c_str());
        UseDouble("verifier");
        ASSERT_FALSE(PasswordLibraryLoaded());
    }

    void TearDown() override
    {
        UnloadPasswordVerifier();
        SaverState = SaverRecord();
        RemoveSetting();
        SetCurrentDirectoryA(ProgramFolder().c_str());
        SetEnvironmentVariableA("ZEMBLOID_PWD_LOG", nullptr);
        SetSystemSaverRunning(FALSE);
    }

    void UseDouble(const char *variant)
    {
        ASSERT_TRUE(SetCurrentDirectoryA(DoubleFolder(variant).c_str())) << variant;
    }

    std::string Log() const
    {
        std::ifstream file(logPath);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    void ExpectVerifierLoaded()
    {
        HMODULE module = GetModuleHandleA("PASSWORD.CPL");
        ASSERT_NE(nullptr, module);
        EXPECT_EQ(module, SaverState.passwordModule);
        EXPECT_EQ(reinterpret_cast<void *>(GetProcAddress(module, "VerifyScreenSavePwd")),
                  reinterpret_cast<void *>(SaverState.verifyPassword));
        EXPECT_TRUE(SystemSaverRunning());
    }

    void ExpectNothingLoaded()
    {
        EXPECT_EQ(nullptr, SaverState.passwordModule);
        EXPECT_EQ(nullptr, SaverState.verifyPassword);
        EXPECT_FALSE(PasswordLibraryLoaded());
    }

    // Loading and unloading without a verifier must leave the system flag as
    // it was, whichever way it stood.
    void ExpectFlagUntouchedWithoutVerifier(const char *attachLog)
    {
        for (BOOL before : {FALSE, TRUE}) {
            SCOPED_TRACE(before ? "flag set before" : "flag clear before");
            DeleteFileA(logPath.c_str());
            SetSystemSaverRunning(before);
            LoadPasswordVerifier();
            ExpectNothingLoaded();
            EXPECT_EQ(before, SystemSaverRunning());
            UnloadPasswordVerifier();
            EXPECT_EQ(before, SystemSaverRunning());
            EXPECT_EQ(attachLog, Log());
        }
    }

    std::string logPath;
};

struct StoredSetting {
    const char *name;
    DWORD type;
    std::vector<BYTE> bytes;
    bool enabled;
};

void PrintTo(const StoredSetting &setting, std::ostream *out)
{
    *out << setting.name;
}

std::string SettingName(const ::testing::TestParamInfo<StoredSetting> &info)
{
    return info.param.name;
}

class PasswordSetting : public PasswordLock,
                        public ::testing::WithParamInterface<StoredSetting> {};

const StoredSetting STORED_SETTINGS[] = {
    {"DwordOne", REG_DWORD, Dword(1), true},
    {"DwordZero", REG_DWORD, Dword(0), false},
    {"DwordHighByteOnly", REG_DWORD, Dword(0x01000000), true},
    {"BinaryOneByte", REG_BINARY, {1}, true},
    {"BinaryTwoZeroBytes", REG_BINARY, {0, 0}, false},
    {"BinaryLastOfFourBytes", REG_BINARY, {0, 0, 0, 1}, true},
    {"BinaryFiveBytes", REG_BINARY, {1, 0, 0, 0, 0}, false},
    {"QwordOne", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, false},
    {"TextZero", REG_SZ, Text("0"), true},
    {"TextOne", REG_SZ, Text("1"), true},
    {"TextEmpty", REG_SZ, Text(""), false},
    {"TextTooLong", REG_SZ, Text("1234"), false},
    {"EmptyBinary", REG_BINARY, {}, false},
};

TEST_P(PasswordSetting, LoadsTheVerifierExactlyWhenEnabled)
{
    StoreSetting(GetParam().type, GetParam().bytes);
    if (!GetParam().enabled) {
        ExpectFlagUntouchedWithoutVerifier("");
        return;
    }
    LoadPasswordVerifier();
    ExpectVerifierLoaded();
    UnloadPasswordVerifier();
    ExpectNothingLoaded();
    EXPECT_FALSE(SystemSaverRunning());
    EXPECT_EQ("attach\ndetach free\n", Log());
}

INSTANTIATE_TEST_SUITE_P(Stored, PasswordSetting, ::testing::ValuesIn(STORED_SETTINGS),
                         SettingName);

TEST_F(PasswordLock, AbsentValueLoadsNothing)
{
    RemoveSetting();
    ExpectFlagUntouchedWithoutVerifier("");
}

TEST_F(PasswordLock, MissingDesktopKeyLoadsNothing)
{
    HKEY scratch = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\ZembloidEmptyUser", 0,
                                             nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                             &scratch, nullptr));
    StoreSetting(REG_DWORD, Dword(1));
    ASSERT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_CURRENT_USER, scratch));
    HKEY probe = nullptr;
    bool desktopHidden = RegOpenKeyA(HKEY_CURRENT_USER, DESKTOP, &probe) != ERROR_SUCCESS;
    if (!desktopHidden) RegCloseKey(probe);
    ExpectFlagUntouchedWithoutVerifier("");
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegCloseKey(scratch);
    EXPECT_TRUE(desktopHidden);
}

TEST_F(PasswordLock, LibraryWithoutVerifierIsLoadedAndReleased)
{
    StoreSetting(REG_DWORD, Dword(1));
    UseDouble("noentry");
    ExpectFlagUntouchedWithoutVerifier("attach\ndetach free\n");
}

TEST_F(PasswordLock, MissingLibraryLeavesTheSaverWithoutPassword)
{
    StoreSetting(REG_DWORD, Dword(1));
    UseDouble("mpr");
    ExpectFlagUntouchedWithoutVerifier("");
}

TEST_F(PasswordLock, OtherPlatformsTouchNothing)
{
    StoreSetting(REG_DWORD, Dword(1));
    SaverState.win9x = false;
    ExpectFlagUntouchedWithoutVerifier("");
}

TEST_F(PasswordLock, LoadingAgainReleasesTheFirstLoad)
{
    StoreSetting(REG_DWORD, Dword(1));
    LoadPasswordVerifier();
    LoadPasswordVerifier();
    ExpectVerifierLoaded();
    EXPECT_EQ("attach\ndetach free\nattach\n", Log());
    UnloadPasswordVerifier();
    ExpectNothingLoaded();
    EXPECT_FALSE(SystemSaverRunning());
    EXPECT_EQ("attach\ndetach free\nattach\ndetach free\n", Log());
}

TEST_F(PasswordLock, LoadingAgainAfterTheSettingIsTurnedOffReleasesTheVerifier)
{
    StoreSetting(REG_DWORD, Dword(1));
    LoadPasswordVerifier();
    ExpectVerifierLoaded();
    StoreSetting(REG_DWORD, Dword(0));
    LoadPasswordVerifier();
    ExpectNothingLoaded();
    EXPECT_FALSE(SystemSaverRunning());
}

TEST_F(PasswordLock, UnloadWithNothingLoadedMakesNoSystemCall)
{
    SetSystemSaverRunning(TRUE);
    UnloadPasswordVerifier();
    EXPECT_TRUE(SystemSaverRunning());
}

}  // namespace
