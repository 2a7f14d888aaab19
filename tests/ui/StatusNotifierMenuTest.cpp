#include "ui/StatusNotifierMenu.h"

#include <gtest/gtest.h>

#include <QMenu>
#include <QStringList>
#include <functional>
#include <vector>

namespace hushwell {
namespace {

// Reads the menu below `id` as a panel does, every entry given its id; how many were read.
int readAsAPanel(StatusNotifierMenu& menu, int id) {
    int read = 0;
    for (QAction* entry : menu.entries(id)) {
        ++read;
        const int entryId = menu.idOf(entry);
        if (entry->menu() != nullptr) {
            read += readAsAPanel(menu, entryId);
        }
    }
    return read;
}

// Entries deleted as the Lower menu is rebuilt at each opening take their ids along: the table
// holds the entries there are, however often the menu is opened, and those kept keep their ids.
TEST(StatusNotifierMenu, HoldsIdsOnlyForTheEntriesThereAre) {
    const struct {
        const char* name;
        std::vector<QStringList> playing;  // at each opening of Lower
    } cases[] = {
        {"nothing plays", std::vector<QStringList>(50)},
        {"one program plays throughout", std::vector<QStringList>(50, {"radio"})},
        {"programs come and go",
         {{"radio"}, {"radio", "player"}, {}, {"player"}, {"browser", "radio"}, {}, {"tv"}}},
    };
    for (const auto& c : cases) {
        QMenu top;
        top.addAction("Show");
        QMenu* lower = top.addMenu("Lower");
        QAction* whole = lower->addAction("The whole computer");
        top.addAction("Quit");
        std::size_t opening = 0;
        // As the tray rebuilds it: the programs not playing go, the new ones come, and a
        // placeholder stands while none plays.
        QObject::connect(lower, &QMenu::aboutToShow, lower, [&] {
            const QStringList& playing = c.playing.at(opening);
            for (QAction* entry : lower->actions()) {
                if (entry != whole && !playing.contains(entry->data().toString())) {
                    lower->removeAction(entry);
                    delete entry;
                }
            }
            for (const QString& program : playing) {
                const QList<QAction*> entries = lower->actions();
                if (std::none_of(entries.begin(), entries.end(),
                                 [&](QAction* entry) { return entry->data() == program; })) {
                    lower->addAction("Only " + program)->setData(program);
                }
            }
            if (playing.isEmpty()) {
                lower->addAction("Programs appear here while they play")->setEnabled(false);
            }
        });
        StatusNotifierMenu menu(top, nullptr);
        const int lowerId = menu.idOf(lower->menuAction());
        const int wholeId = menu.idOf(whole);
        for (opening = 0; opening < c.playing.size(); ++opening) {
            (void)menu.aboutToShow(lowerId);
            const int read = readAsAPanel(menu, 0);
            ASSERT_EQ(menu.idsHeld(), read) << c.name << ", opening " << opening;
        }
        EXPECT_EQ(menu.idOf(whole), wholeId) << c.name;
        EXPECT_EQ(menu.idOf(lower->menuAction()), lowerId) << c.name;
    }
}

}  // namespace
}  // namespace hushwell
