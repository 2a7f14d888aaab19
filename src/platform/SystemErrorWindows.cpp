#include <windows.h>

#include <filesystem>

#include "platform/PathText.h"
#include "platform/SystemError.h"

namespace hushwell {

std::string windowsErrorText(unsigned long error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message =
        length > 0 ? std::wstring(text, length) : L"error " + std::to_wstring(error);
    LocalFree(text);
    while (!message.empty() &&
           (message.back() == L'\n' || message.back() == L'\r' || message.back() == L'.')) {
        message.pop_back();
    }
    return pathText(std::filesystem::path(message));
}

}  // namespace hushwell
