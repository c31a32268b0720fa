#include "platform/program_dir.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace vesk2::platform {

namespace {

std::optional<std::string> environmentValue(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0')
        return std::nullopt;
    return std::string(value);
}

std::optional<std::string> passwordDatabaseHome()
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return std::nullopt;
    if (found->pw_dir == nullptr || *found->pw_dir == '\0')
        return std::nullopt;
    return std::string(found->pw_dir);
}

bool isSet(const std::optional<std::string>& value) { return value && !value->empty(); }

std::string withTrailingSlash(const fs::path& dir)
{
    std::string text = dir.lexically_normal().string();
    if (text.empty() || text.back() != '/')
        text += '/';
    return text;
}

} // namespace

ProgramDirEnvironment programDirEnvironment()
{
    ProgramDirEnvironment env;
    env.vesk2Home = environmentValue("VESK2_HOME");
    env.xdgConfigHome = environmentValue("XDG_CONFIG_HOME");
    env.home = environmentValue("HOME");
    if (!env.home)
        env.home = passwordDatabaseHome();
    return env;
}

std::optional<std::string> programDirectoryPath(const ProgramDirEnvironment& env)
{
    if (isSet(env.vesk2Home)) {
        std::error_code ec;
        fs::path dir = fs::absolute(*env.vesk2Home, ec);
        if (ec)
            return std::nullopt;
        return withTrailingSlash(dir);
    }
    if (isSet(env.xdgConfigHome) && fs::path(*env.xdgConfigHome).is_absolute())
        return withTrailingSlash(fs::path(*env.xdgConfigHome) / "vesk2");
    if (isSet(env.home) && fs::path(*env.home).is_absolute())
        return withTrailingSlash(fs::path(*env.home) / ".config" / "vesk2");
    return std::nullopt;
}

ProgramDirResult openProgramDirectory(const ProgramDirEnvironment& env)
{
    ProgramDirResult result;
    std::optional<std::string> dir = programDirectoryPath(env);
    if (!dir) {
        result.error = "No program directory: set VESK2_HOME, XDG_CONFIG_HOME or HOME";
        return result;
    }
    result.dir = *dir;

    // Checked and created without the trailing "/": with it a plain file reads
    // as missing, and some library versions report the directory as not created.
    fs::path target = fs::path(*dir).parent_path();
    std::error_code ec;
    fs::file_status status = fs::status(target, ec);
    if (fs::exists(status)) {
        if (!fs::is_directory(status))
            result.error = "The program directory " + *dir + " is not a directory";
        return result;
    }
    fs::create_directories(target, ec);
    if (ec || !fs::is_directory(target, ec)) {
        result.error = "Cannot create the program directory " + *dir + ": " +
                       (ec ? ec.message() : std::string("unknown error"));
        return result;
    }
    result.created = true;
    fs::permissions(target, fs::perms::owner_all, fs::perm_options::replace, ec);
    return result;
}

ProgramDirResult openProgramDirectory() { return openProgramDirectory(programDirEnvironment()); }

} // namespace vesk2::platform
