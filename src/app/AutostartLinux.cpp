#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "app/Autostart.h"
#include "engine/ProgramName.h"
#include "settings/AtomicFile.h"
#include "settings/PathText.h"

namespace hushwell {
namespace {

// The name the menu entry's Exec runs.
constexpr std::string_view kCommandName = "hushwell";

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::filesystem::path usualEntry() {
    std::string base = environment("XDG_CONFIG_HOME");
    if (base.empty() || base.front() != '/') {
        const std::string home = environment("HOME");
        if (home.empty()) {
            return {};
        }
        base = home + "/.config";
    }
    return std::filesystem::path(base) / "autostart" / (std::string(kProgramId) + ".desktop");
}

std::filesystem::path runningProgram() {
    std::error_code error;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    // An executable replaced since it started (an upgrade) reads as "PATH (deleted)"; its
    // successor is the program to start next time.
    constexpr std::string_view kDeleted = " (deleted)";
    const std::string text = exe.native();
    if (text.ends_with(kDeleted) && !std::filesystem::exists(exe, error)) {
        exe = text.substr(0, text.size() - kDeleted.size());
    }
    return exe;
}

bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code error;
    return std::filesystem::equivalent(a, b, error) && !error;
}

// The executable that a search of `searchPath` finds under `name`; empty when none. Relative
// entries are skipped: the session starts the entry from a folder nobody can tell.
std::filesystem::path onPath(std::string_view name, std::string_view searchPath) {
    std::size_t at = 0;
    while (at <= searchPath.size()) {
        const std::size_t colon = std::min(searchPath.find(':', at), searchPath.size());
        const std::string_view folder = searchPath.substr(at, colon - at);
        at = colon + 1;
        if (folder.empty() || folder.front() != '/') {
            continue;
        }
        std::filesystem::path candidate = std::filesystem::path(folder) / name;
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

// The path as one argument of Exec, as the value stands in the file: quoted, with the characters
// that the quotes reserve escaped, '%' doubled (field codes), and then the escapes of every
// string value of a desktop entry.
std::string execArgument(const std::string& path) {
    std::string quoted = "\"";
    for (const char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
        if (c == '%') {
            quoted += '%';
        }
    }
    quoted += '"';
    std::string value;
    for (const char c : quoted) {
        switch (c) {
            case '\\':
                value += "\\\\";
                break;
            case '\n':
                value += "\\n";
                break;
            case '\t':
                value += "\\t";
                break;
            case '\r':
                value += "\\r";
                break;
            default:
                value += c;
        }
    }
    return value;
}

// The program that an Exec value, as it stands in the file, runs: its first argument.
std::string firstArgument(std::string_view value) {
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            text += value[i];
            continue;
        }
        switch (value[++i]) {
            case 's':
                text += ' ';
                break;
            case 'n':
                text += '\n';
                break;
            case 't':
                text += '\t';
                break;
            case 'r':
                text += '\r';
                break;
            case '\\':
                text += '\\';
                break;
            default:  // not a string escape: Exec's own, kept for the quoting below
                text += '\\';
                text += value[i];
        }
    }
    std::string argument;
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    if (i < text.size() && text[i] == '"') {
        for (++i; i < text.size() && text[i] != '"'; ++i) {
            if (text[i] == '\\' && i + 1 < text.size()) {
                ++i;
            }
            argument += text[i];
        }
    } else {
        for (; i < text.size() && text[i] != ' '; ++i) {
            argument += text[i];
        }
    }
    std::string unescaped;
    for (std::size_t k = 0; k < argument.size(); ++k) {
        unescaped += argument[k];
        if (argument[k] == '%' && k + 1 < argument.size() && argument[k + 1] == '%') {
            ++k;
        }
    }
    return unescaped;
}

struct Entry {
    bool readable = false;
    bool hasExec = false;
    std::string exec;
    bool switchedOff = false;  // Hidden=true or X-GNOME-Autostart-enabled=false
};

Entry readEntry(const std::filesystem::path& file) {
    Entry entry;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return entry;
    }
    entry.readable = true;
    std::string line;
    bool inGroup = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.starts_with('[')) {
            inGroup = line == "[Desktop Entry]";
        } else if (inGroup && line.starts_with("Exec=")) {
            entry.hasExec = true;
            entry.exec = line.substr(5);
        } else if (inGroup &&
                   (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false")) {
            entry.switchedOff = true;
        }
    }
    return entry;
}

std::string withReason(const std::string& what, const std::error_code& error) {
    return what + ": " + error.message();
}

}  // namespace

Autostart::Autostart() : m_facts{runningProgram(), usualEntry(), environment("PATH")} {}

std::string Autostart::command() const {
    const std::filesystem::path found = onPath(kCommandName, m_facts.searchPath);
    if (!found.empty() && sameFile(found, m_facts.program)) {
        return std::string(kCommandName);
    }
    return execArgument(m_facts.program.native());
}

std::optional<std::string> Autostart::enable() const {
    const std::string failed = "Couldn't make Hushwell start with the desktop: ";
    if (m_facts.entry.empty()) {
        return failed + "neither XDG_CONFIG_HOME nor HOME tells where the autostart folder is.";
    }
    if (m_facts.program.empty()) {
        return failed + "the system does not tell where this program's file is.";
    }
    std::error_code error;
    const std::filesystem::path folder = m_facts.entry.parent_path();
    std::filesystem::create_directories(folder, error);
    if (error) {
        return failed + withReason("cannot make the folder \"" + pathText(folder) + "\"", error) +
               ".";
    }
    std::ostringstream text;
    text << "[Desktop Entry]\n"
         << "Type=Application\n"
         << "Name=" << kProgramName << "\n"
         << "Comment=Written by Hushwell's option \"Start with the desktop\"\n"
         << "Exec=" << command() << "\n"
         << "Icon=" << kProgramId << "\n"
         << "Terminal=false\n"
         << "X-GNOME-Autostart-enabled=true\n";
    try {
        writeFileAtomically(m_facts.entry, text.str());
    } catch (const std::exception& failure) {
        return failed + failure.what() + ".";
    }
    return std::nullopt;
}

std::optional<std::string> Autostart::disable() const {
    std::error_code error;
    if (!m_facts.entry.empty() && !std::filesystem::remove(m_facts.entry, error) && error) {
        return "Couldn't stop Hushwell starting with the desktop: " +
               withReason("cannot remove \"" + pathText(m_facts.entry) + "\"", error) + ".";
    }
    return std::nullopt;
}

bool Autostart::isEnabled() const {
    const Entry entry = readEntry(m_facts.entry);
    return entry.readable && entry.hasExec && !entry.switchedOff;
}

std::optional<std::string> Autostart::repair() const {
    const Entry entry = readEntry(m_facts.entry);
    if (entry.readable && entry.hasExec) {
        const std::string program = firstArgument(entry.exec);
        const std::filesystem::path started = program.find('/') == std::string::npos
                                                  ? onPath(program, m_facts.searchPath)
                                                  : std::filesystem::path(program);
        if (!started.empty() && sameFile(started, m_facts.program)) {
            return std::nullopt;
        }
    }
    return enable();
}

}  // namespace hushwell
