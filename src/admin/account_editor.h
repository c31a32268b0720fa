#pragma once
// The account editor of the server administration page: the user and the group
// editor over one store, with what start-up and shut-down do to them.

#include "admin/account_store.h"
#include "admin/group_editor.h"
#include "admin/user_editor.h"

#include <string>

namespace vesk2::admin {

class AccountEditor {
public:
    // `directory` is the program directory that holds the account files.
    AccountEditor(const std::string& directory, platform::Ui& ui);
    AccountEditor(const AccountEditor&) = delete;
    AccountEditor& operator=(const AccountEditor&) = delete;

    // Start-up: each saved file is copied over its working file when it exists,
    // then both lists are loaded (creating the sample records where a working
    // file is missing). Both edit buffers start empty.
    void startUp();
    // Shut-down: each editor that is marked changed is saved.
    void shutDown();

    AccountStore& store() { return m_store; }
    UserEditor& users() { return m_users; }
    GroupEditor& groups() { return m_groups; }

private:
    platform::Ui& m_ui;
    AccountStore m_store;
    UserEditor m_users;
    GroupEditor m_groups;
};

} // namespace vesk2::admin
