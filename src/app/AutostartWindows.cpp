#include <windows.h>

#include <string>
#include <system_error>

#include "app/Autostart.h"
#include "settings/PathText.h"

namespace hushwell {
namespace {

constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kValueName = L"Hushwell";

// The system's text for `error`, in UTF-8, without its final period and line end.
std::string reason(LSTATUS error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message =
        length > 0 ? std::wstring(text, length) : L"error " + std::to_wstring(error);
    LocalFree(text);
    while (!message.empty() &&
           (message.back() == L'\n' || message.back() == L'\r' || message.back() == L'.')) {
        message.pop_back();
    }
    return pathText(std::filesystem::path(message));
}

class Key {
public:
    Key() = default;
    ~Key() {
        if (m_key != nullptr) {
            RegCloseKey(m_key);
        }
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* out() { return &m_key; }
    [[nodiscard]] HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

std::filesystem::path runningProgram() {
    std::wstring buffer(32768, L'\0');
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) {
        return {};
    }
    buffer.resize(length);
    return buffer;
}

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

bool isThisProgram(const std::wstring& started, const std::filesystem::path& program) {
    std::error_code error;
    if (std::filesystem::equivalent(started, program, error) && !error) {
        return true;
    }
    // A path that cannot be opened now may still be this one, spelt in another case.
    return CompareStringOrdinal(started.c_str(), -1, program.c_str(), -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

Autostart::Autostart() : m_facts{runningProgram()} {}

std::string Autostart::command() const {
    return pathText(std::filesystem::path(L"\"" + m_facts.program.native() + L"\""));
}

std::optional<std::string> Autostart::enable() const {
    const std::string failed = "Couldn't make Hushwell start with Windows: ";
    if (m_facts.program.empty()) {
        return failed + "Windows does not tell where this program's file is.";
    }
    const std::wstring value = L"\"" + m_facts.program.native() + L"\"";
    Key key;
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE,
                                     nullptr, key.out(), nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(key.get(), kValueName, 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    if (status != ERROR_SUCCESS) {
        return failed + "cannot write the value \"Hushwell\" under HKEY_CURRENT_USER\\Software\\" +
               "Microsoft\\Windows\\CurrentVersion\\Run: " + reason(status) + ".";
    }
    return std::nullopt;
}

std::optional<std::string> Autostart::disable() const {
    Key key;
    LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, key.out());
    if (status == ERROR_SUCCESS) {
        status = RegDeleteValueW(key.get(), kValueName);
    }
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        return "Couldn't stop Hushwell starting with Windows: cannot remove the value "
               "\"Hushwell\" under HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\"
               "CurrentVersion\\Run: " +
               reason(status) + ".";
    }
    return std::nullopt;
}

bool Autostart::isEnabled() const {
    return runValue().has_value();
}

std::optional<std::string> Autostart::repair() const {
    const std::optional<std::wstring> value = runValue();
    if (value && isThisProgram(firstArgument(*value), m_facts.program)) {
        return std::nullopt;
    }
    return enable();
}

}  // namespace hushwell
