#include <windows.h>

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <system_error>

#include "desktop/Autostart.h"
#include "platform/PathText.h"
#include "platform/ProgramNames.h"
#include "platform/ProgramPaths.h"
#include "platform/SystemError.h"

namespace hushwell {
namespace {

constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kValueName = L"Hushwell";
// Where Task Manager and the Settings app keep their switch for each Run value: a binary value
// of the same name, 12 bytes, whose first byte is 03 or 07 while the user switched it off (the
// next eight tell when) and 02 or 06 while on. Switching it on there writes 02 and eleven zero
// bytes; a Run value without one is on.
constexpr const wchar_t* kApprovedKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
constexpr std::array<BYTE, 12> kApprovedOn = {2};

// The Run value as it stands; nothing when there is none (or it is not text).
std::optional<std::wstring> runValue() {
    DWORD size = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, kValueName, RRF_RT_REG_SZ, nullptr, nullptr,
                     &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, kValueName, RRF_RT_REG_SZ, nullptr, value.data(),
                     &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    value.resize(wcsnlen(value.c_str(), value.size()));
    return value;
}

// The program that a command line starts: its first argument, quoted or not.
std::wstring firstArgument(const std::wstring& command) {
    if (command.starts_with(L'"')) {
        const std::size_t end = command.find(L'"', 1);
        return command.substr(1, end == std::wstring::npos ? std::wstring::npos : end - 1);
    }
    return command.substr(0, command.find(L' '));
}

// `command` with the argument right after the program, unless the program has it already; every
// other character kept. A program's name whose quote is not closed is left as it is.
std::wstring withAutostartArgument(const std::wstring& command) {
    const std::wstring option = std::filesystem::path(kAutostartOption).wstring();
    std::size_t end = command.find_first_of(L" \t");
    if (command.starts_with(L'"')) {
        end = command.find(L'"', 1);
        if (end == std::wstring::npos) {
            return command;
        }
        ++end;
    }
    end = std::min(end, command.size());
    bool quoted = false;
    std::wstring argument;
    for (std::size_t i = end; i <= command.size(); ++i) {
        const wchar_t c = i < command.size() ? command[i] : L' ';
        if (c == L'"') {
            quoted = !quoted;
        } else if ((c == L' ' || c == L'\t') && !quoted) {
            if (argument == option) {
                return command;
            }
            argument.clear();
        } else {
            argument += c;
        }
    }
    return command.substr(0, end) + L" " + option + command.substr(end);
}

bool isThisProgram(const std::wstring& started, const std::filesystem::path& program) {
    std::error_code error;
    if (std::filesystem::equivalent(started, program, error) && !error) {
        return true;
    }
    // A path that cannot be opened now may still be this one, spelt in another case.
    return CompareStringOrdinal(started.c_str(), -1, program.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool isSwitchedOff() {
    std::array<BYTE, 12> approval{};
    DWORD size = approval.size();
    const LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, kApprovedKey, kValueName,
                                        RRF_RT_REG_BINARY, nullptr, approval.data(), &size);
    return status == ERROR_SUCCESS && size > 0 && (approval[0] == 3 || approval[0] == 7);
}

// A missing key is made for a value set; a value or key that is not there is removed already.
LSTATUS setValue(const wchar_t* keyName, DWORD type, const void* data, DWORD size) {
    return RegSetKeyValueW(HKEY_CURRENT_USER, keyName, kValueName, type, data, size);
}

LSTATUS removeValue(const wchar_t* keyName) {
    const LSTATUS status = RegDeleteKeyValueW(HKEY_CURRENT_USER, keyName, kValueName);
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

}  // namespace

Autostart::Autostart() : m_facts{ProgramPaths::executable()} {}

std::optional<std::string> Autostart::write(bool switchOn) const {
    const std::string failed = "Couldn't make Hushwell start with Windows: ";
    if (m_facts.program.empty()) {
        return failed + "Windows does not tell where this program's file is.";
    }
    const bool switchedOff = isSwitchedOff();
    const std::optional<std::wstring> current = runValue();
    if (current && switchedOff && !switchOn) {
        return std::nullopt;
    }
    // A value that starts this copy stays as the user left it, and only gains the argument.
    const std::wstring value =
        current && isThisProgram(firstArgument(*current), m_facts.program)
            ? withAutostartArgument(*current)
            : withAutostartArgument(L"\"" + m_facts.program.native() + L"\"");
    if (value != current) {
        const LSTATUS status = setValue(kRunKey, REG_SZ, value.c_str(),
                                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        if (status != ERROR_SUCCESS) {
            return failed + "cannot write the value \"Hushwell\" under HKEY_CURRENT_USER\\" +
                   "Software\\Microsoft\\Windows\\CurrentVersion\\Run: " +
                   windowsErrorText(static_cast<unsigned long>(status)) + ".";
        }
    }
    if (switchedOff && switchOn) {
        const LSTATUS status =
            setValue(kApprovedKey, REG_BINARY, kApprovedOn.data(), kApprovedOn.size());
        if (status != ERROR_SUCCESS) {
            return failed + "cannot switch it on in Task Manager's list of startup apps (the " +
                   "value \"Hushwell\" under HKEY_CURRENT_USER\\Software\\Microsoft\\" +
                   "Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run): " +
                   windowsErrorText(static_cast<unsigned long>(status)) +
                   ". Switch it on in Task Manager, on the Startup apps page.";
        }
    }
    return std::nullopt;
}

std::optional<std::string> Autostart::disable() const {
    const LSTATUS status = removeValue(kRunKey);
    if (status != ERROR_SUCCESS) {
        return "Couldn't stop Hushwell starting with Windows: cannot remove the value "
               "\"Hushwell\" under HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\"
               "CurrentVersion\\Run: " +
               windowsErrorText(static_cast<unsigned long>(status)) + ".";
    }
    // Nothing is left for Task Manager's switch to switch.
    (void)removeValue(kApprovedKey);
    return std::nullopt;
}

bool Autostart::isEnabled() const {
    return runValue().has_value() && !isSwitchedOff();
}

}  // namespace hushwell
