#include "listen/PrintFile.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/AtomicFile.h"

namespace hushwell {
namespace {

constexpr std::string_view kVersionLine = "Hushwell marks audio 1";
constexpr std::size_t kMaxFrames = 1000;  // more than kept; a bound for a damaged count
constexpr std::size_t kMaxText = 64;
constexpr int kMaxPairs = 64;
constexpr std::size_t kPerLine = 4;

std::uint32_t crc32(std::string_view bytes) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1U) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
            }
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFU;
    for (const char byte : bytes) {
        crc = table[(crc ^ static_cast<unsigned char>(byte)) & 0xFFU] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFU;
}

std::string hex(std::uint32_t value) {
    std::array<char, 9> text{};
    std::snprintf(text.data(), text.size(), "%08x", value);
    return text.data();
}

bool plainText(std::string_view text) {
    if (text.empty() || text.size() > kMaxText) {
        return false;
    }
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return false;
        }
    }
    return true;
}

template <typename Number>
bool parse(std::string_view text, Number& value, int base = 10) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size();
}

// Splits off the next word (up to a space) of `line`.
std::string_view word(std::string_view& line) {
    const std::size_t space = line.find(' ');
    const std::string_view first = line.substr(0, space);
    line = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
    return first;
}

// Reads the marks between the version line and the check line; returns the problem, if any.
std::string readMarks(std::istringstream& lines, MarkPrints& prints) {
    std::string line;
    while (std::getline(lines, line)) {
        std::string_view rest = line;
        if (word(rest) != "mark") {
            return "a line that should start a mark does not";
        }
        MarkKey key;
        const bool pair = parse(word(rest), key.pair) && key.pair >= 0 && key.pair < kMaxPairs;
        const std::string_view edge = word(rest);
        std::size_t press = 0;
        std::size_t count = 0;
        if (!pair || (edge != "Down" && edge != "Up") || !parse(word(rest), press) ||
            !parse(word(rest), count) || count > kMaxFrames || press >= count || !plainText(rest)) {
            return "a mark's line is not as Hushwell writes it";
        }
        key.edge = edge == "Down" ? MarkEdge::Down : MarkEdge::Up;
        KeptPrint kept{std::string(rest), {{}, press}};
        while (kept.print.frames.size() < count) {
            if (!std::getline(lines, line)) {
                return "a mark's fingerprints end too soon";
            }
            std::string_view words = line;
            while (!words.empty() && kept.print.frames.size() < count) {
                const std::string_view frame = word(words);
                Fingerprint print;
                if (frame.size() != 17 || frame[8] != '/' ||
                    !parse(frame.substr(0, 8), print.bits, 16) ||
                    !parse(frame.substr(9), print.strong, 16)) {
                    return "a fingerprint is not two hexadecimal numbers";
                }
                kept.print.frames.push_back(print);
            }
            if (!words.empty()) {
                return "a mark has more fingerprints than its count";
            }
        }
        if (!prints.emplace(key, std::move(kept)).second) {
            return "a mark is there twice";
        }
    }
    return {};
}

}  // namespace

const MarkPrint* printFor(const MarkPrints& prints, MarkKey key, std::string_view markText) {
    const auto found = prints.find(key);
    if (found == prints.end() || found->second.markText != markText) {
        return nullptr;
    }
    return &found->second.print;
}

std::string printFileText(const MarkPrints& prints) {
    std::string text(kVersionLine);
    text += '\n';
    for (const auto& [key, kept] : prints) {
        if (!plainText(kept.markText) || kept.print.frames.size() > kMaxFrames ||
            kept.print.pressFrame >= kept.print.frames.size()) {
            continue;
        }
        text += "mark " + std::to_string(key.pair) +
                (key.edge == MarkEdge::Down ? " Down " : " Up ") +
                std::to_string(kept.print.pressFrame) + ' ' +
                std::to_string(kept.print.frames.size()) + ' ' + kept.markText + '\n';
        for (std::size_t i = 0; i < kept.print.frames.size(); ++i) {
            text += hex(kept.print.frames[i].bits) + '/' + hex(kept.print.frames[i].strong);
            text += (i + 1) % kPerLine == 0 || i + 1 == kept.print.frames.size() ? '\n' : ' ';
        }
    }
    return text + "check " + hex(crc32(text)) + '\n';
}

LoadedPrints readPrintFileText(std::string_view text, const std::string& fileName) {
    const auto damaged = [&fileName](const std::string& why) {
        return LoadedPrints{{},
                            fileName + " is damaged (" + why +
                                "): the marks' audio in it is ignored, and the next Set writes "
                                "the file anew."};
    };
    if (text.empty() || text.back() != '\n') {
        return damaged("it does not end as Hushwell ends it");
    }
    const std::size_t checkAt = text.rfind("check ", text.size() - 1);
    std::uint32_t check = 0;
    if (checkAt == std::string_view::npos || (checkAt > 0 && text[checkAt - 1] != '\n') ||
        !parse(text.substr(checkAt + 6, text.size() - checkAt - 7), check, 16)) {
        return damaged("its check line is missing");
    }
    if (crc32(text.substr(0, checkAt)) != check) {
        return damaged("its check does not match its contents");
    }
    std::istringstream lines{std::string(text.substr(0, checkAt))};
    std::string line;
    if (!std::getline(lines, line) || line != kVersionLine) {
        return damaged("it is not a file of this version of Hushwell");
    }
    LoadedPrints loaded;
    if (const std::string problem = readMarks(lines, loaded.prints); !problem.empty()) {
        return damaged(problem);
    }
    return loaded;
}

LoadedPrints loadPrintFile(const std::filesystem::path& file) {
    std::error_code error;
    if (!std::filesystem::exists(file, error) && !error) {
        return {};
    }
    // Far more than sixteen marks' prints: not read into memory.
    constexpr std::uintmax_t kMaxBytes = 4 << 20;
    if (const std::uintmax_t size = std::filesystem::file_size(file, error);
        !error && size > kMaxBytes) {
        return readPrintFileText("", file.filename().string());
    }
    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) {
        return {{}, file.filename().string() + " cannot be read: the marks' audio is ignored."};
    }
    return readPrintFileText(text, file.filename().string());
}

void savePrintFile(const std::filesystem::path& file, const MarkPrints& prints) {
    writeFileAtomically(file, printFileText(prints));
}

}  // namespace hushwell
