#pragma once
// The records of the user and group files, and their exact stored form.
//
// A file is a plain sequence of records of one fixed size: 3718 bytes for a
// user, 2939 for a group, with no header. A flag is one byte: 0 or 1 when
// written, any non-zero value reads as on. Short strings keep their filler
// bytes, so decoding and encoding a record gives back the same bytes (flags
// apart, which are written as 0 or 1).

#include "admin/short_string.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vesk2::admin {

inline constexpr std::size_t kMaxAccessEntries = 32;
inline constexpr std::size_t kMaxMemberships = 16;

using NameString = ShortString<40>; // user and group names, passwords, memberships
using PathString = ShortString<80>; // keys, home directories, access paths

// The seven rights of an access entry, in their stored order.
enum class Right { Read, List, Write, Rename, Delete, Inheritable, Create };
inline constexpr std::size_t kRightCount = 7;

// One directory and its rights. The same 88 bytes stand in user records, group
// records and the session table. An empty `Path` marks an unused slot.
struct AccessEntry {
    static constexpr std::size_t kSize = 88;

    PathString Path;
    bool Read = false;
    bool List = false;
    bool Write = false;
    bool Rename = false;
    bool Delete = false;
    bool Inheritable = false;
    bool Create = false;

    bool used() const { return !Path.empty(); }
    bool right(Right r) const;
    void setRight(Right r, bool on);

    // `out` and `in` point at kSize bytes.
    void writeTo(char* out) const;
    static AccessEntry readFrom(const char* in);
};

using AccessList = std::array<AccessEntry, kMaxAccessEntries>;

struct UserRecord {
    static constexpr std::size_t kSize = 3718;

    NameString UserName; // the login name and the record's key
    NameString Password; // plain text
    PathString EncryptionKey; // empty: none
    PathString HomeDirectory; // empty: a group's or the default home applies
    AccessList Access;
    std::array<NameString, kMaxMemberships> Groups; // empty slot: unused
    bool SuperUser = false;
    bool Enabled = false; // "Account Enabled"

    const NameString& key() const { return UserName; }
    NameString& key() { return UserName; }

    // Exactly kSize bytes.
    std::string encode() const;
    // nullopt unless `bytes` holds exactly kSize bytes.
    static std::optional<UserRecord> decode(std::string_view bytes);
};

struct GroupRecord {
    static constexpr std::size_t kSize = 2939;

    NameString GroupName; // the record's key
    PathString HomeDirectory; // empty: none
    AccessList Access;
    bool Enabled = false; // "Group Enabled"

    const NameString& key() const { return GroupName; }
    NameString& key() { return GroupName; }

    std::string encode() const;
    static std::optional<GroupRecord> decode(std::string_view bytes);
};

// The records written when a working file does not exist yet.
UserRecord sampleUser();
GroupRecord sampleGroup();

} // namespace vesk2::admin
