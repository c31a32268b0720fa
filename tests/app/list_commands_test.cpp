#include "app/list_commands.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace vesk2;

namespace {

class ListCommandsTest : public test::Sandbox {
protected:
    int run(std::vector<std::string> args)
    {
        out.str("");
        err.str("");
        return app::runListCommand(args, dir(), out, err);
    }
    std::ostringstream out, err;
};

TEST_F(ListCommandsTest, AddsListsAndRemovesEntriesOfEachList)
{
    ASSERT_EQ(run({"list", "ip", "add", "192.0.2."}), 0) << err.str();
    ASSERT_EQ(run({"list", "ip", "add", "*"}), 0);
    ASSERT_EQ(run({"list", "vdir", "add", "/srv/pub", "pub/files"}), 0) << err.str();
    ASSERT_EQ(run({"list", "link", "add", "/srv/pub/latest", "latest"}), 0) << err.str();
    ASSERT_EQ(run({"list", "ip", "list"}), 0);
    EXPECT_EQ(out.str(), "1\t192.0.2.\n2\t*\n");
    ASSERT_EQ(run({"list", "vdir", "list"}), 0);
    EXPECT_EQ(out.str(), "1\t/srv/pub/\t/pub/files/\n");
    EXPECT_EQ(readFile("virtmaps.dat"), "/srv/pub/\r\n/pub/files/\r\n");
    ASSERT_EQ(run({"list", "ip", "remove", "192.0.2."}), 0);
    ASSERT_EQ(run({"list", "link", "remove", "1"}), 0);
    ASSERT_EQ(run({"list", "ip", "list"}), 0);
    EXPECT_EQ(out.str(), "1\t*\n");
    ASSERT_EQ(run({"list", "link", "list"}), 0);
    EXPECT_EQ(out.str(), "");
}

TEST_F(ListCommandsTest, RefusalsLeaveTheFilesAlone)
{
    ASSERT_EQ(run({"list", "ip", "add", "192.0.2.1"}), 0);
    const std::string before = readFile("ipdenials.dat");
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {{"list", "ip", "clear"}, 1, "Are you sure you want to clear this list?"},
        {{"list", "ip", "remove", "10.9.9.9"}, 1, "no entry '10.9.9.9'"},
        {{"list", "ip", "add", "bad\x01entry"}, 1, "cannot hold line breaks or control characters"},
        {{"list", "vdir", "add", "relative", "x"}, 2, "is not an absolute directory"},
        {{"list", "ip", "mode", "maybe"}, 2, "allow or deny"},
        {{"list", "frob", "list"}, 2, "Usage: vesk2 list"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.args), c.code) << c.args[2];
        EXPECT_NE(err.str().find(c.message), std::string::npos) << c.args[2] << ": " << err.str();
    }
    EXPECT_EQ(readFile("ipdenials.dat"), before);
    ASSERT_EQ(run({"list", "ip", "clear", "--yes"}), 0);
    ASSERT_EQ(run({"list", "ip", "list"}), 0);
    EXPECT_EQ(out.str(), "");
}

TEST_F(ListCommandsTest, ModeIsStoredInTheSettingsFile)
{
    ASSERT_EQ(run({"list", "ip", "mode", "allow"}), 0) << err.str();
    EXPECT_NE(readFile("vesk2.ini").find("Allow=1"), std::string::npos);
    EXPECT_NE(readFile("vesk2.ini").find("Deny=0"), std::string::npos);
    ASSERT_EQ(run({"list", "ip", "mode", "deny"}), 0);
    EXPECT_NE(readFile("vesk2.ini").find("Deny=1"), std::string::npos);
}

} // namespace
