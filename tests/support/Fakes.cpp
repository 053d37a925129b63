#include "tests/support/Fakes.h"
#include "core/FileChooser.h"

namespace sonoprog::test {

std::vector<std::string> RecordingPane::texts() const {
    std::vector<std::string> out;
    for (const auto& l : lines) out.push_back(l.text);
    return out;
}

int RecordingPane::find(const std::string& text) const {
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].text == text) return static_cast<int>(i);
    return -1;
}

void RecordingPrompter::showMessage(std::string_view caption, std::string_view text,
                                    core::BoxIcon icon) {
    boxes.push_back({std::string(caption), std::string(text), icon, false});
}

bool RecordingPrompter::askYesNo(std::string_view caption, std::string_view text,
                                 core::BoxIcon icon) {
    boxes.push_back({std::string(caption), std::string(text), icon, true});
    if (answers.empty()) return true;
    bool a = answers.front();
    answers.pop_front();
    return a;
}

std::optional<std::string> ScriptedFileChooser::chooseOpenFile(
    const core::FileDialogRequest& request) {
    requests.push_back(request);
    if (openAnswers.empty()) return std::nullopt;
    auto a = openAnswers.front();
    openAnswers.pop_front();
    return a;
}

std::vector<std::string> ScriptedFileChooser::chooseOpenFiles(
    const core::FileDialogRequest& request) {
    requests.push_back(request);
    if (multiAnswers.empty()) return {};
    auto a = multiAnswers.front();
    multiAnswers.pop_front();
    return a;
}

std::optional<std::string> ScriptedFileChooser::chooseSaveFile(
    const core::FileDialogRequest& request) {
    requests.push_back(request);
    if (saveAnswers.empty()) return std::nullopt;
    auto a = saveAnswers.front();
    saveAnswers.pop_front();
    return a;
}

FixedClock::FixedClock() {
    now.tm_year = 2011 - 1900;
    now.tm_mon = 5;
    now.tm_mday = 7;
    now.tm_hour = 4;
    now.tm_min = 50;
    now.tm_sec = 7;
}

}  // namespace sonoprog::test
