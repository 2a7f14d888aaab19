#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace hushwell {

// The bytes of `file`, which must be an ordinary file of at most `maxBytes` bytes. What the name
// leads to is judged on the file once opened, so a link to a device, a pipe or a folder is refused
// rather than read without end or waited on; the read stops after `maxBytes` even when the file
// grows meanwhile.
//
// Throws std::runtime_error whose text says why as a phrase to put in a sentence: "it is a folder",
// "it is a device, not a file", "it is larger than 1 MB", or the system's reason.
[[nodiscard]] std::string readRegularFile(const std::filesystem::path& file, std::size_t maxBytes);

// True only for an ordinary file: a folder, or on Windows a hidden or system file, counts as
// absent.
[[nodiscard]] bool ordinaryFileExists(const std::filesystem::path& file);

// A limit in the words of that error: "1 MB", "4096 bytes".
[[nodiscard]] inline std::string sizeText(std::size_t bytes) {
    constexpr std::size_t kMegabyte = std::size_t{1} << 20;
    return bytes % kMegabyte == 0 && bytes > 0 ? std::to_string(bytes / kMegabyte) + " MB"
                                               : std::to_string(bytes) + " bytes";
}

}  // namespace hushwell
