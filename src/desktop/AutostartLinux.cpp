#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "desktop/Autostart.h"
#include "desktop/ExecLine.h"
#include "platform/AtomicFile.h"
#include "platform/PathText.h"
#include "platform/ProgramNames.h"
#include "platform/ProgramPaths.h"
#include "settings/IniEdits.h"
#include "settings/IniLines.h"

namespace hushwell {
namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::filesystem::path usualEntry() {
    const std::filesystem::path folder = ProgramPaths::autostartFolder();
    return folder.empty() ? folder : folder / (std::string(kProgramId) + ".desktop");
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

struct Entry {
    bool readable = false;
    std::string text;
    std::optional<std::string> exec;
    std::size_t execAt = 0;    // where Exec's value stands in the text
    bool hidden = false;       // Hidden=true: no desktop starts it
    bool gnomeEnabled = true;  // X-GNOME-Autostart-enabled=false: GNOME's own switch
    [[nodiscard]] bool switchedOff() const { return hidden || !gnomeEnabled; }
};

// The group the desktop reads; its name and its keys are matched exactly, as the desktop does.
constexpr std::string_view kEntryGroup = "Desktop Entry";

bool inEntryGroup(const IniLine& line) {
    return line.kind == IniLine::Kind::Value && line.inSection && line.section == kEntryGroup;
}

Entry readEntry(const std::filesystem::path& file) {
    Entry entry;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return entry;
    }
    entry.readable = true;
    std::ostringstream whole;
    whole << in.rdbuf();
    entry.text = whole.str();
    IniLines lines(entry.text);
    for (IniLine line; lines.next(line);) {
        if (!inEntryGroup(line)) {
            continue;
        }
        if (line.key == "Exec") {
            entry.exec = std::string(line.value);
            entry.execAt = line.valueBegin;
        } else if (line.key == "Hidden") {
            entry.hidden = line.value == "true" || line.value == "1";
        } else if (line.key == "X-GNOME-Autostart-enabled") {
            entry.gnomeEnabled = !(line.value == "false" || line.value == "0");
        }
    }
    return entry;
}

// `text` switched on: the keys that switch it off dropped, every other line kept.
std::string switchedOn(const std::string& text) {
    std::string result = withoutIniLines(text, [](const IniLine& line) {
        return inEntryGroup(line) &&
               (line.key == "Hidden" || line.key == "X-GNOME-Autostart-enabled");
    });
    // The entry is rewritten whole, its last line ended as every line it writes is.
    if (!result.empty() && result.back() != '\n') {
        result += '\n';
    }
    return result;
}

std::string entryText(const std::string& exec) {
    std::ostringstream text;
    text << "[Desktop Entry]\n"
         << "Type=Application\n"
         << "Name=" << kProgramName << "\n"
         << "Comment=Written by Hushwell's option \"Start with the desktop\"\n"
         << "Exec=" << exec << "\n"
         << "Icon=" << kProgramId << "\n"
         << "Terminal=false\n"
         << "X-GNOME-Autostart-enabled=true\n";
    return text.str();
}

std::string withReason(const std::string& what, const std::error_code& error) {
    return what + ": " + error.message();
}

}  // namespace

Autostart::Autostart() : m_facts{ProgramPaths::executable(), usualEntry(), environment("PATH")} {}

namespace {

// What runs this copy, as Exec's value without the argument; nothing when no entry can hold it.
std::optional<std::string> programCommand(const Autostart::Facts& facts) {
    const std::filesystem::path found = onPath(kCommandName, facts.searchPath);
    if (!found.empty() && sameFile(found, facts.program)) {
        return std::string(kCommandName);
    }
    const std::string& path = facts.program.native();
    std::optional<std::string> quoted = execArgument(path);
    if (!quoted || path.find('%') == std::string::npos) {
        return quoted;
    }
    // env would take a path with '=' in it for a variable to set.
    if (path.find('=') != std::string::npos) {
        return std::nullopt;
    }
    return "env " + *quoted;
}

bool isThisCopy(const std::string& program, const Autostart::Facts& facts) {
    const std::filesystem::path started = program.find('/') == std::string::npos
                                              ? onPath(program, facts.searchPath)
                                              : std::filesystem::path(program);
    return !started.empty() && sameFile(started, facts.program);
}

bool startsThisCopy(const std::string& exec, const Autostart::Facts& facts) {
    const std::vector<StartedProgram> programs = startedPrograms(exec);
    return std::any_of(programs.begin(), programs.end(), [&facts](const StartedProgram& program) {
        return isThisCopy(program.name, facts);
    });
}

// `exec` with the argument given to each start of this copy that lacks it and can take it,
// every other byte kept: at log-in it then waits for the sound server.
std::string withAutostartArgument(std::string exec, const Autostart::Facts& facts) {
    const std::vector<StartedProgram> programs = startedPrograms(exec);
    // From the last, so that what is added leaves the places of the others where they were.
    for (std::size_t i = programs.size(); i-- > 0;) {
        const std::vector<std::string>& arguments = programs[i].arguments;
        if (isThisCopy(programs[i].name, facts) &&
            std::find(arguments.begin(), arguments.end(), kAutostartOption) == arguments.end()) {
            exec = withArgument(exec, i, kAutostartOption).value_or(exec);
        }
    }
    return exec;
}

}  // namespace

std::optional<std::string> Autostart::write(bool switchOn) const {
    const std::string failed = "Couldn't make Hushwell start with the desktop: ";
    if (m_facts.entry.empty()) {
        return failed + "neither XDG_CONFIG_HOME nor HOME tells where the autostart folder is.";
    }
    if (m_facts.program.empty()) {
        return failed + "the system does not tell where this program's file is.";
    }
    const std::optional<std::string> command = programCommand(m_facts);
    if (!command) {
        return failed + "no autostart entry can hold the path of its file, \"" +
               pathText(m_facts.program) + "\" (" +
               (execArgument(m_facts.program.native()) ? "a folder's name has both '%' and '='"
                                                       : "it is not UTF-8 text") +
               "). Move Hushwell to a folder with a plainer name.";
    }
    const Entry entry = readEntry(m_facts.entry);
    if (entry.readable && entry.switchedOff() && !switchOn) {
        return std::nullopt;
    }
    std::string text = entryText(*command + " " + kAutostartOption);
    if (entry.exec && startsThisCopy(*entry.exec, m_facts)) {
        std::string kept = entry.text;
        kept.replace(entry.execAt, entry.exec->size(), withAutostartArgument(*entry.exec, m_facts));
        if (entry.switchedOff()) {
            kept = switchedOn(kept);
        }
        if (kept == entry.text) {
            return std::nullopt;
        }
        text = kept;
    }
    std::error_code error;
    const std::filesystem::path folder = m_facts.entry.parent_path();
    std::filesystem::create_directories(folder, error);
    if (error) {
        return failed + withReason("cannot make the folder \"" + pathText(folder) + "\"", error) +
               ".";
    }
    try {
        writeFileAtomically(m_facts.entry, text);
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
    return entry.exec.has_value() && !entry.switchedOff();
}

}  // namespace hushwell
