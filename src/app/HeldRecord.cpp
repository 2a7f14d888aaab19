#include "app/HeldRecord.h"

#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

namespace hushwell {
namespace {

// A program's name longer than this is no name a sound server gives: the record is not trusted.
constexpr std::size_t kLongestProgram = 4096;

std::optional<std::filesystem::path> usualFile() {
#ifdef _WIN32
    // Wide: a user name outside the ANSI code page is part of the path.
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (local == nullptr || *local == L'\0') {
        return std::nullopt;
    }
    return std::filesystem::path(local) / L"Hushwell" / L"held";
#else
    // Not the runtime folder: logind empties that when the user's last session ends, which is
    // one of the endings this record is for, while the sound server keeps the lowered level.
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && *state == '/') {
        return std::filesystem::path(state) / "hushwell" / "held";
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home != '/') {
        return std::nullopt;
    }
    return std::filesystem::path(home) / ".local" / "state" / "hushwell" / "held";
#endif
}

}  // namespace

HeldRecord::HeldRecord() : m_file(usualFile()) {}

// Written whole under another name and renamed, so that a reader never finds half of it.
void HeldRecord::write(const HeldLevel& level) const {
    if (!m_file) {
        return;
    }
    std::error_code ignored;
    std::filesystem::create_directories(m_file->parent_path(), ignored);
    std::filesystem::path part = *m_file;
    part += ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out << level.upValue << ' ' << level.scale << ' ' << level.owner << '\n';
        // The name's length first: a name may hold any byte, a line's end too.
        if (!level.program.empty()) {
            out << level.program.size() << ' ' << level.program << '\n';
        }
        if (!out.flush()) {
            return;
        }
    }
    std::filesystem::rename(part, *m_file, ignored);
}

void HeldRecord::remove() const {
    if (m_file) {
        std::error_code ignored;
        std::filesystem::remove(*m_file, ignored);
    }
}

void HeldRecord::removeIfOwnedBy(std::int64_t owner) const {
    const std::optional<HeldLevel> level = read();
    if (level && (level->owner == 0 || level->owner == owner)) {
        remove();
    }
}

std::optional<HeldLevel> HeldRecord::read() const {
    if (!m_file) {
        return std::nullopt;
    }
    std::ifstream in(*m_file, std::ios::binary);
    HeldLevel level;
    if (!(in >> level.upValue >> level.scale) || level.upValue < 0 || level.scale <= 0) {
        return std::nullopt;
    }
    if (!(in >> level.owner)) {
        level.owner = 0;  // written before the owner was recorded
        return level;
    }
    std::size_t length = 0;
    if (!(in >> length)) {
        return level;  // the whole output, or written before programs were recorded
    }
    if (length == 0 || length > kLongestProgram || in.get() != ' ') {
        return std::nullopt;
    }
    level.program.resize(length);
    if (!in.read(level.program.data(), static_cast<std::streamsize>(length))) {
        return std::nullopt;
    }
    return level;
}

}  // namespace hushwell
