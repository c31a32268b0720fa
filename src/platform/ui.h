#pragma once
// The one way the core asks the person something: message boxes, text prompts
// and file or folder choosers. The window implements it with its dialogs; the
// headless program and the tests use a scripted implementation.
//
// Every call is modal: it returns only when the person (or the script) has
// answered. Implementations may run the event loop while they wait.

#include <optional>
#include <string>
#include <vector>

namespace vesk2::platform {

enum class UiButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class UiAnswer { Ok, Cancel, Yes, No };
enum class UiIcon { None, Information, Warning, Error, Question };

class Ui {
public:
    virtual ~Ui() = default;

    // A message box with the given buttons; returns the button chosen.
    virtual UiAnswer message(const std::string& caption, const std::string& text,
                             UiButtons buttons = UiButtons::Ok, UiIcon icon = UiIcon::None) = 0;

    // A one-line text prompt preset with `initial`; nullopt when cancelled.
    // `secret` hides what is typed (passwords, keys).
    virtual std::optional<std::string> prompt(const std::string& caption, const std::string& label,
                                              const std::string& initial, bool secret = false) = 0;

    // Picks one entry of `choices`; returns its index, or nullopt when cancelled.
    virtual std::optional<std::size_t> choose(const std::string& caption, const std::string& label,
                                              const std::vector<std::string>& choices) = 0;

    // Picks any number of entries of `choices` from a multi-selection list;
    // returns their indices in list order, or nullopt when cancelled. Without
    // an override it offers a single choice through choose().
    virtual std::optional<std::vector<std::size_t>> chooseMany(const std::string& caption, const std::string& label,
                                                               const std::vector<std::string>& choices)
    {
        std::optional<std::size_t> one = choose(caption, label, choices);
        if (!one)
            return std::nullopt;
        return std::vector<std::size_t>{*one};
    }

    // File and folder choosers; nullopt when cancelled.
    virtual std::optional<std::string> openFile(const std::string& caption, const std::string& filter) = 0;
    virtual std::optional<std::string> saveFile(const std::string& caption, const std::string& filter,
                                                const std::string& initialName) = 0;
    virtual std::optional<std::string> chooseFolder(const std::string& caption, const std::string& initial) = 0;
};

} // namespace vesk2::platform
