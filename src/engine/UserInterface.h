#pragma once

#include <string>

namespace hushwell {

// What the program asks of its window besides showing the model: messages, questions, and the
// few window actions of start-up and closing. The window implements it with message boxes; tests
// implement it with scripted answers.
class UserInterface {
public:
    virtual ~UserInterface() = default;

    // A modal message with an OK button and no icon, titled with the program's name.
    virtual void showMessage(const std::string& text) = 0;
    // A modal question with Yes and No and the question icon; true only for Yes.
    [[nodiscard]] virtual bool askYesNo(const std::string& question) = 0;
    virtual void showWindow() = 0;
    virtual void focusDownSlider() = 0;
    // Lets events that are waiting run before the caller continues.
    virtual void processPendingEvents() = 0;
};

}  // namespace hushwell
