// The group editor's actions, driven through a scripted Ui.

#include "admin/account_editor.h"
#include "scripted_ui.h"
#include "support/sandbox.h"

#include <filesystem>

namespace vesk2::admin {
namespace {

class GroupEditorTest : public test::Sandbox {
protected:
    void SetUp() override
    {
        test::Sandbox::SetUp();
        m_editor = std::make_unique<AccountEditor>(dir(), m_ui);
        m_editor->startUp();
    }
    void TearDown() override
    {
        EXPECT_TRUE(m_ui.allAnswered()) << "a scripted answer was not asked for";
        m_editor.reset();
        test::Sandbox::TearDown();
    }

    GroupEditor& groups() { return m_editor->groups(); }
    std::vector<GroupRecord> storedGroups() { return m_editor->store().groups().readWorking().records; }
    std::vector<std::string> storedNames()
    {
        std::vector<std::string> out;
        for (const GroupRecord& g : storedGroups())
            out.push_back(g.GroupName.text());
        return out;
    }
    void ask(GroupEditor& editor, void (GroupEditor::*action)(), const std::string& answer)
    {
        m_ui.answerPrompt(answer);
        (editor.*action)();
    }

    test::ScriptedUi m_ui;
    std::unique_ptr<AccountEditor> m_editor;
};

TEST_F(GroupEditorTest, NewCloneRenameDeleteWithTheirPrompts)
{
    ask(groups(), &GroupEditor::createNew, "staff");
    ask(groups(), &GroupEditor::createNew, "staff");
    EXPECT_EQ(m_ui.messageTexts(), std::vector<std::string>{"Sorry, name must be unique."});
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"SampleGroup", "staff"}));
    EXPECT_EQ(groups().nameField(), "staff");
    EXPECT_FALSE(storedGroups()[1].Enabled);

    // A cloned group keeps everything but its name, Enabled included.
    groups().select(0);
    groups().setEnabled(true);
    ask(groups(), &GroupEditor::cloneSelected, "staff");
    ask(groups(), &GroupEditor::cloneSelected, "copy");
    EXPECT_EQ(m_ui.messageTexts().back(), "Name already exists - try again.");
    std::vector<GroupRecord> stored = storedGroups();
    ASSERT_EQ(stored.size(), 3u);
    GroupRecord expected = stored[0];
    expected.GroupName.assign("copy");
    EXPECT_EQ(stored[2].encode(), expected.encode());
    EXPECT_TRUE(stored[2].Enabled);

    ask(groups(), &GroupEditor::renameSelected, "renamed");
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"renamed", "staff", "copy"}));
    EXPECT_EQ(groups().nameField(), "renamed");

    groups().deleteSelected();
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"staff", "copy"}));
    EXPECT_EQ(groups().nameField(), "<-- Select from the list on the left");

    std::vector<std::string> captions;
    for (const auto& call : m_ui.callsOf("prompt"))
        captions.push_back(call.caption + " / " + call.text);
    EXPECT_EQ(captions, (std::vector<std::string>{
                            "New Group / Type in new Group's name",
                            "New Group / Type in new Group's name",
                            "Clone Group / Choose a new Groupname",
                            "Clone Group / Choose a new Groupname",
                            "Rename Group / Choose a new Groupname",
                        }));
}

TEST_F(GroupEditorTest, RenamedOrDeletedGroupStaysInMemberships)
{
    groups().select(0);
    ask(groups(), &GroupEditor::renameSelected, "Other");
    groups().save();
    m_editor->users().select(0);
    EXPECT_EQ(m_editor->users().memberships(), std::vector<std::string>{"SampleGroup"});
}

TEST_F(GroupEditorTest, EditsMarkChangedAndDiscardRevertsAllGroups)
{
    groups().select(0);
    EXPECT_EQ(groups().homeDirectory(), "This is ignored if the user has a home directory set");
    EXPECT_EQ(groups().accessPaths(), std::vector<std::string>{"/tmp/Testing"});
    EXPECT_EQ(groups().shownRights(), (std::array<bool, 7>{true, true, false, false, false, true, false}));
    EXPECT_FALSE(groups().isChanged());
    groups().save(); // the saved file now holds the sample group

    groups().setHomeDirectory("/srv/group");
    EXPECT_TRUE(groups().isChanged());
    groups().setRight(Right::Delete, true);
    m_ui.answerFolder("/srv/more");
    groups().addAccessEntry();
    ask(groups(), &GroupEditor::createNew, "extra");
    GroupRecord edited = storedGroups()[0];
    EXPECT_EQ(edited.HomeDirectory.text(), "/srv/group");
    EXPECT_TRUE(edited.Access[0].Delete);
    EXPECT_EQ(edited.Access[1].Path.text(), "/srv/more");

    groups().discard();
    EXPECT_FALSE(groups().isChanged());
    EXPECT_EQ(storedNames(), std::vector<std::string>{"SampleGroup"});
    EXPECT_EQ(storedGroups()[0].encode(), sampleGroup().encode());
    EXPECT_EQ(readFile("vesk2groups.tmp"), readFile("vesk2groups.dat"));
}

TEST_F(GroupEditorTest, StartUpPrefersTheSavedFiles)
{
    ask(groups(), &GroupEditor::createNew, "saved");
    groups().save();
    ask(groups(), &GroupEditor::createNew, "unsaved");
    m_editor.reset(); // quit without shut-down: the working file holds more than the saved one

    m_editor = std::make_unique<AccountEditor>(dir(), m_ui);
    m_editor->startUp();
    EXPECT_EQ(groups().names(), (std::vector<std::string>{"SampleGroup", "saved"}));
    EXPECT_EQ(m_editor->users().names(), std::vector<std::string>{"SampleUser"});
    EXPECT_FALSE(std::filesystem::exists(path("vesk2users.dat")));
}

} // namespace
} // namespace vesk2::admin
