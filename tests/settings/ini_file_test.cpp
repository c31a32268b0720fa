#include "settings/ini_file.h"

#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace vesk2::settings {
namespace {

TEST(IniFile, ParsesWhatTheFormatAllowsAndSkipsTheRest)
{
    const std::string text = "\xEF\xBB\xBF"
                             "orphan=before any section\r\n"
                             "; a comment\r\n"
                             "[ Server Options ]\r\n"
                             "  ServerPort =  2121  \r\n"
                             "ServerPort=9999\r\n"
                             "no equals sign here\r\n"
                             "=no key\r\n"
                             "Quoted=\"  padded  \"\r\n"
                             "Empty=\r\n"
                             "Path=/srv/ftp=odd\r\n"
                             "[broken header\r\n"
                             "Lost=1\r\n"
                             "[Other]\n"
                             "A=1\n"
                             "[server options]\n"
                             "Later=yes";
    IniFile file = IniFile::parse(text);

    struct Case {
        const char* section;
        const char* key;
        std::optional<std::string> want;
    };
    const Case cases[] = {
        {"Server Options", "ServerPort", "2121"}, // first of two equal keys wins
        {"SERVER OPTIONS", "serverport", "2121"}, // names match without regard to case
        {"Server Options", "Quoted", "  padded  "},
        {"Server Options", "Empty", ""},
        {"Server Options", "Path", "/srv/ftp=odd"},
        {"Server Options", "Later", "yes"}, // a repeated section continues the first
        {"Server Options", "orphan", std::nullopt},
        {"Server Options", "Lost", std::nullopt},
        {"broken header", "Lost", std::nullopt},
        {"Other", "A", "1"},
        {"Missing", "A", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(file.value(c.section, c.key), c.want) << c.section << "/" << c.key;
    EXPECT_EQ(file.sections().size(), 2u);
}

TEST(IniFile, ValuesComeBackUnchangedAndCannotStartLinesOfTheirOwn)
{
    const std::string values[] = {"plain", "  leading and trailing  ", "\"quoted\"", "\"", "a=b=c",
                                  "[Section]", "; not a comment", "", "\xC3\xA9t\xC3\xA9"};
    IniFile file;
    for (std::size_t i = 0; i < std::size(values); ++i)
        ASSERT_TRUE(file.setValue("S", "K" + std::to_string(i), values[i]));
    ASSERT_TRUE(file.setValue("S", "Injected", "x\r\n[S]\nK0=overwritten"));

    IniFile back = IniFile::parse(file.toText());
    for (std::size_t i = 0; i < std::size(values); ++i)
        EXPECT_EQ(back.value("S", "K" + std::to_string(i)), values[i]);
    EXPECT_EQ(back.value("S", "Injected"), "x  [S] K0=overwritten");
    EXPECT_EQ(back.sections().size(), 1u);
}

TEST(IniFile, RefusesNamesThatCannotBeWritten)
{
    IniFile file;
    for (const char* bad : {"", " lead", "trail ", "a\nb", "[x", ";x"}) {
        EXPECT_FALSE(file.setValue(bad, "Key", "v")) << bad;
        EXPECT_FALSE(file.setValue("S", bad, "v")) << bad;
    }
    EXPECT_FALSE(file.setValue("S]", "Key", "v"));
    EXPECT_FALSE(file.setValue("S", "K=ey", "v"));
    EXPECT_TRUE(file.sections().empty());
}

TEST(IniFile, SetReplacesInPlaceAndEraseRemoves)
{
    IniFile file;
    file.setValue("A", "One", "1");
    file.setValue("A", "Two", "2");
    file.setValue("B", "Three", "3");
    file.setValue("a", "ONE", "uno");
    EXPECT_EQ(file.toText(), "[A]\nOne=uno\nTwo=2\n\n[B]\nThree=3\n");

    EXPECT_TRUE(file.eraseKey("A", "two"));
    EXPECT_FALSE(file.eraseKey("A", "two"));
    EXPECT_TRUE(file.eraseSection("b"));
    EXPECT_FALSE(file.hasSection("B"));
    EXPECT_EQ(file.toText(), "[A]\nOne=uno\n");
}

using IniFileOnDisk = test::Sandbox;

TEST_F(IniFileOnDisk, SaveReplacesTheFileAndLeavesNoTemporaryFile)
{
    writeFile("x.ini", "[Old]\nKey=old\n");
    IniFile file;
    file.setValue("New", "Key", "new");
    IniSaveResult saved = saveIniFile(file, path("x.ini"));
    ASSERT_TRUE(saved.ok) << saved.error;
    EXPECT_EQ(readFile("x.ini"), "[New]\nKey=new\n");
    EXPECT_FALSE(std::filesystem::exists(path("x.ini.tmp")));
    auto perms = std::filesystem::status(path("x.ini")).permissions();
    EXPECT_EQ(perms & std::filesystem::perms::all, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    IniLoadResult loaded = loadIniFile(path("x.ini"));
    ASSERT_EQ(loaded.status, IniLoadResult::Status::Loaded);
    EXPECT_EQ(loaded.file.value("New", "Key"), "new");
}

TEST_F(IniFileOnDisk, SaveCreatesMissingDirectoriesAndKeepsASymbolicLink)
{
    IniFile file;
    file.setValue("S", "K", "v");
    ASSERT_TRUE(saveIniFile(file, path("a/b/c.ini")).ok);
    EXPECT_EQ(readFile("a/b/c.ini"), "[S]\nK=v\n");

    writeFile("real.ini", "[S]\nK=old\n");
    std::filesystem::create_symlink(path("real.ini"), path("link.ini"));
    ASSERT_TRUE(saveIniFile(file, path("link.ini")).ok);
    EXPECT_TRUE(std::filesystem::is_symlink(path("link.ini")));
    EXPECT_EQ(readFile("real.ini"), "[S]\nK=v\n");
}

TEST_F(IniFileOnDisk, FailuresAreReportedAndLeaveExistingDataAlone)
{
    EXPECT_EQ(loadIniFile(path("none.ini")).status, IniLoadResult::Status::Missing);

    std::filesystem::create_directory(path("dir.ini"));
    IniLoadResult dir = loadIniFile(path("dir.ini"));
    EXPECT_EQ(dir.status, IniLoadResult::Status::Failed);
    EXPECT_FALSE(dir.error.empty());

    writeFile("big.ini", "[S]\nK=v\n" + std::string(100, 'x'));
    IniLoadResult big = loadIniFile(path("big.ini"), 50);
    EXPECT_EQ(big.status, IniLoadResult::Status::Failed);
    EXPECT_NE(big.error.find("larger"), std::string::npos);

    IniFile file;
    file.setValue("S", "K", "v");
    IniSaveResult onDir = saveIniFile(file, path("dir.ini"));
    EXPECT_FALSE(onDir.ok);
    EXPECT_FALSE(onDir.error.empty());
    EXPECT_TRUE(std::filesystem::is_directory(path("dir.ini")));

    writeFile("plain", "not a directory");
    IniSaveResult underFile = saveIniFile(file, path("plain/x.ini"));
    EXPECT_FALSE(underFile.ok);
    EXPECT_EQ(readFile("plain"), "not a directory");
}

} // namespace
} // namespace vesk2::settings
