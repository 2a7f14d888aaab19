#include "desktop/ExecLine.h"

#include <algorithm>
#include <cctype>

#include "settings/OptionText.h"

namespace hushwell {
namespace {

// A word of a command line, and where each of its bytes came from: `from` holds, for each byte,
// its offset in the text it was read from, and one more, where a byte added at the end would go
// (inside the word's closing quote); `end` is where the word ends, past any closing quote.
struct Word {
    std::string text;
    std::vector<std::size_t> from;
    std::size_t end = 0;
};

// A desktop entry's string escapes: the letter after the backslash, and what it stands for.
constexpr std::string_view kEscaped = "sntr\\";
constexpr std::string_view kUnescaped = " \n\t\r\\";

// The string escapes of a desktop entry undone; a backslash before any other character is kept,
// for Exec's own quoting.
Word unescaped(std::string_view value) {
    Word text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        text.from.push_back(i);
        if (value[i] != '\\' || i + 1 == value.size()) {
            text.text += value[i];
            continue;
        }
        const std::size_t escape = kEscaped.find(value[++i]);
        if (escape != std::string_view::npos) {
            text.text += kUnescaped[escape];
        } else {
            text.text += '\\';
            text.from.push_back(i);
            text.text += value[i];
        }
    }
    text.from.push_back(value.size());
    text.end = value.size();
    return text;
}

using Command = std::vector<Word>;

// The words of `text` as a POSIX shell splits them, without its expansions. With `operators`,
// the characters that end a command in a script (; & | ( ) and line breaks) begin another.
std::vector<Command> split(std::string_view text, bool operators) {
    std::vector<Command> commands(1);
    Word word;
    bool inWord = false;
    std::size_t tail = 0;  // where a byte added to the word would go
    const auto add = [&](std::size_t i) {
        word.text += text[i];
        word.from.push_back(i);
        tail = i + 1;
    };
    const auto endWord = [&](std::size_t at) {
        if (inWord) {
            word.from.push_back(tail);
            word.end = at;
            commands.back().push_back(std::move(word));
            word = {};
            inWord = false;
        }
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || (!operators && c == '\n')) {
            endWord(i);
        } else if (operators && std::string_view(";&|()\n").find(c) != std::string_view::npos) {
            endWord(i);
            if (!commands.back().empty()) {
                commands.emplace_back();
            }
        } else if (c == '\'') {
            inWord = true;
            for (tail = ++i; i < text.size() && text[i] != '\''; ++i) {
                add(i);
            }
        } else if (c == '"') {
            inWord = true;
            for (tail = ++i; i < text.size() && text[i] != '"'; ++i) {
                if (text[i] == '\\' && i + 1 < text.size() &&
                    std::string_view("\"`$\\").find(text[i + 1]) != std::string_view::npos) {
                    ++i;
                }
                add(i);
            }
        } else if (c == '\\' && i + 1 < text.size()) {
            inWord = true;
            add(++i);
        } else {
            inWord = true;
            add(i);
        }
    }
    endWord(text.size());
    if (commands.size() > 1 && commands.back().empty()) {
        commands.pop_back();
    }
    return commands;
}

// `word`'s offsets, which point into `text`, made offsets into what `text` was read from.
Word traced(Word word, const Word& text) {
    for (std::size_t& at : word.from) {
        at = text.from[at];
    }
    word.end = text.from[word.end];
    return word;
}

bool isAssignment(std::string_view word) {
    const std::size_t equals = word.find('=');
    if (equals == 0 || equals == std::string_view::npos ||
        std::isdigit(static_cast<unsigned char>(word.front())) != 0) {
        return false;
    }
    return std::all_of(
        word.begin(), word.begin() + static_cast<std::ptrdiff_t>(equals),
        [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; });
}

std::string baseName(const std::string& word) {
    const std::size_t slash = word.rfind('/');
    return slash == std::string::npos ? word : word.substr(slash + 1);
}

bool isOneOf(const std::string& name, std::initializer_list<std::string_view> names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The index past env's options.
std::size_t pastEnvOptions(const Command& arguments, std::size_t i) {
    while (i < arguments.size() && arguments[i].text.starts_with('-')) {
        const std::string& option = arguments[i++].text;
        if (option == "--") {
            break;
        }
        if (option == "-u" || option == "-C" || option == "--unset" || option == "--chdir") {
            ++i;
        }
    }
    return i;
}

StartedProgram startedAt(const Command& arguments, std::size_t i) {
    StartedProgram program{arguments[i].text, {}, arguments[i].end};
    for (std::size_t k = i + 1; k < arguments.size(); ++k) {
        program.arguments.push_back(arguments[k].text);
    }
    return program;
}

void collect(const Command& arguments, std::size_t i, bool assignments,
             std::vector<StartedProgram>& programs) {
    while (true) {
        while (assignments && i < arguments.size() && isAssignment(arguments[i].text)) {
            ++i;
        }
        if (i >= arguments.size()) {
            return;
        }
        const std::string name = baseName(arguments[i].text);
        if (name == "env") {
            i = pastEnvOptions(arguments, i + 1);
            assignments = true;
        } else if (isOneOf(name, {"nohup", "exec", "!", "{", "if", "then", "else", "elif", "do",
                                  "while", "until"})) {
            ++i;
        } else if (isOneOf(name, {"sh", "bash", "dash", "zsh", "ksh"})) {
            bool script = false;
            std::size_t at = i + 1;
            for (; at < arguments.size() && arguments[at].text.size() > 1 &&
                   arguments[at].text.front() == '-' && arguments[at].text[1] != '-';
                 ++at) {
                script = script || arguments[at].text.find('c') != std::string::npos;
            }
            if (!script || at >= arguments.size()) {
                programs.push_back(startedAt(arguments, i));
                return;
            }
            for (const Command& command : split(arguments[at].text, true)) {
                Command words;
                for (const Word& word : command) {
                    words.push_back(traced(word, arguments[at]));
                }
                collect(words, 0, true, programs);
            }
            return;
        } else {
            programs.push_back(startedAt(arguments, i));
            return;
        }
    }
}

// The arguments that an Exec value gives: its string escapes undone, split at blanks outside
// quotes (double quotes with their backslash escapes, and single quotes, which GLib also takes),
// "%%" made '%' and every other field code dropped; their offsets point into the value.
Command execArguments(std::string_view value) {
    const Word text = unescaped(value);
    const std::vector<Command> words = split(text.text, false);
    Command arguments;
    for (const Word& word : words.front()) {
        // GLib looks for the program before it replaces the field codes: it finds none whose
        // name holds one, and launches nothing.
        if (arguments.empty() && word.text.find('%') != std::string::npos) {
            return {};
        }
        Word argument;
        for (std::size_t i = 0; i < word.text.size(); ++i) {
            argument.from.push_back(word.from[i]);
            if (word.text[i] != '%' || i + 1 == word.text.size()) {
                argument.text += word.text[i];
            } else if (word.text[++i] == '%') {
                argument.text += '%';
            } else {
                argument.from.pop_back();
            }
        }
        argument.from.push_back(word.from.back());
        argument.end = word.end;
        if (!argument.text.empty() || word.text.empty()) {
            arguments.push_back(traced(argument, text));
        }
    }
    return arguments;
}

}  // namespace

std::optional<std::string> execArgument(std::string_view argument) {
    if (!isUtf8(argument)) {
        return std::nullopt;
    }
    std::string quoted = "\"";
    for (const char c : argument) {
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
        const std::size_t escape = kUnescaped.find(c, 1);  // from 1: a blank is written as it is
        if (escape != std::string_view::npos) {
            value += '\\';
            value += kEscaped[escape];
        } else {
            value += c;
        }
    }
    return value;
}

std::vector<StartedProgram> startedPrograms(std::string_view value) {
    std::vector<StartedProgram> programs;
    collect(execArguments(value), 0, false, programs);
    return programs;
}

std::optional<std::string> withArgument(std::string_view value, std::size_t program,
                                        const std::string& argument) {
    std::vector<StartedProgram> wanted = startedPrograms(value);
    if (program >= wanted.size()) {
        return std::nullopt;
    }
    std::string changed(value);
    changed.insert(wanted[program].end, " " + argument);
    std::vector<std::string>& arguments = wanted[program].arguments;
    arguments.insert(arguments.begin(), argument);
    const std::vector<StartedProgram> got = startedPrograms(changed);
    const auto same = [](const StartedProgram& a, const StartedProgram& b) {
        return a.name == b.name && a.arguments == b.arguments;
    };
    if (!std::equal(got.begin(), got.end(), wanted.begin(), wanted.end(), same)) {
        return std::nullopt;
    }
    return changed;
}

}  // namespace hushwell
