// The Run value, read back through the registry itself. Runs in a Wine prefix of its own
// (scripts/test-windows.sh), whose HKEY_CURRENT_USER nobody else uses.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "desktop/Autostart.h"

namespace hushwell::testing {
namespace {

constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kApprovedKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
using Approval = std::vector<BYTE>;

// Task Manager's switch for the value "Hushwell"; nothing when there is none.
std::optional<Approval> readApproval() {
    Approval value(64);
    DWORD size = static_cast<DWORD>(value.size());
    if (RegGetValueW(HKEY_CURRENT_USER, kApprovedKey, L"Hushwell", RRF_RT_REG_BINARY, nullptr,
                     value.data(), &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    value.resize(size);
    return value;
}

std::optional<std::wstring> readValue(const wchar_t* name) {
    wchar_t value[4096] = {};
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, name, RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::wstring(value);
}

void writeValue(const wchar_t* keyName, const wchar_t* name, DWORD type, const void* data,
                std::size_t size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, keyName, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data),
                             static_cast<DWORD>(size)),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

void writeValue(const wchar_t* name, const std::wstring& value) {
    writeValue(kRunKey, name, REG_SZ, value.c_str(), (value.size() + 1) * sizeof(wchar_t));
}

class RunValue : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(Autostart({L"C:\\x"}).disable(), std::nullopt);
        ASSERT_EQ(readApproval(), std::nullopt);
    }
    void TearDown() override {
        (void)Autostart({L"C:\\x"}).disable();
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, L"Other");
            RegCloseKey(key);
        }
    }
};

TEST_F(RunValue, IsWrittenReadBackAndRemovedAndNothingElse) {
    const std::wstring program = L"C:\\Program Files\\Hushwell \u00e9t\u00e9\\hushwell.exe";
    writeValue(L"Other", L"\"C:\\other.exe\" /quiet");
    const Autostart autostart({program});
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_EQ(autostart.enable(), std::nullopt);
    EXPECT_TRUE(autostart.isEnabled());
    EXPECT_EQ(readValue(L"Hushwell"), L"\"" + program + L"\" --autostart");
    EXPECT_EQ(autostart.disable(), std::nullopt);
    EXPECT_EQ(readValue(L"Hushwell"), std::nullopt);
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_EQ(readValue(L"Other"), L"\"C:\\other.exe\" /quiet") << "another program's value";
    EXPECT_EQ(autostart.disable(), std::nullopt) << "nothing to remove is no error";
}

TEST_F(RunValue, TheRunningProgramByDefault) {
    wchar_t self[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0U);
    ASSERT_EQ(Autostart().enable(), std::nullopt);
    EXPECT_EQ(readValue(L"Hushwell"), L"\"" + std::wstring(self) + L"\" --autostart");
}

TEST_F(RunValue, RepairWritesAMissingValueAndNamesAMovedCopy) {
    EXPECT_EQ(Autostart({L"C:\\Downloads\\hushwell.exe"}).repair(), std::nullopt);
    EXPECT_EQ(readValue(L"Hushwell"), L"\"C:\\Downloads\\hushwell.exe\" --autostart");
    EXPECT_EQ(Autostart({L"D:\\Tools\\Hushwell\\hushwell.exe"}).repair(), std::nullopt);
    EXPECT_EQ(readValue(L"Hushwell"), L"\"D:\\Tools\\Hushwell\\hushwell.exe\" --autostart");
}

TEST_F(RunValue, RepairKeepsAValueThatStartsThisCopyAndGivesItTheArgument) {
    const struct {
        const wchar_t* value;
        const wchar_t* repaired;
    } rows[] = {
        {L"\"C:\\Tools\\hushwell.exe\"", L"\"C:\\Tools\\hushwell.exe\" --autostart"},
        {L"\"c:\\tools\\HUSHWELL.EXE\" --by-hand",
         L"\"c:\\tools\\HUSHWELL.EXE\" --autostart --by-hand"},
        {L"C:\\Tools\\hushwell.exe  /x \"a b\"",
         L"C:\\Tools\\hushwell.exe --autostart  /x \"a b\""},
        {L"\"C:\\Tools\\hushwell.exe\" /x --autostart \"a b\"",
         L"\"C:\\Tools\\hushwell.exe\" /x --autostart \"a b\""},
    };
    for (const auto& row : rows) {
        writeValue(L"Hushwell", row.value);
        EXPECT_EQ(Autostart({L"C:\\Tools\\hushwell.exe"}).repair(), std::nullopt);
        EXPECT_EQ(readValue(L"Hushwell"), row.repaired);
    }
}

TEST_F(RunValue, OffInTaskManagerIsKeptByAStartAndTheOptionSwitchesItOnAsTaskManagerDoes) {
    const Autostart autostart({L"C:\\Tools\\hushwell.exe"});
    for (const int first : {2, 6, 3, 7}) {
        SCOPED_TRACE(first);
        const bool on = first == 2 || first == 6;
        const Approval approval = {
            static_cast<BYTE>(first), 0, 0, 0, 0xd4, 0x0d, 0x43, 0x8d, 0xc8, 0x3b, 0xd9, 0x01};
        writeValue(L"Hushwell", L"\"C:\\Tools\\hushwell.exe\" --by-hand");
        writeValue(kApprovedKey, L"Hushwell", REG_BINARY, approval.data(), approval.size());
        EXPECT_EQ(autostart.isEnabled(), on);
        EXPECT_EQ(autostart.repair(), std::nullopt);
        EXPECT_EQ(readApproval(), approval);
        EXPECT_EQ(autostart.enable(), std::nullopt);
        EXPECT_TRUE(autostart.isEnabled());
        EXPECT_EQ(readApproval(), (on ? approval : Approval{2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
        EXPECT_EQ(readValue(L"Hushwell"), L"\"C:\\Tools\\hushwell.exe\" --autostart --by-hand");
        EXPECT_EQ(autostart.disable(), std::nullopt);
        EXPECT_EQ(readApproval(), std::nullopt) << "nothing left to switch";
    }
}

}  // namespace
}  // namespace hushwell::testing
