#include "settings/OptionsFile.h"

#include <stdexcept>

#include "platform/AtomicFile.h"
#include "platform/PathText.h"
#include "platform/RegularFile.h"

namespace hushwell {
namespace {

// An options file is a few hundred bytes; anything far larger is some other file.
constexpr std::size_t kMaxFileSize = 1 << 20;

std::string readWhole(const std::filesystem::path& file) {
    std::string text = readRegularFile(file, kMaxFileSize);
    if (text.find('\0') != std::string::npos) {
        throw std::runtime_error("it is not a text file");
    }
    return text;
}

bool fileExists(const std::filesystem::path& file) {
    std::error_code error;
    // A link that leads nowhere counts as a file: reading it reports what is wrong.
    return std::filesystem::exists(std::filesystem::symlink_status(file, error));
}

}  // namespace

OptionsFile OptionsFile::besideSettings(const SettingsLocation& settings) {
    return {settings.loadFrom().parent_path() / kOptionsFileName,
            settings.saveTo().parent_path() / kOptionsFileName};
}

const std::filesystem::path& OptionsFile::current() const {
    return fileExists(m_saveTo) || !fileExists(m_loadFrom) ? m_saveTo : m_loadFrom;
}

LoadedOptions OptionsFile::load() const {
    const std::filesystem::path& file = current();
    if (!fileExists(file)) {
        return {};
    }
    try {
        return parseOptions(readWhole(file), pathText(file.filename()));
    } catch (const std::runtime_error& error) {
        LoadedOptions unread;
        unread.problems.push_back("The options in \"" + pathText(file) + "\" cannot be read (" +
                                  error.what() + "); the defaults are used.");
        return unread;
    }
}

void OptionsFile::save(Option which, const Options& options) {
    const std::filesystem::path& from = current();
    try {
        const std::string text = fileExists(from) ? readWhole(from) : std::string();
        const std::string changed = withOption(text, which, options);
        std::error_code ignored;
        std::filesystem::create_directories(m_saveTo.parent_path(), ignored);
        writeFileAtomically(m_saveTo, changed);
    } catch (const std::exception& error) {
        throw std::runtime_error("Couldn't save the option " + std::string(keyOf(which).name) +
                                 " to \"" + pathText(m_saveTo) + "\": " + error.what() +
                                 ". The file is unchanged.");
    }
}

}  // namespace hushwell
