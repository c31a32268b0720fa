#include "admin/account_store.h"
#include "app/account_commands.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace vesk2;

namespace {

class AccountCommandsTest : public test::Sandbox {
protected:
    // Runs one command line; returns the exit code and keeps what it printed.
    int run(std::vector<std::string> args)
    {
        out.str("");
        err.str("");
        return app::runAccountCommand(args, dir(), out, err);
    }
    std::ostringstream out, err;
};

TEST_F(AccountCommandsTest, FirstRunShowsTheSampleAccountsAndSavesThem)
{
    EXPECT_EQ(run({"user", "list"}), 0);
    EXPECT_EQ(out.str(), "SampleUser\n");
    EXPECT_EQ(run({"group", "list"}), 0);
    EXPECT_EQ(out.str(), "SampleGroup\n");
    EXPECT_EQ(readFile(admin::kUserSavedFile), readFile(admin::kUserWorkingFile));
    EXPECT_EQ(readFile(admin::kUserSavedFile).size(), 3718u);
}

TEST_F(AccountCommandsTest, CreatesAndEditsAUserAndSavesEveryChange)
{
    ASSERT_EQ(run({"user", "add", "bob", "--password", "pw", "--home", "/srv/ftp", "--enabled", "on"}), 0);
    ASSERT_EQ(run({"user", "access", "bob", "add", "/srv/ftp", "--rights", "rlw"}), 0);
    ASSERT_EQ(run({"user", "access", "bob", "add", "/srv/ftp/in", "--rights", "all"}), 0);
    ASSERT_EQ(run({"user", "access", "bob", "rights", "/srv/ftp/in", "--rights", "WC"}), 0);
    ASSERT_EQ(run({"user", "join", "bob", "SampleGroup"}), 0);
    ASSERT_EQ(run({"user", "show", "bob"}), 0);
    EXPECT_EQ(out.str(), "User: bob\n"
                         "  Enabled:   yes\n"
                         "  SuperUser: no\n"
                         "  Password:  (set)\n"
                         "  Key:       (none)\n"
                         "  Home:      /srv/ftp\n"
                         "  Access:\n"
                         "    RLW----  /srv/ftp\n"
                         "    --W---C  /srv/ftp/in\n"
                         "  Groups:    SampleGroup\n");
    EXPECT_EQ(readFile(admin::kUserSavedFile), readFile(admin::kUserWorkingFile));
    EXPECT_EQ(readFile(admin::kUserSavedFile).size(), 2u * 3718u);

    ASSERT_EQ(run({"user", "access", "bob", "remove", "/srv/ftp"}), 0);
    ASSERT_EQ(run({"user", "leave", "bob", "SampleGroup"}), 0);
    ASSERT_EQ(run({"user", "show", "bob"}), 0);
    EXPECT_NE(out.str().find("  Access:\n    --W---C  /srv/ftp/in\n  Groups:   \n"), std::string::npos) << out.str();
}

TEST_F(AccountCommandsTest, RefusalsGiveTheEditorsMessagesAndChangeNothing)
{
    ASSERT_EQ(run({"user", "add", "bob"}), 0);
    const std::string before = readFile(admin::kUserSavedFile);
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {{"user", "add", "bob"}, 1, "Sorry, name must be unique."},
        {{"user", "clone", "bob", "SampleUser"}, 1, "Name already exists - try again."},
        {{"user", "add", "Anonymous"}, 1, "A set password will NOT be required for user Anonymous"},
        {{"user", "set", "bob", "--superuser", "on"}, 1, "Warning - enabling SuperUser access"},
        {{"user", "show", "nobody"}, 1, "no user named 'nobody'"},
        {{"user", "join", "bob", "NoSuchGroup"}, 1, "no group named 'NoSuchGroup'"},
        {{"user", "access", "bob", "add", "relative/dir"}, 2, "is not an absolute directory"},
        {{"user", "access", "bob", "remove", "/nowhere"}, 1, "has no access entry for '/nowhere'"},
        {{"user", "set", "bob", "--enabled", "maybe"}, 1, "--enabled takes on or off"},
        {{"group", "set", "SampleGroup", "--password", "x"}, 1, "applies to users only"},
        {{"user", "frob"}, 2, "unknown user command 'frob'"},
        {{"user", "set", "bob", "--bogus"}, 2, "unknown option '--bogus'"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.args), c.code) << c.args[1];
        EXPECT_NE(err.str().find(c.message), std::string::npos) << c.args[1] << ": " << err.str();
    }
    EXPECT_EQ(readFile(admin::kUserSavedFile), before);
}

TEST_F(AccountCommandsTest, ConfirmedQuestionsGoThrough)
{
    ASSERT_EQ(run({"user", "add", "anonymous", "--yes"}), 0);
    ASSERT_EQ(run({"user", "set", "anonymous", "--superuser", "on", "--yes"}), 0);
    ASSERT_EQ(run({"user", "show", "anonymous"}), 0);
    EXPECT_NE(out.str().find("SuperUser: yes"), std::string::npos);
}

TEST_F(AccountCommandsTest, CloneRenameAndDeleteGroups)
{
    ASSERT_EQ(run({"group", "add", "staff", "--home", "/srv", "--enabled", "on"}), 0);
    ASSERT_EQ(run({"group", "access", "staff", "add", "/srv", "--rights", "RL"}), 0);
    ASSERT_EQ(run({"group", "clone", "staff", "crew"}), 0);
    ASSERT_EQ(run({"group", "show", "crew"}), 0);
    EXPECT_NE(out.str().find("RL-----  /srv"), std::string::npos) << "a cloned group keeps its access list";
    ASSERT_EQ(run({"group", "rename", "crew", "team"}), 0);
    ASSERT_EQ(run({"group", "delete", "staff"}), 0);
    ASSERT_EQ(run({"group", "list"}), 0);
    EXPECT_EQ(out.str(), "SampleGroup\nteam\n");
}

} // namespace
