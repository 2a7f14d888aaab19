#include "app/ExecLine.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace hushwell {
namespace {

bool isUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        char32_t code = 0;
        if (lead < 0x80) {
            length = 1;
            code = lead;
        } else if ((lead & 0xE0U) == 0xC0U) {
            length = 2;
            code = lead & 0x1FU;
        } else if ((lead & 0xF0U) == 0xE0U) {
            length = 3;
            code = lead & 0x0FU;
        } else if ((lead & 0xF8U) == 0xF0U) {
            length = 4;
            code = lead & 0x07U;
        } else {
            return false;
        }
        if (i + length > text.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0U) != 0x80U) {
                return false;
            }
            code = (code << 6U) | (next & 0x3FU);
        }
        constexpr std::array<char32_t, 5> kSmallest = {0, 0, 0x80, 0x800, 0x10000};
        if (code < kSmallest.at(length) || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

// The string escapes of a desktop entry undone; a backslash before any other character is kept,
// for Exec's own quoting.
std::string unescaped(std::string_view value) {
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
            default:
                text += '\\';
                text += value[i];
        }
    }
    return text;
}

using Command = std::vector<std::string>;

// The words of `text` as a POSIX shell splits them, without its expansions. With `operators`,
// the characters that end a command in a script (; & | ( ) and line breaks) begin another.
std::vector<Command> split(std::string_view text, bool operators) {
    std::vector<Command> commands(1);
    std::string word;
    bool inWord = false;
    const auto endWord = [&] {
        if (inWord) {
            commands.back().push_back(word);
            word.clear();
            inWord = false;
        }
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || (!operators && c == '\n')) {
            endWord();
        } else if (operators && std::string_view(";&|()\n").find(c) != std::string_view::npos) {
            endWord();
            if (!commands.back().empty()) {
                commands.emplace_back();
            }
        } else if (c == '\'') {
            inWord = true;
            const std::size_t end = std::min(text.find('\'', i + 1), text.size());
            word += text.substr(i + 1, end - i - 1);
            i = end;
        } else if (c == '"') {
            inWord = true;
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                if (text[i] == '\\' && i + 1 < text.size() &&
                    std::string_view("\"`$\\").find(text[i + 1]) != std::string_view::npos) {
                    ++i;
                }
                word += text[i];
            }
        } else if (c == '\\' && i + 1 < text.size()) {
            inWord = true;
            word += text[++i];
        } else {
            inWord = true;
            word += c;
        }
    }
    endWord();
    if (commands.size() > 1 && commands.back().empty()) {
        commands.pop_back();
    }
    return commands;
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
    while (i < arguments.size() && arguments[i].starts_with('-')) {
        const std::string& option = arguments[i++];
        if (option == "--") {
            break;
        }
        if (option == "-u" || option == "-C" || option == "--unset" || option == "--chdir") {
            ++i;
        }
    }
    return i;
}

void collect(const Command& arguments, std::size_t i, bool assignments,
             std::vector<std::string>& programs) {
    while (true) {
        while (assignments && i < arguments.size() && isAssignment(arguments[i])) {
            ++i;
        }
        if (i >= arguments.size()) {
            return;
        }
        const std::string name = baseName(arguments[i]);
        if (name == "env") {
            i = pastEnvOptions(arguments, i + 1);
            assignments = true;
        } else if (isOneOf(name, {"nohup", "exec", "!", "{", "if", "then", "else", "elif", "do",
                                  "while", "until"})) {
            ++i;
        } else if (isOneOf(name, {"sh", "bash", "dash", "zsh", "ksh"})) {
            bool script = false;
            std::size_t at = i + 1;
            for (; at < arguments.size() && arguments[at].size() > 1 &&
                   arguments[at].front() == '-' && arguments[at][1] != '-';
                 ++at) {
                script = script || arguments[at].find('c') != std::string::npos;
            }
            if (!script || at >= arguments.size()) {
                programs.push_back(arguments[i]);
                return;
            }
            for (const Command& command : split(arguments[at], true)) {
                collect(command, 0, true, programs);
            }
            return;
        } else {
            programs.push_back(arguments[i]);
            return;
        }
    }
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

std::vector<std::string> execArguments(std::string_view value) {
    std::vector<std::string> arguments;
    const std::vector<Command> words = split(unescaped(value), false);
    for (const std::string& word : words.front()) {
        // GLib looks for the program before it replaces the field codes: it finds none whose
        // name holds one, and launches nothing.
        if (arguments.empty() && word.find('%') != std::string::npos) {
            return {};
        }
        std::string argument;
        for (std::size_t i = 0; i < word.size(); ++i) {
            if (word[i] != '%' || i + 1 == word.size()) {
                argument += word[i];
            } else if (word[++i] == '%') {
                argument += '%';
            }
        }
        if (!argument.empty() || word.empty()) {
            arguments.push_back(argument);
        }
    }
    return arguments;
}

std::vector<std::string> startedPrograms(const std::vector<std::string>& arguments) {
    std::vector<std::string> programs;
    collect(arguments, 0, false, programs);
    return programs;
}

}  // namespace hushwell
