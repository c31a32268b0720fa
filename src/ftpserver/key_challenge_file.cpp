#include "ftpserver/key_challenge_file.h"

#include "crypto/key_check.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

namespace vesk2::ftpserver {

namespace {

// How often a name that someone else took between our remove and our create
// is tried again.
constexpr int kCreateAttempts = 3;

std::string systemReason(int savedErrno) { return savedErrno != 0 ? std::strerror(savedErrno) : "Unknown error"; }

} // namespace

bool isChallengeRequest(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::string_view name =
        slash == std::string::npos ? std::string_view(path) : std::string_view(path).substr(slash + 1);
    return name == crypto::kChallengeRequestName;
}

ChallengeFile writeKeyChallengeFile(const std::string& dir, std::uint64_t number, std::string_view keyText)
{
    ChallengeFile result;
    result.path = dir;
    if (result.path.empty() || result.path.back() != '/')
        result.path += '/';
    result.path += crypto::keyChallengeFileName(number);

    const std::vector<std::uint8_t> challenge = crypto::makeKeyChallenge(keyText);
    if (challenge.size() != crypto::kChallengeSize) {
        result.error = "No key-check challenge could be made";
        return result;
    }

    // Remove whatever has the name (a stale challenge, or a link planted in a
    // shared directory), then create the file exclusively: "x" fails rather
    // than follow a link someone made in between.
    using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;
    FilePtr file(nullptr, std::fclose);
    int savedErrno = 0;
    for (int attempt = 0; attempt < kCreateAttempts && !file; ++attempt) {
        std::error_code ignored;
        std::filesystem::remove(result.path, ignored);
        errno = 0;
        file.reset(std::fopen(result.path.c_str(), "wbx"));
        savedErrno = errno;
        if (!file && savedErrno != EEXIST)
            break;
    }
    if (!file) {
        result.error = "Cannot create file \"" + result.path + "\". " + systemReason(savedErrno);
        return result;
    }
    // Owner-only before a byte is written: the file lets anyone who reads it
    // test guesses of the key.
    std::error_code ec;
    std::filesystem::permissions(result.path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::replace, ec);
    errno = 0;
    const bool wrote = std::fwrite(challenge.data(), 1, challenge.size(), file.get()) == challenge.size();
    const bool closed = std::fclose(file.release()) == 0;
    if (!wrote || !closed) {
        result.error = "Cannot write file \"" + result.path + "\". " + systemReason(errno);
        std::filesystem::remove(result.path, ec);
        return result;
    }
    result.bytes.assign(challenge.begin(), challenge.end());
    result.written = true;
    return result;
}

} // namespace vesk2::ftpserver
