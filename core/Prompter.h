#pragma once

#include <string_view>

namespace sonoprog::core {

enum class BoxIcon { Error, Warning, Information };

// Modal message boxes and yes/no questions.
class Prompter {
public:
    virtual ~Prompter() = default;
    // One OK button.
    virtual void showMessage(std::string_view caption, std::string_view text, BoxIcon icon) = 0;
    // Yes and No; true for Yes.
    virtual bool askYesNo(std::string_view caption, std::string_view text, BoxIcon icon) = 0;
};

}  // namespace sonoprog::core
