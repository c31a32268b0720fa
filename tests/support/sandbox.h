#pragma once
// A temporary directory of the test's own, removed with everything in it when
// the test ends.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace vesk2::test {

class Sandbox : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Absolute path of the sandbox directory, ending in "/".
    std::string dir() const { return m_dir.string() + "/"; }
    std::string path(const std::string& name) const { return (m_dir / name).string(); }
    void writeFile(const std::string& name, const std::string& bytes) const;
    std::string readFile(const std::string& name) const;

private:
    std::filesystem::path m_dir;
};

// Same as Sandbox::readFile, for any path.
std::string readWholeFile(const std::string& path);

} // namespace vesk2::test
