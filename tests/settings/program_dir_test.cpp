#include "platform/program_dir.h"

#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace vesk2::platform {
namespace {

namespace fs = std::filesystem;

TEST(ProgramDirectoryPath, FollowsVesk2HomeThenXdgThenHome)
{
    using E = ProgramDirEnvironment;
    struct Case {
        E env;
        std::optional<std::string> want;
    };
    const std::string cwd = fs::current_path().string();
    const Case cases[] = {
        {E{"/data/vesk", "/xdg", "/home/u"}, "/data/vesk/"},
        {E{"/data/vesk/", "/xdg", "/home/u"}, "/data/vesk/"},
        {E{"/data//vesk/../v2", {}, {}}, "/data/v2/"},
        {E{"rel", {}, {}}, cwd + "/rel/"},
        {E{"", "/xdg", "/home/u"}, "/xdg/vesk2/"},
        {E{{}, "/xdg/", "/home/u"}, "/xdg/vesk2/"},
        {E{{}, "relative-xdg", "/home/u"}, "/home/u/.config/vesk2/"},
        {E{{}, "", "/home/u"}, "/home/u/.config/vesk2/"},
        {E{{}, {}, {}}, std::nullopt},
        {E{{}, {}, "not-absolute"}, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(programDirectoryPath(c.env), c.want) << c.env.vesk2Home.value_or("-") << " "
                                                       << c.env.xdgConfigHome.value_or("-");
}

using OpenProgramDirectory = test::Sandbox;

TEST_F(OpenProgramDirectory, CreatesAMissingDirectoryForItsOwnerOnly)
{
    ProgramDirResult first = openProgramDirectory(ProgramDirEnvironment{{}, path("xdg"), {}});
    ASSERT_TRUE(first.ok()) << first.error;
    EXPECT_TRUE(first.created);
    EXPECT_EQ(first.dir, path("xdg") + "/vesk2/");
    EXPECT_TRUE(fs::is_directory(first.dir));
    EXPECT_EQ(fs::status(first.dir).permissions() & fs::perms::all, fs::perms::owner_all);

    ProgramDirResult again = openProgramDirectory(ProgramDirEnvironment{{}, path("xdg"), {}});
    ASSERT_TRUE(again.ok());
    EXPECT_FALSE(again.created);
    EXPECT_EQ(again.dir, first.dir);
}

TEST_F(OpenProgramDirectory, ReportsWhatCannotBeUsed)
{
    writeFile("taken", "a file");
    ProgramDirResult onFile = openProgramDirectory(ProgramDirEnvironment{path("taken"), {}, {}});
    EXPECT_FALSE(onFile.ok());
    EXPECT_NE(onFile.error.find("is not a directory"), std::string::npos);

    ProgramDirResult underFile = openProgramDirectory(ProgramDirEnvironment{path("taken/sub"), {}, {}});
    EXPECT_FALSE(underFile.ok());
    EXPECT_NE(underFile.error.find("Cannot create"), std::string::npos);
    EXPECT_EQ(readFile("taken"), "a file");

    EXPECT_FALSE(openProgramDirectory(ProgramDirEnvironment{}).ok());
}

TEST_F(OpenProgramDirectory, ReadsTheProcessEnvironment)
{
    const char* saved = std::getenv("VESK2_HOME");
    std::optional<std::string> previous = saved ? std::optional<std::string>(saved) : std::nullopt;
    ::setenv("VESK2_HOME", path("home").c_str(), 1);
    ProgramDirResult result = openProgramDirectory();
    if (previous)
        ::setenv("VESK2_HOME", previous->c_str(), 1);
    else
        ::unsetenv("VESK2_HOME");
    ASSERT_TRUE(result.ok()) << result.error;
    EXPECT_EQ(result.dir, path("home") + "/");
    EXPECT_TRUE(fs::is_directory(path("home")));
}

} // namespace
} // namespace vesk2::platform
