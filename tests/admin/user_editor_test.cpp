// The user editor's actions, driven through a scripted Ui.

#include "admin/account_editor.h"
#include "scripted_ui.h"
#include "support/sandbox.h"

#include <filesystem>

namespace vesk2::admin {
namespace {

using platform::UiAnswer;

class UserEditorTest : public test::Sandbox {
protected:
    void SetUp() override
    {
        test::Sandbox::SetUp();
        m_editor = std::make_unique<AccountEditor>(dir(), m_ui);
        m_editor->startUp();
        m_editor->users().setShowSuperUserWarnings(false);
    }
    void TearDown() override
    {
        EXPECT_TRUE(m_ui.allAnswered()) << "a scripted answer was not asked for";
        m_editor.reset();
        test::Sandbox::TearDown();
    }

    UserEditor& users() { return m_editor->users(); }
    std::vector<std::string> storedNames() { return names(m_editor->store().users().readWorking().records); }
    static std::vector<std::string> names(const std::vector<UserRecord>& records)
    {
        std::vector<std::string> out;
        for (const UserRecord& r : records)
            out.push_back(r.UserName.text());
        return out;
    }
    static std::string entryBytes(const AccessEntry& e)
    {
        std::string bytes(AccessEntry::kSize, '\0');
        e.writeTo(bytes.data());
        return bytes;
    }
    std::optional<UserRecord> stored(const std::string& name) { return m_editor->store().users().find(NameString(name)); }

    // New user through the prompt.
    void createUser(const std::string& name)
    {
        m_ui.answerPrompt(name);
        users().createNew();
    }
    void selectUser(const std::string& name)
    {
        const std::vector<std::string> list = users().names();
        auto it = std::find(list.begin(), list.end(), name);
        ASSERT_NE(it, list.end()) << name;
        users().select(static_cast<std::size_t>(it - list.begin()));
    }

    test::ScriptedUi m_ui;
    std::unique_ptr<AccountEditor> m_editor;
};

TEST_F(UserEditorTest, StartsWithTheSampleUserAndNothingSelected)
{
    EXPECT_EQ(users().names(), std::vector<std::string>{"SampleUser"});
    EXPECT_EQ(users().nameField(), "<-- Select from the list on the left");
    EXPECT_FALSE(users().selectedIndex());
    EXPECT_FALSE(users().isChanged());

    selectUser("SampleUser");
    EXPECT_EQ(users().nameField(), "SampleUser");
    EXPECT_EQ(users().password(), "PlainOrdinaryWords");
    EXPECT_EQ(users().homeDirectory(), "/tmp");
    EXPECT_EQ(users().accessPaths(), std::vector<std::string>{"/tmp"});
    EXPECT_EQ(users().memberships(), std::vector<std::string>{"SampleGroup"});
    // The first entry's rights are shown and can be changed.
    EXPECT_TRUE(users().rightsEnabled());
    EXPECT_EQ(users().shownRights(), (std::array<bool, 7>{true, true, true, false, false, false, false}));
    EXPECT_FALSE(users().enabled());
    EXPECT_FALSE(users().isChanged());
    EXPECT_TRUE(m_ui.calls().empty());
}

TEST_F(UserEditorTest, NewUserAsksForAUniqueName)
{
    createUser("alice");
    const auto prompts = m_ui.callsOf("prompt");
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_EQ(prompts[0].caption, "New User");
    EXPECT_EQ(prompts[0].text, "Type in new user's name");
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"SampleUser", "alice"}));
    EXPECT_EQ(users().names(), storedNames());
    EXPECT_EQ(users().nameField(), "alice");
    EXPECT_EQ(users().selectedIndex(), 1u);
    EXPECT_TRUE(users().isChanged());
    UserRecord expected;
    expected.UserName.assign("alice");
    EXPECT_EQ(stored("alice")->encode(), expected.encode()); // all zero but the name, not enabled

    // Duplicates are refused, letter case counts, and an empty answer or Cancel ends.
    m_ui.clearCalls();
    createUser("alice");
    EXPECT_EQ(m_ui.messageTexts(), std::vector<std::string>{"Sorry, name must be unique."});
    createUser("Alice");
    createUser("");
    m_ui.answerPrompt(std::nullopt);
    users().createNew();
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"SampleUser", "alice", "Alice"}));

    // A name is stored cut to 40 bytes, and that is the name checked for duplicates.
    createUser(std::string(45, 'n'));
    createUser(std::string(41, 'n'));
    EXPECT_EQ(storedNames().back(), std::string(40, 'n'));
    EXPECT_EQ(storedNames().size(), 4u);
}

TEST_F(UserEditorTest, NewUserWithoutAWorkingFileCreatesIt)
{
    std::filesystem::remove(path("vesk2users.tmp"));
    createUser("solo");
    EXPECT_EQ(storedNames(), std::vector<std::string>{"solo"});
    EXPECT_EQ(users().names(), std::vector<std::string>{"solo"});
}

TEST_F(UserEditorTest, AnonymousInAnyCaseAsksFirst)
{
    m_ui.answerMessage(UiAnswer::No);
    createUser("AnonyMous");
    ASSERT_EQ(m_ui.callsOf("message").size(), 1u);
    EXPECT_EQ(m_ui.messageTexts()[0], "A set password will NOT be required for user AnonyMous, but if you like you can "
                                      "still assign a key.  Continue account creation?");
    EXPECT_EQ(storedNames(), std::vector<std::string>{"SampleUser"});
    EXPECT_FALSE(users().isChanged());

    m_ui.answerMessage(UiAnswer::Yes);
    createUser("anonymous");
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"SampleUser", "anonymous"}));
}

TEST_F(UserEditorTest, CloneCopiesTheSelectedUserWithoutSecrets)
{
    // Without a selection there is nothing to clone.
    users().cloneSelected();
    EXPECT_TRUE(m_ui.calls().empty());

    selectUser("SampleUser");
    users().setEnabled(true);
    users().setSuperUser(true);
    m_ui.answerPrompt("Copy");
    users().cloneSelected();
    EXPECT_EQ(m_ui.callsOf("prompt").at(0).caption, "Clone User");
    EXPECT_EQ(m_ui.callsOf("prompt").at(0).text, "Choose a new username");
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"SampleUser", "Copy"}));

    UserRecord original = *stored("SampleUser"); // flushed before the clone
    UserRecord copy = *stored("Copy");
    EXPECT_TRUE(original.Enabled);
    EXPECT_EQ(copy.Password.text(), "");
    EXPECT_EQ(copy.EncryptionKey.text(), "");
    EXPECT_FALSE(copy.Enabled);
    EXPECT_TRUE(copy.SuperUser);
    EXPECT_EQ(copy.HomeDirectory.text(), "/tmp");
    EXPECT_EQ(entryBytes(copy.Access[0]), entryBytes(original.Access[0]));
    EXPECT_EQ(copy.Groups[0].text(), "SampleGroup");
    EXPECT_TRUE(users().isChanged());
    EXPECT_EQ(users().nameField(), "SampleUser"); // still editing the original

    m_ui.answerPrompt("Copy");
    users().cloneSelected();
    m_ui.answerPrompt("");
    users().cloneSelected();
    EXPECT_EQ(m_ui.messageTexts(), std::vector<std::string>{"Name already exists - try again."});
    EXPECT_EQ(storedNames().size(), 2u);
}

TEST_F(UserEditorTest, RenameChangesTheFirstRecordAndTheBufferFollows)
{
    createUser("bob");
    selectUser("bob");
    m_ui.answerPrompt("robert");
    users().renameSelected();
    EXPECT_EQ(m_ui.callsOf("prompt").back().caption, "Rename User");
    EXPECT_EQ(m_ui.callsOf("prompt").back().text, "Choose a new username");
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"SampleUser", "robert"}));
    EXPECT_EQ(users().nameField(), "robert");
    EXPECT_EQ(users().selectedIndex(), 1u);

    // Edits made after the rename reach the renamed record.
    users().setPassword("after rename");
    selectUser("SampleUser");
    EXPECT_EQ(stored("robert")->Password.text(), "after rename");

    // Renaming onto an existing name is accepted; lookups then find the first.
    m_ui.answerPrompt("robert");
    users().renameSelected();
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"robert", "robert"}));
    EXPECT_EQ(stored("robert")->Password.text(), "PlainOrdinaryWords");
    EXPECT_EQ(users().selectedIndex(), 0u);

    m_ui.answerPrompt("");
    users().renameSelected();
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"robert", "robert"}));
}

TEST_F(UserEditorTest, DeleteRemovesEveryRecordOfTheSelectedName)
{
    createUser("a");
    createUser("b");
    selectUser("b");
    m_ui.answerPrompt("a");
    users().renameSelected(); // now two records named "a"
    createUser("c");
    selectUser("a");
    users().deleteSelected();
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"SampleUser", "c"}));
    EXPECT_EQ(users().names(), storedNames());
    EXPECT_EQ(users().nameField(), "<-- Select from the list on the left");
    EXPECT_FALSE(std::filesystem::exists(path("vesk2users.tmp.tmp")));
    EXPECT_TRUE(users().isChanged());
    // Nothing selected: nothing deleted, no question asked.
    users().deleteSelected();
    EXPECT_EQ(storedNames().size(), 2u);
    EXPECT_TRUE(m_ui.messageTexts().empty());
}

TEST_F(UserEditorTest, FieldEditsAreCutAndFlushedOnTheNextAction)
{
    selectUser("SampleUser");
    users().setPassword(std::string(50, 'p'));
    users().setEncryptionKey(std::string(90, 'k'));
    users().setHomeDirectory("/home/" + std::string(73, 'h') + "\xC3\xA9"); // 81 bytes
    EXPECT_EQ(users().password(), std::string(40, 'p'));
    EXPECT_EQ(users().encryptionKey().size(), 80u);
    EXPECT_TRUE(users().isChanged());
    EXPECT_EQ(stored("SampleUser")->Password.text(), "PlainOrdinaryWords"); // not flushed yet

    createUser("other"); // every list action flushes first
    UserRecord u = *stored("SampleUser");
    EXPECT_EQ(u.Password.text(), std::string(40, 'p'));
    EXPECT_EQ(u.EncryptionKey.text(), std::string(80, 'k'));
    EXPECT_EQ(u.HomeDirectory.text(), "/home/" + std::string(73, 'h')); // cut before the two-byte character

    // A shortened password leaves stale filler in the file, which reads as nothing.
    selectUser("SampleUser");
    users().setPassword("short");
    selectUser("other");
    const std::string file = readFile("vesk2users.tmp");
    EXPECT_EQ(file.substr(41, 41), "\x05short" + std::string(35, 'p'));
    EXPECT_EQ(stored("SampleUser")->Password.text(), "short");

    m_ui.answerFolder("/srv/home");
    users().browseHomeDirectory();
    EXPECT_EQ(users().homeDirectory(), "/srv/home");
    EXPECT_EQ(m_ui.callsOf("folder").size(), 1u);
}

TEST_F(UserEditorTest, SaveAndDiscardCoverEveryUser)
{
    createUser("kept");
    users().save();
    EXPECT_FALSE(users().isChanged());
    EXPECT_EQ(readFile("vesk2users.dat"), readFile("vesk2users.tmp"));

    // Created, renamed, deleted and edited since the save: Discard undoes it all.
    createUser("fresh");
    selectUser("kept");
    users().setPassword("changed");
    m_ui.answerPrompt("renamed");
    users().renameSelected();
    selectUser("SampleUser");
    users().deleteSelected();
    users().discard();
    EXPECT_FALSE(users().isChanged());
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"SampleUser", "kept"}));
    EXPECT_EQ(users().names(), storedNames());
    EXPECT_EQ(stored("kept")->Password.text(), "");
    EXPECT_EQ(users().nameField(), "<-- Select from the list on the left");

    // Save flushes the buffer before it copies.
    selectUser("kept");
    users().setPassword("saved password");
    users().save();
    UserStore& store = m_editor->store().users();
    EXPECT_EQ(store.find(NameString("kept"))->Password.text(), "saved password");
    EXPECT_EQ(readFile("vesk2users.dat"), readFile("vesk2users.tmp"));
}

TEST_F(UserEditorTest, DisabledFlagIsKeptThroughSaveAndRestart)
{
    selectUser("SampleUser");
    users().setEnabled(true);
    users().save();
    users().setEnabled(false);
    EXPECT_TRUE(users().isChanged());
    m_editor->shutDown(); // saves what is marked changed
    EXPECT_EQ(readFile("vesk2users.dat")[3717], 0);

    AccountEditor again(dir(), m_ui);
    again.startUp();
    again.users().select(0);
    EXPECT_FALSE(again.users().enabled());
}

TEST_F(UserEditorTest, AccessEntriesAddSelectSetAndRemove)
{
    selectUser("SampleUser");
    for (const char* folder : {"/a", "/b", "/c"}) {
        m_ui.answerFolder(std::string(folder));
        users().addAccessEntry();
    }
    EXPECT_EQ(users().accessPaths(), (std::vector<std::string>{"/tmp", "/a", "/b", "/c"}));
    EXPECT_FALSE(users().rightsEnabled()); // nothing selected after an add
    EXPECT_EQ(users().shownRights(), (std::array<bool, 7>{}));
    users().setRight(Right::Delete, true); // ignored without a selection
    EXPECT_EQ(users().shownRights(), (std::array<bool, 7>{}));

    users().selectAccessEntry(2);
    users().setRight(Right::Rename, true);
    users().setRight(Right::Create, true);
    users().selectAccessEntry(3);
    users().setRight(Right::Inheritable, true);
    users().selectAccessEntry(2);
    EXPECT_EQ(users().shownRights(), (std::array<bool, 7>{false, false, false, true, false, false, true}));

    // Removing "/a" moves the later entries up and zeroes the freed slot.
    users().selectAccessEntry(1);
    users().removeAccessEntry();
    EXPECT_EQ(users().accessPaths(), (std::vector<std::string>{"/tmp", "/b", "/c"}));
    const AccessList& access = users().buffer().Access;
    EXPECT_TRUE(access[1].Rename && access[1].Create);
    EXPECT_TRUE(access[2].Inheritable);
    EXPECT_EQ(entryBytes(access[3]), std::string(88, '\0'));
    EXPECT_FALSE(users().rightsEnabled());

    // A cancelled folder dialog adds nothing.
    m_ui.answerFolder(std::nullopt);
    users().addAccessEntry();
    EXPECT_EQ(users().accessPaths().size(), 3u);
}

TEST_F(UserEditorTest, RemovalsMarkTheEditorChanged)
{
    selectUser("SampleUser");
    ASSERT_FALSE(users().isChanged());
    users().selectAccessEntry(0);
    users().removeAccessEntry();
    EXPECT_TRUE(users().accessPaths().empty());
    EXPECT_TRUE(users().isChanged());

    users().save();
    users().removeMemberships({0});
    EXPECT_TRUE(users().memberships().empty());
    EXPECT_TRUE(users().isChanged());
}

TEST_F(UserEditorTest, AtMostThirtyTwoAccessEntries)
{
    selectUser("SampleUser");
    for (int i = 2; i <= 32; ++i) {
        m_ui.answerFolder("/dir" + std::to_string(i));
        users().addAccessEntry();
    }
    EXPECT_EQ(users().accessPaths().size(), 32u);
    EXPECT_TRUE(m_ui.messageTexts().empty());
    users().addAccessEntry(); // refused before any folder is asked for
    EXPECT_EQ(m_ui.messageTexts(), std::vector<std::string>{"Sorry, no more than 32 access entries are allowed."});
    EXPECT_EQ(users().accessPaths().size(), 32u);
    EXPECT_EQ(users().accessPaths().back(), "/dir32");
}

TEST_F(UserEditorTest, MembershipsFromTheGroupSelector)
{
    GroupEditor& groups = m_editor->groups();
    for (const char* name : {"g1", "g2", "g3"}) {
        m_ui.answerPrompt(std::string(name));
        groups.createNew();
    }
    selectUser("SampleUser");
    m_ui.answerChooseMany(std::vector<std::size_t>{0, 2, 3}); // SampleGroup (already in), g2, g3
    users().addMemberships();
    const auto selector = m_ui.callsOf("chooseMany");
    ASSERT_EQ(selector.size(), 1u);
    EXPECT_EQ(selector[0].caption, "Group Selector");
    EXPECT_EQ(selector[0].choices, (std::vector<std::string>{"SampleGroup", "g1", "g2", "g3"}));
    EXPECT_EQ(users().memberships(), (std::vector<std::string>{"SampleGroup", "g2", "g3"}));
    EXPECT_TRUE(users().isChanged());

    // Cancel adds nothing.
    m_ui.answerChooseMany(std::nullopt);
    users().addMemberships();
    EXPECT_EQ(users().memberships().size(), 3u);

    // Removal closes the gaps: the slots are rewritten in list order.
    users().removeMemberships({0, 1});
    EXPECT_EQ(users().memberships(), std::vector<std::string>{"g3"});
    const auto& slots = users().buffer().Groups;
    EXPECT_EQ(slots[0].text(), "g3");
    EXPECT_EQ(slots[1].bytes(), NameString().bytes());
    EXPECT_EQ(slots[2].bytes(), NameString().bytes());
}

TEST_F(UserEditorTest, AtMostSixteenMemberships)
{
    GroupEditor& groups = m_editor->groups();
    std::vector<std::size_t> all;
    for (int i = 1; i <= 17; ++i) {
        m_ui.answerPrompt("group" + std::to_string(i));
        groups.createNew();
    }
    for (std::size_t i = 0; i < 18; ++i)
        all.push_back(i);
    selectUser("SampleUser");
    m_ui.answerChooseMany(all);
    users().addMemberships();
    std::vector<std::string> have = users().memberships();
    ASSERT_EQ(have.size(), 16u);
    EXPECT_EQ(have.front(), "SampleGroup");
    EXPECT_EQ(have.back(), "group15");
    EXPECT_EQ(m_ui.messageTexts(), std::vector<std::string>{"Sorry, a user can belong to no more than 16 groups."});
}

TEST_F(UserEditorTest, SuperUserWarning)
{
    const std::string warning =
        "Warning - enabling SuperUser access will give the user access to all your filesystems with the same "
        "rights as your windows/network user.  Do you really want to do this?  (P.S. You can turn this message "
        "off in your settings screen)";
    selectUser("SampleUser");
    users().setShowSuperUserWarnings(true);

    m_ui.answerMessage(UiAnswer::No);
    users().setSuperUser(true);
    EXPECT_EQ(m_ui.messageTexts(), std::vector<std::string>{warning});
    EXPECT_FALSE(users().superUser());
    EXPECT_FALSE(users().isChanged());

    m_ui.answerMessage(UiAnswer::Yes);
    users().setSuperUser(true);
    EXPECT_TRUE(users().superUser());
    EXPECT_TRUE(users().isChanged());

    // Taking SuperUser away asks nothing and is saved like any change.
    users().save();
    users().setSuperUser(false);
    EXPECT_TRUE(users().isChanged());
    EXPECT_EQ(m_ui.messageTexts().size(), 2u);

    users().setShowSuperUserWarnings(false);
    users().save();
    users().setSuperUser(true);
    EXPECT_TRUE(users().superUser());
    EXPECT_EQ(m_ui.messageTexts().size(), 2u);
    EXPECT_TRUE(users().isChanged());
}

TEST_F(UserEditorTest, FailedWritesAreReportedAndSaveStaysToBeDone)
{
    selectUser("SampleUser");
    users().setPassword("new");
    const std::string before = readFile("vesk2users.tmp");
    std::filesystem::create_directories(path("vesk2users.tmp.new/blocked"));
    selectUser("SampleUser"); // the flush fails
    EXPECT_EQ(readFile("vesk2users.tmp"), before);
    ASSERT_EQ(m_ui.messageTexts().size(), 1u);
    EXPECT_NE(m_ui.messageTexts()[0].find("vesk2users.tmp"), std::string::npos);
    std::filesystem::remove_all(path("vesk2users.tmp.new"));

    users().setPassword("new");
    std::filesystem::create_directories(path("vesk2users.dat.new/blocked"));
    users().save();
    EXPECT_TRUE(users().isChanged());
    EXPECT_FALSE(std::filesystem::exists(path("vesk2users.dat")));
    std::filesystem::remove_all(path("vesk2users.dat.new"));
    m_editor->shutDown();
    EXPECT_FALSE(users().isChanged());
    EXPECT_EQ(readFile("vesk2users.dat"), readFile("vesk2users.tmp"));
}

} // namespace
} // namespace vesk2::admin
