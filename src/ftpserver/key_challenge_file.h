#pragma once
// The server's side of the key-check challenge: the file a client's RETR of
// "*encryption.key*" is answered with.
//
// The challenge is made fresh for each request and written to a file named
// "encryption.key" followed by the control connection's handle, in the
// server's work-files directory. The file is created only by this call (an
// existing file or link of that name is removed first and never written
// through) and is readable by the owner only. The download then sends the
// bytes made here, not what the file holds by the time it is read, so a
// second server process sharing the directory cannot change or take them.

#include <cstdint>
#include <string>
#include <string_view>

namespace vesk2::ftpserver {

// True when the file-name part of a resolved path is exactly "*encryption.key*".
bool isChallengeRequest(const std::string& path);

struct ChallengeFile {
    std::string path;  // where the challenge was to be written
    std::string bytes; // the 4096 bytes written
    bool written = false;
    std::string error; // why it was not written, as a client may see it
};

// Writes a new challenge for `keyText` (only its first 56 bytes count) to
// `dir` + "encryption.key" + `number`. `dir` gets a "/" appended when it lacks
// one. Never throws.
ChallengeFile writeKeyChallengeFile(const std::string& dir, std::uint64_t number, std::string_view keyText);

} // namespace vesk2::ftpserver
