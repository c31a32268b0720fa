#include "support/sandbox.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace vesk2::test {

void Sandbox::SetUp()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "vesk2-test-XXXXXX").string();
    char* made = ::mkdtemp(pattern.data());
    ASSERT_NE(made, nullptr) << "cannot create a sandbox directory";
    m_dir = made;
}

void Sandbox::TearDown()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
}

void Sandbox::writeFile(const std::string& name, const std::string& bytes) const
{
    std::filesystem::create_directories(std::filesystem::path(path(name)).parent_path());
    std::ofstream out(path(name), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Sandbox::readFile(const std::string& name) const { return readWholeFile(path(name)); }

std::string readWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace vesk2::test
