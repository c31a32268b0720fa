#include "admin/user_editor.h"

#include <algorithm>

namespace vesk2::admin {

namespace {

constexpr EditorTexts kUserTexts = {
    "New User",    "Type in new user's name", "Clone User", "Choose a new username",
    "Rename User", "Choose a new username",
};

std::string upperAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

} // namespace

UserEditor::UserEditor(UserStore& users, const GroupStore& groups, platform::Ui& ui)
    : RecordEditor(users, ui, kUserTexts)
    , m_groups(groups)
{
}

bool UserEditor::confirmNewName(const std::string& name)
{
    if (upperAscii(name) != "ANONYMOUS")
        return true;
    const std::string question = kAnonymousQuestionStart + name + kAnonymousQuestionEnd;
    return m_ui.message("Confirm", question, platform::UiButtons::YesNo, platform::UiIcon::Question) ==
           platform::UiAnswer::Yes;
}

void UserEditor::prepareClone(UserRecord& clone)
{
    clone.Password.assign("");
    clone.EncryptionKey.assign("");
    clone.Enabled = false;
}

void UserEditor::setPassword(const std::string& text)
{
    m_buffer.Password.assign(text);
    markChanged();
}

void UserEditor::setEncryptionKey(const std::string& text)
{
    m_buffer.EncryptionKey.assign(text);
    markChanged();
}

std::vector<NameString> UserEditor::membershipNames() const
{
    std::vector<NameString> names;
    for (const NameString& slot : m_buffer.Groups)
        if (!slot.empty())
            names.push_back(slot);
    return names;
}

void UserEditor::storeMemberships(const std::vector<NameString>& names)
{
    for (NameString& slot : m_buffer.Groups)
        slot.clear();
    for (std::size_t i = 0; i < names.size() && i < kMaxMemberships; ++i)
        m_buffer.Groups[i].assign(names[i].text());
}

std::vector<std::string> UserEditor::memberships() const
{
    std::vector<std::string> texts;
    for (const NameString& name : membershipNames())
        texts.push_back(name.text());
    return texts;
}

void UserEditor::addMemberships()
{
    RecordRead<GroupRecord> groups = m_groups.readWorking();
    if (!report(groups.error))
        return;
    std::vector<std::string> choices;
    for (const GroupRecord& group : groups.records)
        choices.push_back(group.GroupName.text());
    std::optional<std::vector<std::size_t>> chosen = m_ui.chooseMany(kGroupSelectorCaption, "", choices);
    if (!chosen)
        return;
    std::vector<NameString> names = membershipNames();
    bool added = false;
    bool refused = false;
    for (std::size_t index : *chosen) {
        if (index >= groups.records.size())
            continue;
        const NameString& name = groups.records[index].GroupName;
        if (std::find(names.begin(), names.end(), name) != names.end())
            continue;
        if (names.size() >= kMaxMemberships) {
            refused = true;
            continue;
        }
        names.push_back(name);
        added = true;
    }
    storeMemberships(names);
    if (added)
        markChanged();
    if (refused)
        m_ui.message(kMessageCaption, kMembershipLimitText, platform::UiButtons::Ok, platform::UiIcon::Warning);
}

void UserEditor::removeMemberships(const std::vector<std::size_t>& shownIndices)
{
    std::vector<NameString> names = membershipNames();
    std::vector<NameString> kept;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (std::find(shownIndices.begin(), shownIndices.end(), i) == shownIndices.end())
            kept.push_back(names[i]);
    if (kept.size() == names.size())
        return;
    storeMemberships(kept);
    // A removal marks the editor changed, so that Save (and shut-down) take it.
    markChanged();
}

void UserEditor::setSuperUser(bool checked)
{
    const bool before = m_buffer.SuperUser;
    m_buffer.SuperUser = checked;
    if (checked && m_showSuperUserWarnings &&
        m_ui.message("Warning", kSuperUserWarningText, platform::UiButtons::YesNo, platform::UiIcon::Warning) ==
            platform::UiAnswer::No)
        m_buffer.SuperUser = false; // the box is unchecked again
    // Every change that stays marks the editor changed, so that taking
    // SuperUser away is saved too.
    if (m_buffer.SuperUser != before)
        markChanged();
}

} // namespace vesk2::admin
