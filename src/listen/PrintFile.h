#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <tuple>

#include "listen/Fingerprint.h"
#include "platform/Level.h"

namespace hushwell {

// The file of the marks' audio fingerprints; it stands in the folder of the settings file, which
// it never changes.
constexpr const char* kPrintFileName = "Hushwell_marks.fp";

// The pairs of marks a print can belong to: the window's eight.
constexpr int kPrintPairs = 8;

// Which mark a print belongs to: the pair (0 for the first, below kPrintPairs) and its row.
struct MarkKey {
    int pair = 0;
    Level edge = Level::Down;
    friend bool operator==(const MarkKey&, const MarkKey&) = default;
    friend bool operator<(const MarkKey& a, const MarkKey& b) {
        return std::tie(a.pair, a.edge) < std::tie(b.pair, b.edge);
    }
};

// A mark's print and the mark's text when it was kept ("20:07"): a mark whose text is no longer
// this (edited by hand, cleared) has no print. `movedBy`: the seconds from the mark to the sound
// its print begins with, when the mark was set in silence and the print taken from the first
// sound after it (from 0 to kKeptAfter); 0 when it was not moved.
struct KeptPrint {
    std::string markText;
    MarkPrint print;
    double movedBy = 0;
    friend bool operator==(const KeptPrint&, const KeptPrint&) = default;
};
using MarkPrints = std::map<MarkKey, KeptPrint>;

// The print of the mark `key` whose text is now `markText`, if it has one.
[[nodiscard]] const MarkPrint* printFor(const MarkPrints& prints, MarkKey key,
                                        std::string_view markText);

struct LoadedPrints {
    MarkPrints prints;
    // Empty, or one plain sentence naming the file and what is wrong. The file's prints are then
    // all ignored (none is trusted), unless the file is sound but for a mark's seconds to its
    // sound: only the prints with such a value are.
    std::string problem;
    // The file must not be saved over: it is of a later version of Hushwell (whose prints this
    // one cannot read, and which it leaves as it is), or damaged and left in place
    // (Damaged::Leave).
    bool keepOff = false;
};

// What loadPrintFile() does with a file it cannot use (a file of a later version is always left).
enum class Damaged { SetAside, Leave };

// The file's text: a version line, per mark a line "mark PAIR Down|Up PRESS COUNT MOVED TEXT"
// (MOVED: the print's movedBy in seconds) and its frames as hexadecimal words
// "BITS/STRONG/HIGH/HIGHSTRONG", four to a line, then, if it has them, a line "halfway" and as
// many frames halfway, and a last line "check CRC" with the CRC-32 of everything before it. Files
// of the versions before are read too: the third's marks have no frames halfway, the second's
// frames are "BITS/STRONG" (no bits above 2 kHz), and the first's mark lines have no MOVED either
// (every movedBy 0). A print that could not be read back (its pair out of range, a mark's text
// empty, longer than 64 bytes or with control characters, more than 512 frames, its press outside
// its frames, frames halfway but not as many, its movedBy not from 0 to kKeptAfter) is left out.
[[nodiscard]] std::string printFileText(const MarkPrints& prints);
// `text` (whole lines) and its check line after it.
[[nodiscard]] std::string withCheckLine(std::string text);

// The file itself, read only when it is an ordinary file of at most the size sixteen marks' prints
// take (a pipe or a link to a device is refused, not waited on). A missing file is no prints and
// no problem. Whatever stands in its place and cannot be used is renamed "….damaged" beside it
// ("….damaged-2" and on where that is taken: an earlier one is never replaced), which the problem
// says, so that the next save loses nothing; a file that cost only some prints is copied there,
// and the others are written in its place. With Damaged::Leave nothing is renamed or written: the
// prints that could be read are given, the problem is empty, and keepOff is set. save() replaces
// the file atomically (a link in its place is replaced, not written through) and throws
// std::runtime_error when it cannot.
[[nodiscard]] LoadedPrints loadPrintFile(const std::filesystem::path& file,
                                         Damaged damaged = Damaged::SetAside);
void savePrintFile(const std::filesystem::path& file, const MarkPrints& prints);

}  // namespace hushwell
