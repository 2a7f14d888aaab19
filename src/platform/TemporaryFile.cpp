#include "platform/TemporaryFile.h"

#include <algorithm>
#include <cstdio>
#include <random>

#include "platform/PathText.h"

namespace hushwell::atomic_file {
namespace {

// The suffix is 16 lowercase hexadecimal digits.
constexpr std::size_t kSuffixLength = 16;

}  // namespace

std::string randomSuffix() {
    static std::mt19937_64 generator{std::random_device{}()};
    char suffix[kSuffixLength + 1];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(generator()));
    return suffix;
}

std::filesystem::path temporaryFor(std::filesystem::path file, const std::string& suffix) {
    return file += ".tmp-" + suffix;
}

bool isTemporaryName(const std::filesystem::path::string_type& name,
                     const std::filesystem::path& file) {
    const std::filesystem::path::string_type prefix = temporaryFor(file.filename(), "").native();
    return name.size() == prefix.size() + kSuffixLength && name.starts_with(prefix) &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       [](auto c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::filesystem::path folderOf(const std::filesystem::path& file) {
    return file.parent_path().empty() ? std::filesystem::path(".") : file.parent_path();
}

std::string quoted(const std::filesystem::path& path) {
    return "\"" + pathText(path) + "\"";
}

}  // namespace hushwell::atomic_file
