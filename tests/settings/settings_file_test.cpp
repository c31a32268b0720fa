#include "settings/settings_file.h"

#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <type_traits>

namespace vesk2::settings {
namespace {

namespace fs = std::filesystem;

// Every option changed away from its default, through the same setters that
// loading uses, so that coupled options stay in a state a load can produce.
Settings everyOptionChanged()
{
    Settings s;
    int n = 0;
    for (const SettingsKey& key : settingsKeys()) {
        ++n;
        std::visit(
            [&](auto member) {
                using Value = std::remove_reference_t<decltype(s.*member)>;
                if constexpr (std::is_same_v<Value, bool>) {
                    if (key.setter != nullptr)
                        (s.*key.setter)(!(s.*member));
                    else
                        s.*member = !(s.*member);
                } else if constexpr (std::is_same_v<Value, int>) {
                    s.*member = s.*member == key.maximum ? key.minimum : key.maximum - n;
                } else {
                    s.*member = std::string(" ") + key.name + " = \"value\" [" + std::to_string(n) + "] ";
                }
            },
            key.field);
    }
    return s;
}

TEST(SettingsKeys, CoverThreeSectionsInOrderWithUniqueNames)
{
    std::vector<std::string> sectionOrder;
    std::set<std::string> names;
    for (const SettingsKey& key : settingsKeys()) {
        if (sectionOrder.empty() || sectionOrder.back() != key.section)
            sectionOrder.push_back(key.section);
        EXPECT_TRUE(names.insert(key.name).second) << key.name;
        if (std::holds_alternative<int Settings::*>(key.field)) {
            Settings defaults;
            int value = defaults.*std::get<int Settings::*>(key.field);
            EXPECT_LE(key.minimum, value) << key.name;
            EXPECT_GE(key.maximum, value) << key.name;
        }
    }
    EXPECT_EQ(sectionOrder, (std::vector<std::string>{kServerOptions, kGlobalOptions, kClientOptions}));
    EXPECT_EQ(names.size(), 13u + 26u + 17u);
    EXPECT_NE(findSettingsKey(kServerOptions, "IdleCount"), nullptr);
    EXPECT_EQ(findSettingsKey(kClientOptions, "IdleCount"), nullptr);
}

TEST(SettingsCoupling, AllowAndDenyAreOneChoiceAndSoAreMaximizedAndMinimized)
{
    Settings s;
    s.setDeny(true);
    EXPECT_TRUE(s.Deny);
    EXPECT_FALSE(s.Allow);
    s.setDeny(false);
    EXPECT_FALSE(s.Allow) << "switching one off leaves the other";
    s.setAllow(true);
    EXPECT_TRUE(s.Allow);

    s.setStartMaximized(true);
    s.setStartMinimized(true);
    EXPECT_FALSE(s.StartMaximized);
    EXPECT_TRUE(s.StartMinimized);

    EXPECT_FALSE(s.setHideFromTaskbar(true));
    EXPECT_FALSE(s.HideFromTaskbar);
    s.MinimizeToTray = true;
    EXPECT_TRUE(s.setHideFromTaskbar(true));
    EXPECT_TRUE(s.HideFromTaskbar);

    s.TimestampLogs = true;
    EXPECT_FALSE(s.setAppendLogs(true));
    EXPECT_FALSE(s.AppendLogs);
}

TEST(SettingsFilePath, ArgumentWithoutDirectoryIsTakenFromTheProgramDirectory)
{
    const std::string dir = "/home/u/.config/vesk2/";
    EXPECT_EQ(settingsFilePath(dir, std::nullopt), dir + "vesk2.ini");
    EXPECT_EQ(settingsFilePath(dir, std::string()), dir + "vesk2.ini");
    EXPECT_EQ(settingsFilePath(dir, std::string("other.ini")), dir + "other.ini");
    EXPECT_EQ(settingsFilePath(dir, std::string("/etc/../srv/x.ini")), "/srv/x.ini");
    EXPECT_EQ(settingsFilePath(dir, std::string("sub/x.ini")), (fs::current_path() / "sub/x.ini").string());
}

class SettingsFileTest : public test::Sandbox {
protected:
    Settings loadFrom(const std::string& text)
    {
        writeFile("vesk2.ini", text);
        Settings s;
        m_file.load(s);
        return s;
    }

    SettingsFile m_file{""};

    void SetUp() override
    {
        Sandbox::SetUp();
        m_file = SettingsFile(path("vesk2.ini"));
    }
};

TEST_F(SettingsFileTest, FirstStartCreatesTheFileWithEveryDefault)
{
    Settings s;
    m_file.load(s);

    EXPECT_EQ(s, Settings{});
    EXPECT_EQ(m_file.pendingMessage(),
              path("vesk2.ini") + " not found.  The file has been created using the application default settings.");
    EXPECT_TRUE(m_file.problems().empty());

    // Every key is in the file, in the order of the table, one section after the other.
    IniLoadResult written = loadIniFile(path("vesk2.ini"));
    ASSERT_EQ(written.status, IniLoadResult::Status::Loaded);
    std::vector<std::string> keys;
    for (const IniFile::Section& section : written.file.sections())
        for (const IniFile::Entry& entry : section.entries)
            keys.push_back(section.name + "/" + entry.key);
    std::vector<std::string> want;
    for (const SettingsKey& key : settingsKeys())
        want.push_back(std::string(key.section) + "/" + key.name);
    EXPECT_EQ(keys, want);
    EXPECT_EQ(written.file.value(kServerOptions, "IdleTimeout"), "1");
    EXPECT_EQ(written.file.value(kServerOptions, "Deny"), "0");
    EXPECT_EQ(written.file.value(kServerOptions, "IdleCount"), "300");

    // A second start finds it and has nothing to say.
    Settings again;
    m_file.load(again);
    EXPECT_EQ(again, Settings{});
    EXPECT_TRUE(m_file.pendingMessage().empty());
}

TEST_F(SettingsFileTest, EveryKeyRoundTripsThroughSaveAndLoad)
{
    const Settings changed = everyOptionChanged();
    ASSERT_TRUE(m_file.save(changed).ok);
    Settings loaded;
    m_file.load(loaded);
    EXPECT_TRUE(m_file.problems().empty());
    EXPECT_TRUE(m_file.pendingMessage().empty());
    EXPECT_EQ(loaded, changed);
    // Each field really differs from the default, so the comparison covers every key.
    for (const SettingsKey& key : settingsKeys()) {
        bool differs = std::visit([&](auto member) { return loaded.*member != Settings{}.*member; }, key.field);
        bool coupledOff = std::strcmp(key.name, "Allow") == 0 || std::strcmp(key.name, "StartMaximized") == 0;
        EXPECT_TRUE(differs || coupledOff) << key.name;
    }
}

TEST_F(SettingsFileTest, OnlyServerPortGivenKeepsEveryOtherDefault)
{
    Settings s = loadFrom("[Server Options]\nServerPort=2121\n");
    Settings want;
    want.ServerPort = "2121";
    EXPECT_EQ(s, want);
    EXPECT_TRUE(m_file.pendingMessage().empty());
}

TEST_F(SettingsFileTest, BadValuesGiveTheDefaultAndAreReported)
{
    struct Case {
        const char* line;
        int idleCount;
        int formWidth;
        bool passive;
        bool mask;
        bool reported;
    };
    const Case cases[] = {
        {"IdleCount=600", 600, 770, false, true, false},
        {"IdleCount=60", 60, 770, false, true, false},
        {"IdleCount=3600", 3600, 770, false, true, false},
        {"IdleCount=+500", 500, 770, false, true, false},
        {"IdleCount=59", 300, 770, false, true, true},
        {"IdleCount=3601", 300, 770, false, true, true},
        {"IdleCount=-300", 300, 770, false, true, true},
        {"IdleCount=abc", 300, 770, false, true, true},
        {"IdleCount=12abc", 300, 770, false, true, true},
        {"IdleCount=99999999999999999999", 300, 770, false, true, true},
        {"IdleCount=", 300, 770, false, true, true},
        {"FormWidth=0", 300, 770, false, true, true},
        {"FormWidth=1024", 300, 1024, false, true, false},
        {"PassiveMode=2", 300, 770, true, true, false},
        {"PassiveMode=-1", 300, 770, true, true, false},
        {"PassiveMode=0", 300, 770, false, true, false},
        {"PassiveMode=yes", 300, 770, false, true, true},
        {"MaskPasswords=0", 300, 770, false, false, false},
        {"MaskPasswords=on", 300, 770, false, true, true},
        {"MaskPasswords=1.5", 300, 770, false, true, true},
    };
    for (const Case& c : cases) {
        std::string key = std::string(c.line).substr(0, std::string(c.line).find('='));
        std::string section = key == "IdleCount" ? "[Server Options]\n" : key == "PassiveMode" ? "[Client Options]\n"
                                                                                            : "[Global Options]\n";
        Settings s = loadFrom(section + c.line + "\n");
        EXPECT_EQ(s.IdleCount, c.idleCount) << c.line;
        EXPECT_EQ(s.FormWidth, c.formWidth) << c.line;
        EXPECT_EQ(s.PassiveMode, c.passive) << c.line;
        EXPECT_EQ(s.MaskPasswords, c.mask) << c.line;
        ASSERT_EQ(m_file.problems().size(), c.reported ? 1u : 0u) << c.line;
        if (c.reported) {
            EXPECT_NE(m_file.problems()[0].find(key), std::string::npos) << m_file.problems()[0];
        }
    }
}

TEST_F(SettingsFileTest, AllowIsReadBeforeDenyAndTheyAreOneChoice)
{
    struct Case {
        const char* allow;
        const char* deny;
        bool wantAllow;
        bool wantDeny;
    };
    const Case cases[] = {{"1", "1", false, true}, {"0", "0", false, false}, {"1", "0", true, false},
                          {"0", "1", false, true}};
    for (const Case& c : cases) {
        Settings s = loadFrom(std::string("[Server Options]\nDeny=") + c.deny + "\nAllow=" + c.allow + "\n");
        EXPECT_EQ(s.Allow, c.wantAllow) << c.allow << c.deny;
        EXPECT_EQ(s.Deny, c.wantDeny) << c.allow << c.deny;
    }
    Settings both = loadFrom("[Global Options]\nStartMaximized=1\nStartMinimized=1\n");
    EXPECT_FALSE(both.StartMaximized);
    EXPECT_TRUE(both.StartMinimized);
}

TEST_F(SettingsFileTest, MissingKeysKeepTheCurrentValueExceptTheListedOnes)
{
    writeFile("vesk2.ini", "[Server Options]\n");
    Settings s;
    s.ServerPort = "2222";
    s.IdleCount = 900;
    s.FormLeft = 5;
    s.SocksServer = "proxy";
    s.QueueSoundFilename = "done.wav";
    s.CurrentKeyBits = "1024";
    m_file.load(s);
    EXPECT_EQ(s.ServerPort, "2222");
    EXPECT_EQ(s.IdleCount, 900);
    EXPECT_EQ(s.FormLeft, 210);
    EXPECT_EQ(s.SocksServer, "");
    EXPECT_EQ(s.QueueSoundFilename, "");
    EXPECT_EQ(s.CurrentKeyBits, "");

    writeFile("vesk2.ini", "[Server Options]\nIdleCount=oops\n");
    m_file.load(s);
    EXPECT_EQ(s.IdleCount, 900) << "an unreadable value keeps the current one";
}

TEST_F(SettingsFileTest, KeyNamesMatchWithoutCaseAndUnknownEntriesSurviveASave)
{
    Settings s = loadFrom("; written by hand\n[server options]\nserverport=2121\nMyOwnKey=keep me\n"
                          "[Plugins]\nA=1\n");
    EXPECT_EQ(s.ServerPort, "2121");

    s.ServerPort = "2200";
    ASSERT_TRUE(m_file.save(s).ok);
    IniLoadResult written = loadIniFile(path("vesk2.ini"));
    EXPECT_EQ(written.file.value(kServerOptions, "ServerPort"), "2200");
    EXPECT_EQ(written.file.value(kServerOptions, "MyOwnKey"), "keep me");
    EXPECT_EQ(written.file.value("Plugins", "A"), "1");
    EXPECT_EQ(written.file.sections().size(), 4u);
}

TEST_F(SettingsFileTest, LineBreaksInAValueCannotPlantOtherKeys)
{
    Settings s;
    s.DefaultHomeDirectory = "/srv\n[Server Options]\nServerPort=1\r\nEncryptedOnlyClients=1";
    ASSERT_TRUE(m_file.save(s).ok);
    Settings loaded;
    m_file.load(loaded);
    EXPECT_EQ(loaded.ServerPort, "21");
    EXPECT_FALSE(loaded.EncryptedOnlyClients);
    EXPECT_EQ(loaded.DefaultHomeDirectory, "/srv [Server Options] ServerPort=1  EncryptedOnlyClients=1");
}

TEST_F(SettingsFileTest, AMissingDirectoryIsCreated)
{
    SettingsFile file(path("new/dir/custom.ini"));
    Settings s;
    file.load(s);
    EXPECT_TRUE(fs::is_regular_file(path("new/dir/custom.ini")));
    EXPECT_NE(file.pendingMessage().find("custom.ini not found.  The file has been created"), std::string::npos);
}

TEST_F(SettingsFileTest, AFileThatCannotBeCreatedIsNotReportedAsCreated)
{
    writeFile("blocker", "a file where a directory should be");
    SettingsFile file(path("blocker/vesk2.ini"));
    Settings s;
    file.load(s);
    EXPECT_EQ(s, Settings{});
    EXPECT_NE(file.pendingMessage().find("could not be created"), std::string::npos) << file.pendingMessage();
    EXPECT_EQ(file.pendingMessage().find("has been created"), std::string::npos);
    EXPECT_EQ(readFile("blocker"), "a file where a directory should be");
}

TEST_F(SettingsFileTest, AFileThatCannotBeReadIsNeverOverwritten)
{
    const std::string huge = "[Server Options]\nServerPort=2121\n" + std::string(kMaxIniFileBytes, ';');
    writeFile("vesk2.ini", huge);
    Settings s;
    m_file.load(s);
    EXPECT_EQ(s, Settings{});
    EXPECT_NE(m_file.pendingMessage().find("cannot be read"), std::string::npos) << m_file.pendingMessage();

    IniSaveResult saved = m_file.save(s);
    EXPECT_FALSE(saved.ok);
    EXPECT_NE(saved.error.find("left as it is"), std::string::npos) << saved.error;
    EXPECT_EQ(readFile("vesk2.ini"), huge);
    EXPECT_FALSE(fs::exists(path("vesk2.ini.tmp")));
}

} // namespace
} // namespace vesk2::settings
