// The list-editing actions and the message options, driven through a scripted Ui.

#include "admin/list_editor.h"
#include "scripted_ui.h"
#include "support/sandbox.h"

#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vesk2::admin {
namespace {

using ftpserver::PermanentLinkEntry;
using ftpserver::VirtualDirEntry;
using platform::UiAnswer;

// The scripted Ui with file dialogs that answer too.
class FileDialogUi : public test::ScriptedUi {
public:
    std::deque<std::optional<std::string>> fileAnswers;
    std::vector<std::string> fileCaptions;
    std::vector<std::string> fileFilters;

    std::optional<std::string> openFile(const std::string& caption, const std::string& filter) override
    {
        return answerFile(caption, filter);
    }
    std::optional<std::string> saveFile(const std::string& caption, const std::string& filter,
                                        const std::string&) override
    {
        return answerFile(caption, filter);
    }

private:
    std::optional<std::string> answerFile(const std::string& caption, const std::string& filter)
    {
        fileCaptions.push_back(caption);
        fileFilters.push_back(filter);
        if (fileAnswers.empty()) {
            ADD_FAILURE() << "unscripted file dialog: " << caption;
            return std::nullopt;
        }
        std::optional<std::string> answer = fileAnswers.front();
        fileAnswers.pop_front();
        return answer;
    }
};

class ListEditorTest : public test::Sandbox {
protected:
    void SetUp() override
    {
        test::Sandbox::SetUp();
        m_lists = std::make_unique<ServerLists>(dir());
        m_lists->load();
        m_editor = std::make_unique<ListEditor>(*m_lists, m_dirs, m_links, m_settings, m_ui,
                                                [this](const std::string& p) { m_opened.push_back(p); }, dir());
    }
    void TearDown() override
    {
        EXPECT_TRUE(m_ui.allAnswered()) << "a scripted answer was not asked for";
        EXPECT_TRUE(m_ui.fileAnswers.empty()) << "a file dialog answer was not asked for";
        m_editor.reset();
        test::Sandbox::TearDown();
    }
    void addIp(const std::string& text)
    {
        m_ui.answerPrompt(text);
        m_editor->addIpEntry();
    }
    void addVirtual(const std::string& folder, const std::string& name)
    {
        m_ui.answerFolder(folder);
        m_ui.answerPrompt(name);
        m_editor->addVirtualDirectory();
    }

    FileDialogUi m_ui;
    settings::Settings m_settings;
    ftpserver::VirtualDirTable m_dirs;
    ftpserver::PermanentLinkTable m_links;
    std::unique_ptr<ServerLists> m_lists;
    std::unique_ptr<ListEditor> m_editor;
    std::vector<std::string> m_opened;
};

TEST_F(ListEditorTest, AddIpEntryAppendsTheTextAsTyped)
{
    addIp("192.168.0.*");
    addIp("10.1.");
    const auto prompts = m_ui.callsOf("prompt");
    ASSERT_EQ(prompts.size(), 2u);
    EXPECT_EQ(prompts[0].caption, "Add IP Allow/Deny");
    EXPECT_EQ(prompts[0].text, "IP Address/Range NO HOSTNAMES!");

    m_ui.answerPrompt(std::nullopt);
    m_editor->addIpEntry();
    addIp(""); // an empty entry would match everybody
    EXPECT_EQ(m_lists->ipList().entries(), (std::vector<std::string>{"192.168.0.*", "10.1."}));
    EXPECT_TRUE(m_lists->save().empty());
    EXPECT_EQ(readFile(kIpListFile), "192.168.0.*\r\n10.1.\r\n");
}

TEST_F(ListEditorTest, VirtualNamesAreStoredWithSlashesAround)
{
    struct Case {
        const char* folder;
        const char* typed;
        const char* wantPath;
        const char* wantMap;
    };
    const Case cases[] = {
        {"/srv/files", "pub/files", "/srv/files/", "/pub/files/"},
        {"/srv/x/", "\\pub\\", "/srv/x/", "/pub/"},
        {"/srv/y", "/docs", "/srv/y/", "/docs/"},
        {"/srv/z", "a", "/srv/z/", "/a/"},
    };
    for (const Case& c : cases)
        addVirtual(c.folder, c.typed);
    ASSERT_EQ(m_lists->virtualDirs().size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(m_lists->virtualDirs().entries()[i].DirectoryPath, cases[i].wantPath);
        EXPECT_EQ(m_lists->virtualDirs().entries()[i].VirtualMap, cases[i].wantMap);
        EXPECT_EQ(m_dirs[i].VirtualMap, cases[i].wantMap) << "the runtime table follows at once";
    }
    EXPECT_EQ(m_ui.callsOf("folder")[0].caption, "Browse for Folder");
    EXPECT_EQ(m_ui.callsOf("prompt")[0].text, "Type Virtual Mapping");
}

TEST_F(ListEditorTest, CancelledOrEmptyAnswersAddNothing)
{
    m_ui.answerFolder(std::nullopt);
    m_editor->addVirtualDirectory();
    EXPECT_TRUE(m_ui.callsOf("prompt").empty()) << "no name is asked without a folder";
    addVirtual("/srv/files", "");
    m_ui.answerFolder("/srv/docs");
    m_ui.answerPrompt(std::nullopt);
    m_editor->addPermanentLink();
    EXPECT_TRUE(m_lists->virtualDirs().empty());
    EXPECT_TRUE(m_lists->permanentLinks().empty());
    EXPECT_TRUE(m_dirs[0].isFree());
}

TEST_F(ListEditorTest, AddPermanentLinkKeepsTheChosenDirectory)
{
    m_ui.answerFolder("/srv/docs");
    m_ui.answerPrompt("Documents");
    m_editor->addPermanentLink();
    ASSERT_EQ(m_lists->permanentLinks().size(), 1u);
    EXPECT_EQ(m_lists->permanentLinks().entries()[0].DirectoryPath, "/srv/docs");
    EXPECT_EQ(m_links[0].LinkName, "Documents");
    EXPECT_EQ(m_ui.callsOf("prompt")[0].text, "Give Link a Name");
}

TEST_F(ListEditorTest, AFullListRefusesBeforeAsking)
{
    for (std::size_t i = 0; i < kMaxListEntries; ++i)
        m_lists->permanentLinks().add(PermanentLinkEntry{"/srv/" + std::to_string(i), "l" + std::to_string(i)});
    m_editor->addPermanentLink();
    EXPECT_EQ(m_ui.messageTexts(), std::vector<std::string>{kListFullText});
    EXPECT_TRUE(m_ui.callsOf("folder").empty());
    EXPECT_EQ(m_lists->permanentLinks().size(), kMaxListEntries);
}

TEST_F(ListEditorTest, AFolderNameWithALineBreakIsRefused)
{
    // A directory name may hold a line feed; stored, it would forge a second entry.
    addVirtual("/srv/evil\n/pub/\n/etc", "pub");
    EXPECT_EQ(m_ui.messageTexts(), std::vector<std::string>{kNotStorableText});
    EXPECT_TRUE(m_lists->virtualDirs().empty());
}

TEST_F(ListEditorTest, DeleteRemovesEverySelectedEntry)
{
    for (const char* name : {"a", "b", "c", "d"})
        addVirtual(std::string("/srv/") + name, name);
    m_editor->deleteSelected(ServerListKind::VirtualDirs, {1, 3, 99});
    ASSERT_EQ(m_lists->virtualDirs().size(), 2u);
    EXPECT_EQ(m_dirs[0].VirtualMap, "/a/");
    EXPECT_EQ(m_dirs[1].VirtualMap, "/c/");
    EXPECT_TRUE(m_dirs[2].isFree());

    addIp("10.1.");
    addIp("10.2.");
    m_editor->deleteSelected(ServerListKind::IpList, {0});
    EXPECT_EQ(m_lists->ipList().entries(), std::vector<std::string>{"10.2."});
}

TEST_F(ListEditorTest, ClearAsksFirstAndOnlyWhenThereIsSomethingToClear)
{
    m_editor->clearList(ServerListKind::PermanentLinks);
    EXPECT_TRUE(m_ui.callsOf("message").empty());

    addVirtual("/srv/a", "a");
    m_ui.answerMessage(UiAnswer::No);
    m_editor->clearList(ServerListKind::VirtualDirs);
    EXPECT_EQ(m_lists->virtualDirs().size(), 1u);
    m_ui.answerMessage(UiAnswer::Yes);
    m_editor->clearList(ServerListKind::VirtualDirs);
    EXPECT_TRUE(m_lists->virtualDirs().empty());
    EXPECT_TRUE(m_dirs[0].isFree());
    EXPECT_EQ(m_ui.messageTexts(), (std::vector<std::string>{kClearListText, kClearListText}));
}

TEST_F(ListEditorTest, ChooseMessageFileSetsTheOption)
{
    m_ui.fileAnswers.push_back("/srv/motd.txt");
    m_editor->chooseMessageFile(MessageKind::Logout);
    EXPECT_EQ(m_settings.LogoutMessage, "/srv/motd.txt");
    m_ui.fileAnswers.push_back(std::nullopt);
    m_editor->chooseMessageFile(MessageKind::Logout);
    EXPECT_EQ(m_settings.LogoutMessage, "/srv/motd.txt");
    EXPECT_EQ(m_ui.fileCaptions, (std::vector<std::string>{"Locate Message File", "Locate Message File"}));
}

TEST_F(ListEditorTest, EditOpensTheFileOrCreatesANewOne)
{
    m_settings.ConnectMessage = "/srv/connect.txt";
    m_editor->editMessageFile(MessageKind::Connect);
    EXPECT_EQ(m_opened, std::vector<std::string>{"/srv/connect.txt"});
    EXPECT_TRUE(m_ui.fileCaptions.empty());

    m_ui.fileAnswers.push_back(path("welcome"));
    m_editor->editMessageFile(MessageKind::Login);
    EXPECT_EQ(m_ui.fileCaptions.back(), "Create New Login Message");
    EXPECT_EQ(m_ui.fileFilters.back(), "Text Files (*.txt)|*.txt|All Files (*.*)|*.*");
    EXPECT_EQ(m_settings.LoginMessage, path("welcome.txt"));
    EXPECT_TRUE(std::filesystem::is_regular_file(path("welcome.txt")));
    EXPECT_EQ(readFile("welcome.txt"), "");
    EXPECT_EQ(m_opened.back(), path("welcome.txt"));
}

TEST_F(ListEditorTest, ChoosingAnExistingFileNeverEmptiesIt)
{
    writeFile("bye.txt", "Goodbye, friend\r\n");
    m_ui.fileAnswers.push_back(path("bye.txt"));
    m_editor->editMessageFile(MessageKind::Logout);
    EXPECT_EQ(m_ui.fileCaptions.back(), "Create New Logout Message");
    EXPECT_EQ(readFile("bye.txt"), "Goodbye, friend\r\n");
    EXPECT_EQ(m_opened, std::vector<std::string>{path("bye.txt")});
}

TEST_F(ListEditorTest, AFileThatCannotBeCreatedIsReported)
{
    const std::string name = path("no/such/dir/connect.txt");
    m_ui.fileAnswers.push_back(name);
    m_editor->editMessageFile(MessageKind::Connect);
    EXPECT_EQ(m_ui.messageTexts(), std::vector<std::string>{"Error : Could not create " + name});
    EXPECT_EQ(m_settings.ConnectMessage, name) << "the option keeps the chosen name";
    EXPECT_TRUE(m_opened.empty());
}

} // namespace
} // namespace vesk2::admin
