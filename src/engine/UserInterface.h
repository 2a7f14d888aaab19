#pragma once

#include <string>

namespace hushwell {

// What the core asks of the person at the window: messages, questions, and the window itself.
// The window implements it with message boxes; tests with scripted answers.
class UserInterface {
public:
    virtual ~UserInterface() = default;

    // A modal message with an OK button and no icon, titled with the program's name.
    virtual void showMessage(const std::string& text) = 0;
    // A modal question with Yes and No and the question icon; true only for Yes.
    [[nodiscard]] virtual bool askYesNo(const std::string& question) = 0;
    // The window appears, ready for the user, the Down level taking the keyboard focus.
    virtual void showWindow() = 0;
};

}  // namespace hushwell
