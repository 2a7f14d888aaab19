#include "listen/PrintFile.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/Fakes.h"

namespace hushwell::testing {
namespace {

MarkPrints twoMarks() {
    MarkPrint print{{}, 3};
    for (std::uint32_t i = 0; i < 9; ++i) {
        print.frames.push_back({0x9E3779B9U * i, 0x0F0F0F0FU << (i % 4)});
    }
    return {{{0, MarkEdge::Down}, {"20:07", print}}, {{7, MarkEdge::Up}, {"3:30 ad end", print}}};
}

TEST(PrintFile, KeepsEachMarksPrintForItsTextOnly) {
    TempDir dir;
    const auto file = dir.path() / kPrintFileName;
    EXPECT_EQ(loadPrintFile(file).prints.size(), 0U) << "no file yet";
    MarkPrints prints = twoMarks();
    prints[{1, MarkEdge::Down}] = {"12:00\n", prints.begin()->second.print};  // cannot be a line
    savePrintFile(file, prints);
    const LoadedPrints loaded = loadPrintFile(file);
    EXPECT_EQ(loaded.problem, "");
    EXPECT_EQ(loaded.prints, twoMarks());
    EXPECT_NE(printFor(loaded.prints, {7, MarkEdge::Up}, "3:30 ad end"), nullptr);
    EXPECT_EQ(printFor(loaded.prints, {7, MarkEdge::Up}, "3:31"), nullptr) << "edited by hand";
    EXPECT_EQ(printFor(loaded.prints, {0, MarkEdge::Up}, "20:07"), nullptr) << "the other row";
}

struct Damage {
    const char* name;
    std::string (*change)(std::string);
};

class DamagedPrintFile : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedPrintFile, IsRefusedWholeWithAPlainMessage) {
    const std::string text = GetParam().change(printFileText(twoMarks()));
    const LoadedPrints loaded = readPrintFileText(text, kPrintFileName);
    EXPECT_TRUE(loaded.prints.empty());
    EXPECT_EQ(loaded.problem.rfind(std::string(kPrintFileName) + " is damaged (", 0), 0U)
        << loaded.problem;
}

std::string cutShort(std::string text) {
    return text.substr(0, text.size() / 2) + "\n";
}
std::string oneDigitChanged(std::string text) {
    text[text.find("/0f0f") + 2] = '1';
    return text;
}
std::string noCheck(std::string text) {
    return text.substr(0, text.rfind("check"));
}
std::string checkOfAnother(std::string text) {
    return text.substr(0, text.find("mark 7")) + text.substr(text.rfind("check"));
}
std::string empty(std::string) {
    return {};
}
std::string binary(std::string) {
    return {"\x7f\x45LF\0\x01\ncheck 0\n", 14};
}

INSTANTIATE_TEST_SUITE_P(
    Damages, DamagedPrintFile,
    ::testing::Values(Damage{"Empty", empty}, Damage{"CutShort", cutShort},
                      Damage{"OneDigitChanged", oneDigitChanged}, Damage{"NoCheck", noCheck},
                      Damage{"CheckOfAnother", checkOfAnother}, Damage{"Binary", binary}),
    [](const ::testing::TestParamInfo<Damage>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace hushwell::testing
