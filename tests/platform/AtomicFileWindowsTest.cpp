#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/AtomicFile.h"

namespace hushwell::testing {
namespace {

using namespace std::chrono_literals;

std::string contents(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The file held open without FILE_SHARE_DELETE, as an antivirus scanning it holds it, and let go
// after `hold` from another thread. The save waits for it about a second, then reports.
TEST(AtomicFileWindows, ARenameRefusedForAMomentIsTriedAgainThenReported) {
    const struct {
        const char* what;
        std::chrono::milliseconds hold;
        bool saved;
    } cases[] = {{"let go after 0.3 s", 300ms, true}, {"held 3 s", 3000ms, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::filesystem::path folder =
            std::filesystem::temp_directory_path() /
            ("hushwell-atomic-" + std::to_string(GetCurrentProcessId()));
        std::filesystem::create_directories(folder);
        const std::filesystem::path file = folder / "settings.txt";
        writeFileAtomically(file, "old");
        const HANDLE held =
            CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        std::thread letGo([held, hold = c.hold] {
            std::this_thread::sleep_for(hold);
            CloseHandle(held);
        });
        std::string error;
        try {
            writeFileAtomically(file, "new");
        } catch (const std::runtime_error& failure) {
            error = failure.what();
        }
        letGo.join();
        EXPECT_EQ(contents(file), c.saved ? "new" : "old");
        if (!c.saved) {
            EXPECT_NE(error.find("cannot replace"), std::string::npos) << error;
        } else {
            EXPECT_EQ(error, "");
        }
        std::filesystem::remove_all(folder);
    }
}

}  // namespace
}  // namespace hushwell::testing
