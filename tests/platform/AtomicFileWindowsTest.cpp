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

// The file held open without FILE_SHARE_DELETE, as an antivirus scanning it holds it, and let go
// after `hold` from another thread: the save waits for it about a second, then reports.
TEST(AtomicFileWindows, ARenameRefusedForAMomentIsTriedAgainThenReported) {
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("hushwell-" + std::to_string(GetCurrentProcessId()));
    for (const auto& [hold, saved] : {std::pair{300, true}, std::pair{3000, false}}) {
        writeFileAtomically(file, "old");
        const HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        std::thread letGo([held, hold = hold] {
            std::this_thread::sleep_for(std::chrono::milliseconds(hold));
            CloseHandle(held);
        });
        std::string error;
        try {
            writeFileAtomically(file, "new");
        } catch (const std::runtime_error& failure) {
            error = failure.what();
        }
        letGo.join();
        std::ifstream in(file, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), saved ? "new" : "old");
        EXPECT_EQ(error.find("cannot replace"), saved ? std::string::npos : 0) << error;
    }
    std::filesystem::remove(file);
}

// The same for a deletion, as the record of a held volume is removed: it waits about a second.
TEST(AtomicFileWindows, ADeletionRefusedForAMomentIsTriedAgain) {
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("hushwell-gone-" + std::to_string(GetCurrentProcessId()));
    for (const auto& [hold, removed] : {std::pair{300, true}, std::pair{3000, false}}) {
        writeFileAtomically(file, "held");
        const HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        std::thread letGo([held, hold = hold] {
            std::this_thread::sleep_for(std::chrono::milliseconds(hold));
            CloseHandle(held);
        });
        const bool gone = removeFile(file);
        letGo.join();
        EXPECT_EQ(gone, removed) << hold;
        EXPECT_EQ(std::filesystem::exists(file), !removed) << hold;
    }
    EXPECT_TRUE(removeFile(file));  // not there: nothing to remove
    std::filesystem::remove(file);
}

}  // namespace
}  // namespace hushwell::testing
