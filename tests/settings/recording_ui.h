#pragma once
// A Ui that records every message and answers file dialogs from a script.

#include "platform/ui.h"

#include <optional>
#include <string>
#include <vector>

namespace vesk2::test {

class RecordingUi : public vesk2::platform::Ui {
public:
    std::vector<std::string> messages;
    std::optional<std::string> saveAnswer;
    std::string lastSaveFilter;
    std::string lastSaveInitial;

    vesk2::platform::UiAnswer message(const std::string&, const std::string& text, vesk2::platform::UiButtons,
                               vesk2::platform::UiIcon) override
    {
        messages.push_back(text);
        return vesk2::platform::UiAnswer::Ok;
    }
    std::optional<std::string> prompt(const std::string&, const std::string&, const std::string&, bool) override
    {
        return std::nullopt;
    }
    std::optional<std::size_t> choose(const std::string&, const std::string&,
                                      const std::vector<std::string>&) override
    {
        return std::nullopt;
    }
    std::optional<std::string> openFile(const std::string&, const std::string&) override { return std::nullopt; }
    std::optional<std::string> saveFile(const std::string&, const std::string& filter,
                                        const std::string& initialName) override
    {
        lastSaveFilter = filter;
        lastSaveInitial = initialName;
        return saveAnswer;
    }
    std::optional<std::string> chooseFolder(const std::string&, const std::string&) override { return std::nullopt; }
};

} // namespace vesk2::test
