#include "desktop/Autostart.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/Fakes.h"

namespace hushwell::testing {
namespace {

constexpr const char* kEntryName = "io.github.hushwell.Hushwell.desktop";

// A program that leaves its arguments in PROGRAM.ran when it runs.
std::filesystem::path makeProgram(const std::filesystem::path& file) {
    std::filesystem::create_directories(file.parent_path());
    writeFile(file,
              "#!/bin/sh\nprintf %s \"$*\" > \"$0.ran.part\" && mv \"$0.ran.part\" \"$0.ran\"\n");
    std::filesystem::permissions(file, std::filesystem::perms::owner_all);
    return file;
}

// The value of `key` in the entry, or nothing.
std::optional<std::string> valueOf(const std::filesystem::path& entry, const std::string& key) {
    const std::string text = readFile(entry);
    const std::string prefix = "\n" + key + "=";
    const std::size_t at = text.find(prefix);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t begin = at + prefix.size();
    return text.substr(begin, text.find('\n', begin) - begin);
}

std::string execOf(const std::filesystem::path& program) {
    return "\"" + program.string() + "\" --autostart";
}

// What GLib's launcher starts from the entry, in an environment of the test's own (`path` first
// on PATH): the arguments that `program` got, or nothing when it started nothing.
std::optional<std::string> launchedWith(const std::filesystem::path& entry,
                                        const std::filesystem::path& program,
                                        const std::string& path = "") {
    const std::string home = entry.parent_path().parent_path().string();
    const std::string search = (path.empty() ? "" : path + ":") + "/usr/bin:/bin";
    if (std::system(("cd / && PATH='" + search + "' HOME='" + home + "' XDG_CONFIG_HOME='" + home +
                     "' XDG_DATA_HOME='" + home +
                     "' DBUS_SESSION_BUS_ADDRESS=disabled: gio launch '" + entry.string() +
                     "' 2>/dev/null")
                        .c_str()) != 0) {
        return std::nullopt;
    }
    // gio returns once the program is spawned: a generous limit turns "never ran" into a failure.
    const std::filesystem::path ran = program.string() + ".ran";
    for (int wait = 0; wait < 400 && !std::filesystem::exists(ran); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return std::filesystem::exists(ran) ? std::optional(readFile(ran)) : std::nullopt;
}

class AutostartEntry : public ::testing::Test {
protected:
    TempDir m_dir;
    std::filesystem::path m_entry = m_dir.path() / "config" / "autostart" / kEntryName;

    Autostart autostartOf(const std::filesystem::path& program, const std::string& path = "") {
        return Autostart({program, m_entry, path});
    }
};

TEST_F(AutostartEntry, IsWrittenReadBackAndRemovedAndNothingElse) {
    const auto program = makeProgram(m_dir.path() / "build" / "hushwell");
    const Autostart autostart = autostartOf(program);
    std::filesystem::create_directories(m_entry.parent_path());
    writeFile(m_dir.path() / "config" / "autostart" / "other.desktop", "[Desktop Entry]\n");
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_EQ(autostart.enable(), std::nullopt);
    EXPECT_TRUE(autostart.isEnabled());
    EXPECT_EQ(readFile(m_entry).rfind("[Desktop Entry]\nType=Application\n", 0), 0U);
    EXPECT_EQ(valueOf(m_entry, "Exec"), execOf(program));
    EXPECT_EQ(launchedWith(m_entry, program), "--autostart");
    EXPECT_EQ(valueOf(m_entry, "Icon"), "io.github.hushwell.Hushwell");
    EXPECT_EQ(autostart.disable(), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(m_entry));
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_EQ(readFile(m_dir.path() / "config" / "autostart" / "other.desktop"),
              "[Desktop Entry]\n");
    EXPECT_EQ(autostart.disable(), std::nullopt) << "nothing to remove is no error";
}

struct OnPath {
    const char* name;
    bool programOnPath;  // PATH's "hushwell" is the program (a link to it counts)
    bool linked;
    bool otherCopyFirst;  // another "hushwell" stands earlier on PATH
    bool menuCommand;     // Exec=hushwell, as the menu entry
};

void PrintTo(const OnPath& c, std::ostream* out) {
    *out << c.name;
}

class AutostartCommand : public AutostartEntry, public ::testing::WithParamInterface<OnPath> {};

TEST_P(AutostartCommand, IsTheMenuEntrysOnlyForTheCopyOnPath) {
    const OnPath& c = GetParam();
    const auto program = makeProgram(m_dir.path() / "usr" / "bin" / "hushwell");
    std::string path = "relative/bin::/nonexistent";
    if (c.otherCopyFirst) {
        (void)makeProgram(m_dir.path() / "opt" / "hushwell");
        path += ":" + (m_dir.path() / "opt").string();
    }
    if (c.linked) {
        std::filesystem::create_directories(m_dir.path() / "links");
        std::filesystem::create_symlink(program, m_dir.path() / "links" / "hushwell");
        path += ":" + (m_dir.path() / "links").string();
    } else if (c.programOnPath) {
        path += ":" + program.parent_path().string();
    }
    const Autostart autostart = autostartOf(program, path);
    ASSERT_EQ(autostart.enable(), std::nullopt);
    EXPECT_EQ(valueOf(m_entry, "Exec"), c.menuCommand ? "hushwell --autostart" : execOf(program));
}

INSTANTIATE_TEST_SUITE_P(Copies, AutostartCommand,
                         ::testing::Values(OnPath{"Installed", true, false, false, true},
                                           OnPath{"LinkedOnPath", true, true, false, true},
                                           OnPath{"NotOnPath", false, false, false, false},
                                           OnPath{"AnotherCopyFirst", true, false, true, false}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

struct Quoting {
    const char* name;
    std::string folder;
    std::string exec;  // with @ for the temporary folder
};

void PrintTo(const Quoting& c, std::ostream* out) {
    *out << c.name;
}

class AutostartQuoting : public AutostartEntry, public ::testing::WithParamInterface<Quoting> {};

TEST_P(AutostartQuoting, QuotesAndEscapesThePathAndReadsItBack) {
    const Quoting& c = GetParam();
    const auto program = makeProgram(m_dir.path() / c.folder / "hushwell");
    const Autostart autostart = autostartOf(program);
    ASSERT_EQ(autostart.enable(), std::nullopt);
    std::string expected = c.exec;
    expected.replace(expected.find('@'), 1, m_dir.path().string());
    EXPECT_EQ(valueOf(m_entry, "Exec"), expected);
    if (std::system("command -v desktop-file-validate >/dev/null") == 0) {
        EXPECT_EQ(std::system(("desktop-file-validate '" + m_entry.string() + "'").c_str()), 0);
    }
    EXPECT_EQ(launchedWith(m_entry, program), "--autostart");
    // The entry names this copy: a repair leaves it, with an argument the user added.
    std::string text = readFile(m_entry);
    text.insert(text.find('\n', text.find("\nExec=") + 1), " --minimized");
    writeFile(m_entry, text);
    const std::string edited = readFile(m_entry);
    EXPECT_EQ(autostart.repair(), std::nullopt);
    EXPECT_EQ(readFile(m_entry), edited);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, AutostartQuoting,
    ::testing::Values(
        Quoting{"Plain", "bin", "\"@/bin/hushwell\" --autostart"},
        Quoting{"Blanks", "My Programs", "\"@/My Programs/hushwell\" --autostart"},
        Quoting{"Reserved", "a\"b`c$d", "\"@/a\\\\\"b\\\\`c\\\\$d/hushwell\" --autostart"},
        Quoting{"Apostrophe", "it's", "\"@/it's/hushwell\" --autostart"},
        Quoting{"Backslash", "back\\slash", "\"@/back\\\\\\\\slash/hushwell\" --autostart"},
        Quoting{"Percent", "100%", "env \"@/100%%/hushwell\" --autostart"},
        Quoting{"LineBreak", "two\nlines", "\"@/two\\nlines/hushwell\" --autostart"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(AutostartEntry, RepairWritesAMissingEntryAndGivesAnEarlierVersionsEntryTheArgument) {
    const auto program = makeProgram(m_dir.path() / "bin" / "hushwell");
    EXPECT_EQ(autostartOf(program).repair(), std::nullopt);
    EXPECT_EQ(valueOf(m_entry, "Exec"), execOf(program));
    const std::string text = readFile(m_entry);
    writeFile(m_entry,
              text.substr(0, text.find(" --autostart")) + text.substr(text.find("\nIcon")));
    EXPECT_EQ(autostartOf(program).repair(), std::nullopt);
    EXPECT_EQ(readFile(m_entry), text);
}

TEST_F(AutostartEntry, RepairNamesTheCopyThatWasMoved) {
    const auto before = makeProgram(m_dir.path() / "Downloads" / "hushwell");
    ASSERT_EQ(autostartOf(before).enable(), std::nullopt);
    const auto after = m_dir.path() / "Programs" / "hushwell";
    std::filesystem::create_directories(after.parent_path());
    std::filesystem::rename(before, after);
    EXPECT_EQ(autostartOf(after).repair(), std::nullopt);
    EXPECT_EQ(valueOf(m_entry, "Exec"), execOf(after));
}

TEST_F(AutostartEntry, RepairTakesTheEntryOfAnotherCopy) {
    const auto installed = makeProgram(m_dir.path() / "usr" / "bin" / "hushwell");
    const auto build = makeProgram(m_dir.path() / "build" / "hushwell");
    const std::string path = installed.parent_path().string();
    ASSERT_EQ(autostartOf(installed, path).enable(), std::nullopt);
    ASSERT_EQ(valueOf(m_entry, "Exec"), "hushwell --autostart");
    EXPECT_EQ(autostartOf(installed, path).repair(), std::nullopt);
    EXPECT_EQ(valueOf(m_entry, "Exec"), "hushwell --autostart")
        << "the installed copy keeps its entry";
    EXPECT_EQ(autostartOf(build, path).repair(), std::nullopt);
    EXPECT_EQ(valueOf(m_entry, "Exec"), execOf(build));
}

struct HandEdit {
    const char* name;
    std::string line;      // @ for the folder of this copy, which PATH holds
    std::string repaired;  // the line after a repair; empty: the entry starts another program
    const char* launched;  // the arguments GLib's launcher then gives this copy; null: not tried
};

class AutostartHandEdit : public AutostartEntry, public ::testing::WithParamInterface<HandEdit> {};

TEST_P(AutostartHandEdit, IsKeptWhileItStartsThisCopyAndGainsTheArgument) {
    const HandEdit& c = GetParam();
    const auto program = makeProgram(m_dir.path() / "My Programs" / "hushwell");
    const auto here = [&program](std::string line) {
        if (const std::size_t at = line.find('@'); at != std::string::npos) {
            line.replace(at, 1, program.parent_path().string());
        }
        return "[Desktop Entry]\nType=Application\nName=Mine\n# mine\n" + line + "\nX-Mine=1";
    };
    std::filesystem::create_directories(m_entry.parent_path());
    writeFile(m_entry, here(c.line));
    const std::string path = program.parent_path().string();
    EXPECT_EQ(autostartOf(program, path).repair(), std::nullopt);
    if (c.repaired.empty()) {
        EXPECT_EQ(valueOf(m_entry, "Name"), "Hushwell") << "written anew";
        return;
    }
    EXPECT_EQ(readFile(m_entry), here(c.repaired));
    if (c.launched != nullptr) {
        EXPECT_EQ(launchedWith(m_entry, program, path), c.launched);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, AutostartHandEdit,
    ::testing::Values(
        HandEdit{"Env", "Exec=env QT_QPA_PLATFORM=xcb hushwell",
                 "Exec=env QT_QPA_PLATFORM=xcb hushwell --autostart", "--autostart"},
        HandEdit{"EnvOptions", "Exec=/usr/bin/env -u DISPLAY -i A=1 \"@/hushwell\" %U",
                 "Exec=/usr/bin/env -u DISPLAY -i A=1 \"@/hushwell\" --autostart %U", nullptr},
        HandEdit{"QuotedPathWithBlanks", "Exec=\"@/hushwell\"", "Exec=\"@/hushwell\" --autostart",
                 "--autostart"},
        HandEdit{"ArgumentsAfter", "Exec=hushwell --minimized -v",
                 "Exec=hushwell --autostart --minimized -v", "--autostart --minimized -v"},
        HandEdit{"ArgumentsBefore", "Exec=env A=1 nohup \"@/hushwell\" -v",
                 "Exec=env A=1 nohup \"@/hushwell\" --autostart -v", "--autostart -v"},
        HandEdit{"AlreadyThere", "Exec=hushwell -v --autostart --minimized",
                 "Exec=hushwell -v --autostart --minimized", nullptr},
        HandEdit{"Shell", "Exec=sh -c \"sleep 5 && exec hushwell --autostart\"",
                 "Exec=sh -c \"sleep 5 && exec hushwell --autostart\"", nullptr},
        HandEdit{"ShellSingleQuotes", "Exec=bash -lc 'cd /tmp; nohup hushwell &'",
                 "Exec=bash -lc 'cd /tmp; nohup hushwell --autostart &'", nullptr},
        HandEdit{"ShellAnotherFirst", "Exec=sh -c \"pactl info; 'hushwell' -v\"",
                 "Exec=sh -c \"pactl info; 'hushwell' --autostart -v\"", nullptr},
        HandEdit{"ShellNotQuoted", "Exec=sh -c hushwell", "Exec=sh -c hushwell", nullptr},
        HandEdit{"BlanksAroundEquals", "Exec = hushwell", "Exec = hushwell --autostart", nullptr},
        HandEdit{"Another", "Exec=hushwell-beta", "", nullptr},
        HandEdit{"ShellNamesIt", "Exec=sh -c \"notify-send hushwell\"", "", nullptr},
        HandEdit{"ShellScript", "Exec=sh @/hushwell", "", nullptr},
        HandEdit{"Comment", "#Exec=hushwell", "", nullptr},
        HandEdit{"FieldCodeInProgram", "Exec=\"@/hushwell%%\"", "", nullptr}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

struct Switch {
    const char* name;
    std::string line;
    bool movedCopy;  // the entry starts a copy that has moved since
};

class AutostartSwitch : public AutostartEntry, public ::testing::WithParamInterface<Switch> {};

TEST_P(AutostartSwitch, OffIsKeptByAStartAndOnlyTheOptionTurnsItOn) {
    const Switch& c = GetParam();
    const auto program = makeProgram(m_dir.path() / "bin" / "hushwell");
    const auto moved = m_dir.path() / "moved" / "hushwell";
    std::filesystem::create_directories(m_entry.parent_path());
    const std::string edited = "[Desktop Entry]\nExec=nohup \"" +
                               (c.movedCopy ? moved : program).string() + "\"\n" + c.line + "\n";
    writeFile(m_entry, edited);
    const Autostart autostart = autostartOf(program);
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_EQ(autostart.repair(), std::nullopt);
    EXPECT_EQ(readFile(m_entry), edited);
    EXPECT_EQ(autostart.enable(), std::nullopt);
    EXPECT_TRUE(autostart.isEnabled());
    EXPECT_EQ(valueOf(m_entry, "Exec"),
              c.movedCopy ? execOf(program) : "nohup \"" + program.string() + "\" --autostart");
}

INSTANTIATE_TEST_SUITE_P(
    Lines, AutostartSwitch,
    ::testing::Values(Switch{"Hidden", "Hidden=true", false},
                      Switch{"HiddenWithBlanks", "Hidden = true", false},
                      Switch{"Gnome", "X-GNOME-Autostart-enabled=false", false},
                      Switch{"HiddenMovedCopy", "Hidden=true", true},
                      Switch{"GnomeZeroMovedCopy", "X-GNOME-Autostart-enabled=0", true}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(AutostartEntry, APathNoEntryCanHoldIsTold) {
    for (const std::string folder : {"caf\xe9", "100%=off"}) {
        const auto program = makeProgram(m_dir.path() / folder / "hushwell");
        const std::optional<std::string> error = autostartOf(program).enable();
        ASSERT_TRUE(error.has_value()) << folder;
        EXPECT_NE(error->find("no autostart entry can hold the path of its file"),
                  std::string::npos)
            << *error;
        EXPECT_FALSE(std::filesystem::exists(m_entry));
    }
}

TEST_F(AutostartEntry, TheOptionAndTheEntryChangeTogetherOrNeither) {
    const auto program = makeProgram(m_dir.path() / "bin" / "hushwell");
    std::vector<bool> saved;
    const auto readOnly = [&saved](bool on) {
        saved.push_back(on);
        throw std::runtime_error("Couldn't save the option StartWithDesktop: no.");
    };
    EXPECT_EQ(setStartWithDesktop(autostartOf(program), true, false, readOnly),
              "Couldn't save the option StartWithDesktop: no. Hushwell does not start with the "
              "desktop.");
    EXPECT_FALSE(std::filesystem::exists(m_entry));
    // The option saved, the entry not: the option is saved back.
    saved.clear();
    writeFile(m_dir.path() / "elsewhere", "a file");
    const Autostart unwritable({program, m_dir.path() / "elsewhere" / kEntryName, ""});
    const std::optional<std::string> error =
        setStartWithDesktop(unwritable, true, false, [&saved](bool on) { saved.push_back(on); });
    EXPECT_EQ(saved, (std::vector<bool>{true, false}));
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->rfind("Couldn't make Hushwell start with the desktop: ", 0), 0U) << *error;
}

TEST_F(AutostartEntry, AFolderThatCannotBeWrittenIsReported) {
    const auto program = makeProgram(m_dir.path() / "bin" / "hushwell");
    // A file where the configuration folder should be: nobody, root included, writes into it.
    writeFile(m_dir.path() / "config", "a file");
    const std::optional<std::string> error = autostartOf(program).enable();
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(
        error->rfind("Couldn't make Hushwell start with the desktop: cannot make the folder \"" +
                         (m_dir.path() / "config" / "autostart").string() + "\": ",
                     0),
        0U)
        << *error;
    EXPECT_EQ(readFile(m_dir.path() / "config"), "a file");
}

TEST_F(AutostartEntry, AnEntryThatCannotBeRemovedIsReported) {
    const auto program = makeProgram(m_dir.path() / "bin" / "hushwell");
    std::filesystem::create_directories(m_entry);
    writeFile(m_entry / "inside", "kept");
    const std::optional<std::string> error = autostartOf(program).disable();
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->rfind("Couldn't stop Hushwell starting with the desktop: cannot remove \"" +
                               m_entry.string() + "\": ",
                           0),
              0U)
        << *error;
    EXPECT_EQ(readFile(m_entry / "inside"), "kept");
}

// Sets an environment variable for the life of the object.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_old = old;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() {
        if (m_old) {
            ::setenv(m_name, m_old->c_str(), 1);
        } else {
            ::unsetenv(m_name);
        }
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST(Autostart, FollowsXdgConfigHomeAndNamesThisProgram) {
    TempDir dir;
    const ScopedVariable home("HOME", (dir.path() / "home").string());
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    {
        const ScopedVariable config("XDG_CONFIG_HOME", (dir.path() / "config").string());
        ASSERT_EQ(Autostart().enable(), std::nullopt);
        const auto entry = dir.path() / "config" / "autostart" / kEntryName;
        EXPECT_EQ(valueOf(entry, "Exec"), execOf(self));
        EXPECT_TRUE(Autostart().isEnabled());
        EXPECT_EQ(Autostart().disable(), std::nullopt);
        EXPECT_FALSE(std::filesystem::exists(entry));
    }
    // A relative XDG_CONFIG_HOME is not one: the default, ~/.config, is used.
    const ScopedVariable config("XDG_CONFIG_HOME", "relative");
    ASSERT_EQ(Autostart().enable(), std::nullopt);
    EXPECT_TRUE(
        std::filesystem::exists(dir.path() / "home" / ".config" / "autostart" / kEntryName));
}

}  // namespace
}  // namespace hushwell::testing
