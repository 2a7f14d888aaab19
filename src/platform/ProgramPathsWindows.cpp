#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/ProgramNames.h"
#include "platform/ProgramPaths.h"

namespace hushwell {
namespace {

// Wide: a user name outside the ANSI code page is part of the path.
std::filesystem::path environmentPath(const wchar_t* name) {
    const wchar_t* value = _wgetenv(name);
    return value != nullptr ? std::filesystem::path(value) : std::filesystem::path();
}

}  // namespace

std::filesystem::path ProgramPaths::executable() {
    std::wstring buffer(32768, L'\0');
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) {
        return {};
    }
    buffer.resize(length);
    return buffer;
}

std::filesystem::path ProgramPaths::configFolder() {
    const std::filesystem::path base = environmentPath(L"APPDATA");
    return base.empty() ? std::filesystem::path() : base / kProgramName;
}

std::filesystem::path ProgramPaths::stateFolder() {
    const std::filesystem::path base = environmentPath(L"LOCALAPPDATA");
    return base.empty() ? std::filesystem::path() : base / kProgramName;
}

}  // namespace hushwell
