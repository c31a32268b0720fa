#pragma once
// A Ui that answers from a script and records every question it was asked.
// Each kind of call takes the next answer queued for it; a question with no
// answer queued fails the test, except a plain message box (OK only), which is
// answered Ok.

#include "platform/ui.h"

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace vesk2::test {

class ScriptedUi : public platform::Ui {
public:
    struct Call {
        std::string kind; // "message", "prompt", "choose", "chooseMany", "folder", "openFile", "saveFile"
        std::string caption;
        std::string text; // message text or prompt label
        std::vector<std::string> choices;
    };

    void answerMessage(platform::UiAnswer answer) { m_messages.push_back(answer); }
    void answerPrompt(std::optional<std::string> answer) { m_prompts.push_back(std::move(answer)); }
    void answerFolder(std::optional<std::string> answer) { m_folders.push_back(std::move(answer)); }
    void answerChooseMany(std::optional<std::vector<std::size_t>> answer) { m_many.push_back(std::move(answer)); }

    const std::vector<Call>& calls() const { return m_calls; }
    void clearCalls() { m_calls.clear(); }
    std::vector<Call> callsOf(const std::string& kind) const
    {
        std::vector<Call> found;
        for (const Call& c : m_calls)
            if (c.kind == kind)
                found.push_back(c);
        return found;
    }
    std::vector<std::string> messageTexts() const
    {
        std::vector<std::string> texts;
        for (const Call& c : callsOf("message"))
            texts.push_back(c.text);
        return texts;
    }
    bool allAnswered() const { return m_messages.empty() && m_prompts.empty() && m_folders.empty() && m_many.empty(); }

    platform::UiAnswer message(const std::string& caption, const std::string& text, platform::UiButtons buttons,
                               platform::UiIcon) override
    {
        m_calls.push_back({"message", caption, text, {}});
        if (m_messages.empty()) {
            if (buttons != platform::UiButtons::Ok)
                ADD_FAILURE() << "unscripted question: " << text;
            return buttons == platform::UiButtons::Ok ? platform::UiAnswer::Ok : platform::UiAnswer::Cancel;
        }
        return take(m_messages);
    }

    std::optional<std::string> prompt(const std::string& caption, const std::string& label, const std::string&,
                                      bool) override
    {
        m_calls.push_back({"prompt", caption, label, {}});
        return takeOrFail(m_prompts, label);
    }

    std::optional<std::size_t> choose(const std::string& caption, const std::string& label,
                                      const std::vector<std::string>& choices) override
    {
        m_calls.push_back({"choose", caption, label, choices});
        ADD_FAILURE() << "unscripted choice: " << caption;
        return std::nullopt;
    }

    std::optional<std::vector<std::size_t>> chooseMany(const std::string& caption, const std::string& label,
                                                       const std::vector<std::string>& choices) override
    {
        m_calls.push_back({"chooseMany", caption, label, choices});
        return takeOrFail(m_many, caption);
    }

    std::optional<std::string> openFile(const std::string& caption, const std::string&) override
    {
        m_calls.push_back({"openFile", caption, "", {}});
        ADD_FAILURE() << "unscripted file dialog: " << caption;
        return std::nullopt;
    }

    std::optional<std::string> saveFile(const std::string& caption, const std::string&, const std::string&) override
    {
        m_calls.push_back({"saveFile", caption, "", {}});
        ADD_FAILURE() << "unscripted file dialog: " << caption;
        return std::nullopt;
    }

    std::optional<std::string> chooseFolder(const std::string& caption, const std::string&) override
    {
        m_calls.push_back({"folder", caption, "", {}});
        return takeOrFail(m_folders, caption);
    }

private:
    template <class T>
    static T take(std::deque<T>& queue)
    {
        T value = std::move(queue.front());
        queue.pop_front();
        return value;
    }
    template <class T>
    static T takeOrFail(std::deque<T>& queue, const std::string& what)
    {
        if (queue.empty()) {
            ADD_FAILURE() << "unscripted question: " << what;
            return T{};
        }
        return take(queue);
    }

    std::vector<Call> m_calls;
    std::deque<platform::UiAnswer> m_messages;
    std::deque<std::optional<std::string>> m_prompts;
    std::deque<std::optional<std::string>> m_folders;
    std::deque<std::optional<std::vector<std::size_t>>> m_many;
};

} // namespace vesk2::test
