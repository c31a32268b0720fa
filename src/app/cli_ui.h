#pragma once
// The Ui of the administration command line: every question is answered from
// the command's own arguments, and every message the editors show is printed.

#include "platform/ui.h"

#include <deque>
#include <ostream>
#include <string>
#include <vector>

namespace vesk2::app {

class CliUi : public platform::Ui {
public:
    // `confirm` answers Yes/No questions (from --yes); without it they are
    // printed and answered No.
    CliUi(std::ostream& err, bool confirm) : m_err(err), m_confirm(confirm) {}

    // Answers, consumed in order.
    std::deque<std::string> prompts;
    std::deque<std::string> folders;
    std::deque<std::vector<std::size_t>> selections;

    // True once an editor showed a refusal or error, or a question was declined.
    bool refused() const { return m_refused; }

    platform::UiAnswer message(const std::string& caption, const std::string& text, platform::UiButtons buttons,
                               platform::UiIcon icon) override;
    std::optional<std::string> prompt(const std::string& caption, const std::string& label,
                                      const std::string& initial, bool secret) override;
    std::optional<std::size_t> choose(const std::string& caption, const std::string& label,
                                      const std::vector<std::string>& choices) override;
    std::optional<std::vector<std::size_t>> chooseMany(const std::string& caption, const std::string& label,
                                                       const std::vector<std::string>& choices) override;
    std::optional<std::string> openFile(const std::string& caption, const std::string& filter) override;
    std::optional<std::string> saveFile(const std::string& caption, const std::string& filter,
                                        const std::string& initialName) override;
    std::optional<std::string> chooseFolder(const std::string& caption, const std::string& initial) override;

private:
    std::ostream& m_err;
    bool m_confirm;
    bool m_refused = false;
};

} // namespace vesk2::app
