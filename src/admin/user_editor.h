#pragma once
// The user half of the administration page: the record editor plus the
// password, key, group memberships and SuperUser fields.

#include "admin/record_editor.h"

namespace vesk2::admin {

inline constexpr const char* kAnonymousQuestionStart = "A set password will NOT be required for user ";
inline constexpr const char* kAnonymousQuestionEnd =
    ", but if you like you can still assign a key.  Continue account creation?";
inline constexpr const char* kSuperUserWarningText =
    "Warning - enabling SuperUser access will give the user access to all your filesystems with the same "
    "rights as your windows/network user.  Do you really want to do this?  (P.S. You can turn this message "
    "off in your settings screen)";
inline constexpr const char* kMembershipLimitText = "Sorry, a user can belong to no more than 16 groups.";
inline constexpr const char* kGroupSelectorCaption = "Group Selector";

class UserEditor : public RecordEditor<UserRecord> {
public:
    // `groups` supplies the names offered by Add memberships.
    UserEditor(UserStore& users, const GroupStore& groups, platform::Ui& ui);

    // Settings that the editor follows; the window passes them on when they change.
    void setShowSuperUserWarnings(bool on) { m_showSuperUserWarnings = on; }
    void setMaskPasswords(bool on) { m_maskPasswords = on; }
    // The password and key fields show "*" for each character while this is on.
    bool passwordsMasked() const { return m_maskPasswords; }

    std::string password() const { return m_buffer.Password.text(); }
    std::string encryptionKey() const { return m_buffer.EncryptionKey.text(); }
    // Typed changes: stored at once (cut to 40 and 80 bytes), marking the editor changed.
    void setPassword(const std::string& text);
    void setEncryptionKey(const std::string& text);

    // Names in the used membership slots, in slot order.
    std::vector<std::string> memberships() const;
    // Offers every group name in the group selector and adds the chosen ones
    // that are not memberships yet. Cancel adds nothing.
    void addMemberships();
    // Removes the memberships at these positions of memberships().
    void removeMemberships(const std::vector<std::size_t>& shownIndices);

    bool superUser() const { return m_buffer.SuperUser; }
    // A click on the SuperUser check box, `checked` being its new state.
    void setSuperUser(bool checked);

protected:
    bool confirmNewName(const std::string& name) override;
    void prepareClone(UserRecord& clone) override;

private:
    std::vector<NameString> membershipNames() const;
    void storeMemberships(const std::vector<NameString>& names);

    const GroupStore& m_groups;
    bool m_showSuperUserWarnings = true;
    bool m_maskPasswords = true;
};

} // namespace vesk2::admin
