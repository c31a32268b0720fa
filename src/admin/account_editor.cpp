#include "admin/account_editor.h"

namespace vesk2::admin {

AccountEditor::AccountEditor(const std::string& directory, platform::Ui& ui)
    : m_ui(ui)
    , m_store(directory)
    , m_users(m_store.users(), m_store.groups(), ui)
    , m_groups(m_store.groups(), ui)
{
}

void AccountEditor::startUp()
{
    for (const std::string& error : {m_store.users().startUp(), m_store.groups().startUp()})
        if (!error.empty())
            m_ui.message(kMessageCaption, error, platform::UiButtons::Ok, platform::UiIcon::Error);
    m_users.reloadList();
    m_groups.reloadList();
}

void AccountEditor::shutDown()
{
    if (m_users.isChanged())
        m_users.save();
    if (m_groups.isChanged())
        m_groups.save();
}

} // namespace vesk2::admin
