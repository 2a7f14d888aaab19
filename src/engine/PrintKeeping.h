#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/Editor.h"
#include "engine/Model.h"
#include "listen/PrintFile.h"

namespace hushwell {

// Which print belongs to which mark. A Set press writes a mark's text, and the audio kept around
// it (some seconds later) belongs to that press: to the mark it wrote, wherever the mark was moved
// on since, with the text the press wrote. A press whose mark was typed over, stamped again or
// cleared before its audio was kept keeps nothing; a mark's edit drops its print. It also keeps
// which prints are listened for, so that a print sharpened after it was heard again replaces only
// the print it came from. It reads no clock and holds no lock: the window's thread calls it.
//
// Prints follow the settings: prints() are those of the marks as they stand in the window, filed()
// those of the marks as the settings file holds them, which is what the fingerprint file keeps.
// A Save files the prints of the marks saved; a print kept or sharpened while nothing is unsaved
// is filed at once. Edits that are never saved (a Set press, a hand edit, Clear Settings, then No
// on closing) leave the file's prints as they were.
class PrintKeeping {
public:
    explicit PrintKeeping(const Model& model) : m_model(model) {}

    void load(MarkPrints prints) {
        m_prints = prints;
        m_filed = std::move(prints);
    }
    [[nodiscard]] const MarkPrints& prints() const { return m_prints; }
    [[nodiscard]] const MarkPrints& filed() const { return m_filed; }
    // The seconds from the mark to its print's audio (a press in silence); 0 when not moved or
    // without a print.
    [[nodiscard]] double movedBy(MarkKey key) const;

    // The user did `action` to the mark `key` (Cleared, Saved: to all); after the model changed.
    // A Stamped mark loses its print; pressed() follows when its audio is kept.
    void markAction(MarkAction action, MarkKey key);
    // Set was pressed on `key`, whose text the press wrote: its audio is awaited under that key.
    void pressed(MarkKey key);
    // The audio of the press made on `pressedAs` was kept: where it was stored, if anywhere.
    std::optional<MarkKey> kept(MarkKey pressedAs, const MarkPrint& print, double movedBy);
    // The press made on `pressedAs` fell in silence: the text it wrote, if it still stands.
    std::optional<std::string> silent(MarkKey pressedAs);
    // `key`'s print, heard again, sharpened: whether it replaced the print.
    bool refined(MarkKey key, const MarkPrint& print);
    // Prints whose mark's text is no longer theirs (edited while the program was not running)
    // dropped, from the file's too while nothing is unsaved: whether any was.
    bool dropStale();

    // What to listen for now that `wanted` is: the prints to start listening for, and the keys
    // to stop.
    struct Listening {
        std::vector<std::pair<MarkKey, MarkPrint>> start;
        std::vector<MarkKey> stop;
    };
    [[nodiscard]] Listening listen(const std::vector<MarkKey>& wanted);
    // `key` is heard, or nothing is listened for any more.
    void stopped(MarkKey key) { m_listening.erase(key); }
    void stoppedAll() { m_listening.clear(); }

    // The second of the hour of the capture clock's `then`, when the clock reads `now` at the
    // capture clock's `captured`.
    [[nodiscard]] static double secondOfHour(const TimeOfDay& now, double captured, double then);

private:
    struct Press {
        MarkKey mark;      // where the press's mark is now
        std::string text;  // what the press wrote
    };

    [[nodiscard]] std::string markText(MarkKey key) const;
    void forget(MarkKey key);
    // The press made on `pressedAs`, taken off the list, while its mark still says what it wrote.
    [[nodiscard]] std::optional<Press> takePress(MarkKey pressedAs);

    const Model& m_model;
    MarkPrints m_prints;
    MarkPrints m_filed;
    std::map<MarkKey, Press> m_presses;  // by the key the press was made on
    std::map<MarkKey, std::string>
        m_listening;  // the key, and the text whose print is listened for
};

}  // namespace hushwell
