#include "admin/account_store.h"

#include "admin/safe_file.h"

#include <utility>

namespace vesk2::admin {

namespace {

constexpr std::size_t kKeyOffset = 0; // both record kinds start with their key

template <class Record>
std::size_t wholeRecords(const std::string& bytes)
{
    return bytes.size() / Record::kSize;
}

template <class Record>
NameString keyAt(const std::string& bytes, std::size_t index)
{
    return NameString::readFrom(bytes.data() + index * Record::kSize + kKeyOffset);
}

template <class Record>
Record recordAt(const std::string& bytes, std::size_t index)
{
    return *Record::decode(std::string_view(bytes).substr(index * Record::kSize, Record::kSize));
}

template <class Record>
std::optional<std::size_t> firstNamed(const std::string& bytes, const NameString& name)
{
    for (std::size_t i = 0; i < wholeRecords<Record>(bytes); ++i)
        if (keyAt<Record>(bytes, i) == name)
            return i;
    return std::nullopt;
}

} // namespace

template <class Record>
RecordStore<Record>::RecordStore(const std::string& directory, const char* savedName, const char* workingName,
                                 const char* scratchName, Record sample)
    : m_saved(directory + savedName)
    , m_working(directory + workingName)
    , m_scratch(directory + scratchName)
    , m_sample(std::move(sample))
{
}

template <class Record>
std::string RecordStore<Record>::startUp()
{
    if (!fileExists(m_saved))
        return {};
    return copyFileSafely(m_saved, m_working);
}

template <class Record>
NameList RecordStore<Record>::loadList()
{
    NameList list;
    FileRead file = readWholeFile(m_working);
    if (file.status == FileRead::Status::Failed) {
        list.error = file.error;
        return list;
    }
    if (file.status == FileRead::Status::Missing) {
        file.bytes = m_sample.encode();
        list.error = writeFileSafely(m_working, file.bytes);
        if (!list.error.empty())
            return list;
    }
    for (std::size_t i = 0; i < wholeRecords<Record>(file.bytes); ++i)
        list.names.push_back(keyAt<Record>(file.bytes, i));
    return list;
}

template <class Record>
RecordRead<Record> RecordStore<Record>::readWorking() const
{
    RecordRead<Record> result;
    FileRead file = readWholeFile(m_working);
    result.missing = file.status == FileRead::Status::Missing;
    result.error = file.error;
    for (std::size_t i = 0; i < wholeRecords<Record>(file.bytes); ++i)
        result.records.push_back(recordAt<Record>(file.bytes, i));
    return result;
}

template <class Record>
std::optional<Record> RecordStore<Record>::find(const NameString& name) const
{
    FileRead file = readWholeFile(m_working);
    if (auto index = firstNamed<Record>(file.bytes, name))
        return recordAt<Record>(file.bytes, *index);
    return std::nullopt;
}

template <class Record>
std::string RecordStore<Record>::flush(const Record& buffer)
{
    if (buffer.key().empty())
        return {};
    FileRead file = readWholeFile(m_working);
    if (file.status != FileRead::Status::Ok)
        return file.error;
    auto index = firstNamed<Record>(file.bytes, buffer.key());
    if (!index)
        return {};
    const std::string encoded = buffer.encode();
    const std::size_t at = *index * Record::kSize;
    if (file.bytes.compare(at, Record::kSize, encoded) == 0)
        return {};
    file.bytes.replace(at, Record::kSize, encoded);
    return writeFileSafely(m_working, file.bytes);
}

template <class Record>
std::string RecordStore<Record>::append(const Record& record)
{
    FileRead file = readWholeFile(m_working);
    if (file.status == FileRead::Status::Failed)
        return file.error;
    // A new record goes right after the last whole one, as record positions
    // would put it; a partial record at the end is not kept.
    file.bytes.resize(wholeRecords<Record>(file.bytes) * Record::kSize);
    file.bytes += record.encode();
    return writeFileSafely(m_working, file.bytes);
}

template <class Record>
std::string RecordStore<Record>::renameFirst(const NameString& oldName, const std::string& newName)
{
    FileRead file = readWholeFile(m_working);
    if (file.status != FileRead::Status::Ok)
        return file.error;
    auto index = firstNamed<Record>(file.bytes, oldName);
    if (!index)
        return {};
    NameString renamed = keyAt<Record>(file.bytes, *index);
    renamed.assign(newName);
    renamed.writeTo(file.bytes.data() + *index * Record::kSize + kKeyOffset);
    return writeFileSafely(m_working, file.bytes);
}

template <class Record>
std::string RecordStore<Record>::removeAll(const NameString& name)
{
    if (!fileExists(m_working))
        return {};
    // The working file is rebuilt from a scratch copy, in the existing order,
    // without any record of that name.
    if (std::string error = copyFileSafely(m_working, m_scratch); !error.empty())
        return error;
    FileRead scratch = readWholeFile(m_scratch);
    std::string error = scratch.error;
    if (error.empty()) {
        std::string kept;
        bool dropped = false;
        for (std::size_t i = 0; i < wholeRecords<Record>(scratch.bytes); ++i) {
            if (keyAt<Record>(scratch.bytes, i) == name)
                dropped = true;
            else
                kept.append(scratch.bytes, i * Record::kSize, Record::kSize);
        }
        if (dropped)
            error = writeFileSafely(m_working, kept);
    }
    removeFileQuietly(m_scratch);
    return error;
}

template <class Record>
std::string RecordStore<Record>::save()
{
    return copyFileSafely(m_working, m_saved);
}

template <class Record>
std::string RecordStore<Record>::discard()
{
    if (!fileExists(m_saved))
        return {};
    return copyFileSafely(m_saved, m_working);
}

template class RecordStore<UserRecord>;
template class RecordStore<GroupRecord>;

namespace {

std::string withTrailingSlash(std::string directory)
{
    if (directory.empty() || directory.back() != '/')
        directory += '/';
    return directory;
}

} // namespace

AccountStore::AccountStore(std::string directory)
    : m_directory(withTrailingSlash(std::move(directory)))
    , m_users(m_directory, kUserSavedFile, kUserWorkingFile, kUserScratchFile, sampleUser())
    , m_groups(m_directory, kGroupSavedFile, kGroupWorkingFile, kGroupScratchFile, sampleGroup())
{
}

} // namespace vesk2::admin
