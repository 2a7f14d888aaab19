#pragma once

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/UserInterface.h"

namespace hushwell::testing {

class FakeClock final : public Clock {
public:
    TimeOfDay time{14, 0, 0, 0};
    TimeOfDay now() const override { return time; }
    void set(int minute, int second) { time = {14, minute, second, 0}; }
};

// Answers questions from a script (No once the script runs out) and records everything it is
// asked to do, in order.
class ScriptedUi final : public UserInterface {
public:
    std::deque<bool> answers;
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    std::vector<std::string> log;  // "message: ...", "question: ...", "show"

    void showMessage(const std::string& text) override {
        messages.push_back(text);
        log.push_back("message: " + text);
    }
    bool askYesNo(const std::string& question) override {
        questions.push_back(question);
        log.push_back("question: " + question);
        if (answers.empty()) {
            return false;
        }
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void showWindow() override { log.emplace_back("show"); }
};

// Makes a fresh folder in the temporary folder, its name starting with `prefix`.
[[nodiscard]] std::filesystem::path makeTempFolder(const std::string& prefix);

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    [[nodiscard]] const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

[[nodiscard]] std::string readFile(const std::filesystem::path& file);
void writeFile(const std::filesystem::path& file, const std::string& bytes);

}  // namespace hushwell::testing
