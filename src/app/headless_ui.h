#pragma once
// The Ui of the headless program: nobody is there to answer, so every question
// is declined and every message goes to the server log.

#include "platform/ui.h"

#include <functional>
#include <string>

namespace vesk2::app {

class HeadlessUi : public platform::Ui {
public:
    explicit HeadlessUi(std::function<void(const std::string&)> show) : m_show(std::move(show)) {}

    platform::UiAnswer message(const std::string&, const std::string& text, platform::UiButtons buttons,
                               platform::UiIcon) override
    {
        m_show(text);
        return buttons == platform::UiButtons::Ok ? platform::UiAnswer::Ok
               : buttons == platform::UiButtons::OkCancel ? platform::UiAnswer::Cancel
                                                          : platform::UiAnswer::No;
    }
    std::optional<std::string> prompt(const std::string&, const std::string&, const std::string&, bool) override
    {
        return std::nullopt;
    }
    std::optional<std::size_t> choose(const std::string&, const std::string&, const std::vector<std::string>&) override
    {
        return std::nullopt;
    }
    std::optional<std::string> openFile(const std::string&, const std::string&) override { return std::nullopt; }
    std::optional<std::string> saveFile(const std::string&, const std::string&, const std::string&) override
    {
        return std::nullopt;
    }
    std::optional<std::string> chooseFolder(const std::string&, const std::string&) override { return std::nullopt; }

private:
    std::function<void(const std::string&)> m_show;
};

} // namespace vesk2::app
