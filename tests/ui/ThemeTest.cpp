#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QSlider>

#include "ui/Contrast.h"
#include "ui/WindowFixture.h"

namespace hushwell::testing {
namespace {

struct Theme {
    const char* name;
    QColor base;    // text boxes
    QColor text;    // their text
    QColor button;  // button faces
};

void PrintTo(const Theme& theme, std::ostream* out) {
    *out << theme.name;
}

// The desktop's palette as a theme sets it.
QPalette paletteOf(const Theme& theme) {
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Base, theme.base);
    palette.setColor(QPalette::Text, theme.text);
    palette.setColor(QPalette::Button, theme.button);
    palette.setColor(QPalette::Window, theme.button);
    return palette;
}

class ThemeTest : public WindowTest, public ::testing::WithParamInterface<Theme> {
protected:
    void SetUp() override {
        m_saved = QApplication::palette();
        start();
    }
    void TearDown() override { QApplication::setPalette(m_saved); }

private:
    QPalette m_saved;
};

// Every mark box stays legible (WCAG AA, 4.5:1) with its fill as the pair colouring gives it,
// also when the theme changes while the program runs.
TEST_P(ThemeTest, EveryMarkBoxIsLegibleOnItsFill) {
    find<QLineEdit>("txtDown0")->setText("10:00");  // pair 1 holds the volume down at 15:00
    find<QLineEdit>("txtUp0")->setText("20:00");
    find<QAbstractButton>("chkActive2")->click();  // pair 3 switched off
    find<QSlider>("Slider1")->setValue(30);
    clock.time = {9, 15, 0, 0};
    tick();

    QApplication::setPalette(paletteOf(GetParam()));
    QApplication::processEvents();
    const struct {
        const char* box;
        QColor fill;
    } marks[] = {{"txtDown0", QColor(192, 255, 192)},
                 {"txtUp0", QColor(192, 255, 192)},
                 {"txtDown1", GetParam().base},
                 {"txtDown2", GetParam().button},
                 {"txtUp2", GetParam().button}};
    for (const auto& b : marks) {
        const QPalette colours = find<QLineEdit>(b.box)->palette();
        EXPECT_EQ(colours.color(QPalette::Base), b.fill) << b.box;
        EXPECT_GE(contrastRatio(colours.color(QPalette::Text), colours.color(QPalette::Base)), 4.5)
            << b.box << " text " << colours.color(QPalette::Text).name().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Themes, ThemeTest,
                         ::testing::Values(Theme{"Light", QColor(255, 255, 255), QColor(0, 0, 0),
                                                 QColor(239, 239, 239)},
                                           Theme{"AdwaitaDark", QColor(45, 45, 45),
                                                 QColor(238, 238, 236), QColor(53, 53, 53)},
                                           Theme{"HighContrastDark", QColor(0, 0, 0),
                                                 QColor(255, 255, 0), QColor(0, 0, 0)},
                                           Theme{"DarkButtonsLightBoxes", QColor(255, 255, 255),
                                                 QColor(20, 20, 20), QColor(40, 40, 48)}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(Contrast, FollowsTheWcagFormula) {
    EXPECT_NEAR(contrastRatio(Qt::black, Qt::white), 21.0, 0.01);
    EXPECT_NEAR(contrastRatio(QColor(192, 255, 192), QColor(236, 242, 236)), 1.01, 0.01);
    EXPECT_NEAR(contrastRatio(QColor(118, 118, 118), Qt::white), 4.54, 0.01);
    EXPECT_EQ(readableOn(QColor(192, 255, 192), QColor(238, 238, 236)), QColor(Qt::black));
    EXPECT_EQ(readableOn(QColor(45, 45, 45), QColor(238, 238, 236)), QColor(238, 238, 236));
    EXPECT_EQ(readableOn(QColor(40, 40, 48), QColor(20, 20, 20)), QColor(Qt::white));
}

}  // namespace
}  // namespace hushwell::testing
