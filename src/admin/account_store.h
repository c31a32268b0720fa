#pragma once
// The user and group files of the server. Each kind of record lives in a saved
// file (".dat") and a working file (".tmp"); editing and logins use the working
// file, Save copies it over the saved file and Discard copies back. A scratch
// file (".tmp.tmp") exists only while records are deleted.
//
// A file is read up to its last whole record; trailing bytes that do not make
// a whole record are never read. Operations that only read never write, and an
// operation whose record is unchanged writes nothing. Writes replace a file as
// a whole (see safe_file.h), so a failed write leaves the file as it was.
//
// Failures come back as an error text (empty on success), for the caller to
// show; nothing here throws.

#include "admin/account_records.h"

#include <optional>
#include <string>
#include <vector>

namespace vesk2::admin {

inline constexpr const char* kUserSavedFile = "vesk2users.dat";
inline constexpr const char* kUserWorkingFile = "vesk2users.tmp";
inline constexpr const char* kUserScratchFile = "vesk2users.tmp.tmp";
inline constexpr const char* kGroupSavedFile = "vesk2groups.dat";
inline constexpr const char* kGroupWorkingFile = "vesk2groups.tmp";
inline constexpr const char* kGroupScratchFile = "vesk2groups.tmp.tmp";

template <class Record>
struct RecordRead {
    bool missing = false; // no working file
    std::vector<Record> records;
    std::string error; // set when the file exists but cannot be read
};

struct NameList {
    std::vector<NameString> names; // in file order
    std::string error;
};

// One kind of record (users or groups) in its three files.
template <class Record>
class RecordStore {
public:
    RecordStore(const std::string& directory, const char* savedName, const char* workingName,
                const char* scratchName, Record sample);

    const std::string& savedPath() const { return m_saved; }
    const std::string& workingPath() const { return m_working; }
    const std::string& scratchPath() const { return m_scratch; }

    // At start-up: copies the saved file over the working file when there is one.
    std::string startUp();

    // The names of all records of the working file, in file order. When there is
    // no working file it is created holding the sample record. A working file that
    // exists but cannot be read is left alone and reported.
    NameList loadList();

    // All whole records of the working file. Only reads.
    RecordRead<Record> readWorking() const;

    // The first record of the working file whose key equals `name`. Only reads.
    std::optional<Record> find(const NameString& name) const;

    // Overwrites the first record whose key equals the buffer's with the buffer.
    // Writes nothing when the key is empty, no record matches, the record is
    // already equal, or there is no working file.
    std::string flush(const Record& buffer);

    // Appends `record`, creating the working file when there is none.
    std::string append(const Record& record);

    // Gives the first record named `oldName` the text of `newName`; nothing
    // else changes. Nothing happens when there is no such record or file.
    std::string renameFirst(const NameString& oldName, const std::string& newName);

    // Removes every record named `name`, through the scratch file.
    std::string removeAll(const NameString& name);

    // Save: the working file over the saved file.
    std::string save();
    // Discard: the saved file over the working file; nothing when there is no saved file.
    std::string discard();

private:
    std::string m_saved;
    std::string m_working;
    std::string m_scratch;
    Record m_sample;
};

using UserStore = RecordStore<UserRecord>;
using GroupStore = RecordStore<GroupRecord>;

// Both stores in one directory (the program directory).
class AccountStore {
public:
    // `directory` gets a trailing "/" when it has none.
    explicit AccountStore(std::string directory);

    const std::string& directory() const { return m_directory; }
    UserStore& users() { return m_users; }
    GroupStore& groups() { return m_groups; }
    const UserStore& users() const { return m_users; }
    const GroupStore& groups() const { return m_groups; }

private:
    std::string m_directory;
    UserStore m_users;
    GroupStore m_groups;
};

} // namespace vesk2::admin
