#include "app/cli_ui.h"

namespace vesk2::app {

platform::UiAnswer CliUi::message(const std::string&, const std::string& text, platform::UiButtons buttons,
                                  platform::UiIcon)
{
    using platform::UiAnswer;
    using platform::UiButtons;
    if (buttons == UiButtons::YesNo || buttons == UiButtons::YesNoCancel) {
        if (m_confirm)
            return UiAnswer::Yes;
        m_err << text << "\n(not confirmed: add --yes to answer yes)\n";
        m_refused = true;
        return UiAnswer::No;
    }
    if (buttons == UiButtons::OkCancel) {
        if (m_confirm)
            return UiAnswer::Ok;
        m_err << text << "\n(not confirmed: add --yes to go on)\n";
        m_refused = true;
        return UiAnswer::Cancel;
    }
    m_err << text << "\n";
    m_refused = true;
    return UiAnswer::Ok;
}

std::optional<std::string> CliUi::prompt(const std::string&, const std::string&, const std::string&, bool)
{
    if (prompts.empty())
        return std::nullopt;
    std::string answer = prompts.front();
    prompts.pop_front();
    return answer;
}

std::optional<std::size_t> CliUi::choose(const std::string& caption, const std::string& label,
                                         const std::vector<std::string>& choices)
{
    auto many = chooseMany(caption, label, choices);
    if (!many || many->empty())
        return std::nullopt;
    return many->front();
}

std::optional<std::vector<std::size_t>> CliUi::chooseMany(const std::string&, const std::string&,
                                                          const std::vector<std::string>&)
{
    if (selections.empty())
        return std::nullopt;
    auto answer = selections.front();
    selections.pop_front();
    return answer;
}

std::optional<std::string> CliUi::openFile(const std::string&, const std::string&) { return std::nullopt; }

std::optional<std::string> CliUi::saveFile(const std::string&, const std::string&, const std::string&)
{
    return std::nullopt;
}

std::optional<std::string> CliUi::chooseFolder(const std::string&, const std::string&)
{
    if (folders.empty())
        return std::nullopt;
    std::string answer = folders.front();
    folders.pop_front();
    return answer;
}

} // namespace vesk2::app
