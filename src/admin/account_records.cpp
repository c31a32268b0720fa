#include "admin/account_records.h"

namespace vesk2::admin {

namespace {

// The flag members in their stored order, indexed by Right.
constexpr std::array<bool AccessEntry::*, kRightCount> kRightFields = {
    &AccessEntry::Read,   &AccessEntry::List,        &AccessEntry::Write, &AccessEntry::Rename,
    &AccessEntry::Delete, &AccessEntry::Inheritable, &AccessEntry::Create,
};

// Sequential writer and reader over a record's bytes; the caller sizes the
// buffer, so every field lands at its fixed offset.
class FieldWriter {
public:
    explicit FieldWriter(char* out) : m_out(out) {}
    template <std::size_t N>
    void put(const ShortString<N>& s) { s.writeTo(take(ShortString<N>::kSize)); }
    void put(const AccessEntry& e) { e.writeTo(take(AccessEntry::kSize)); }
    void put(bool flag) { *take(1) = flag ? 1 : 0; }
    template <class T, std::size_t K>
    void put(const std::array<T, K>& items)
    {
        for (const T& item : items)
            put(item);
    }

private:
    char* take(std::size_t n)
    {
        char* at = m_out;
        m_out += n;
        return at;
    }
    char* m_out;
};

class FieldReader {
public:
    explicit FieldReader(const char* in) : m_in(in) {}
    template <std::size_t N>
    void get(ShortString<N>& s) { s = ShortString<N>::readFrom(take(ShortString<N>::kSize)); }
    void get(AccessEntry& e) { e = AccessEntry::readFrom(take(AccessEntry::kSize)); }
    void get(bool& flag) { flag = *take(1) != 0; }
    template <class T, std::size_t K>
    void get(std::array<T, K>& items)
    {
        for (T& item : items)
            get(item);
    }

private:
    const char* take(std::size_t n)
    {
        const char* at = m_in;
        m_in += n;
        return at;
    }
    const char* m_in;
};

} // namespace

bool AccessEntry::right(Right r) const { return this->*kRightFields[static_cast<std::size_t>(r)]; }

void AccessEntry::setRight(Right r, bool on) { this->*kRightFields[static_cast<std::size_t>(r)] = on; }

void AccessEntry::writeTo(char* out) const
{
    FieldWriter w(out);
    w.put(Path);
    for (auto field : kRightFields)
        w.put(this->*field);
}

AccessEntry AccessEntry::readFrom(const char* in)
{
    AccessEntry e;
    FieldReader r(in);
    r.get(e.Path);
    for (auto field : kRightFields)
        r.get(e.*field);
    return e;
}

std::string UserRecord::encode() const
{
    std::string out(kSize, '\0');
    FieldWriter w(out.data());
    w.put(UserName);
    w.put(Password);
    w.put(EncryptionKey);
    w.put(HomeDirectory);
    w.put(Access);
    w.put(Groups);
    w.put(SuperUser);
    w.put(Enabled);
    return out;
}

std::optional<UserRecord> UserRecord::decode(std::string_view bytes)
{
    if (bytes.size() != kSize)
        return std::nullopt;
    UserRecord u;
    FieldReader r(bytes.data());
    r.get(u.UserName);
    r.get(u.Password);
    r.get(u.EncryptionKey);
    r.get(u.HomeDirectory);
    r.get(u.Access);
    r.get(u.Groups);
    r.get(u.SuperUser);
    r.get(u.Enabled);
    return u;
}

std::string GroupRecord::encode() const
{
    std::string out(kSize, '\0');
    FieldWriter w(out.data());
    w.put(GroupName);
    w.put(HomeDirectory);
    w.put(Access);
    w.put(Enabled);
    return out;
}

std::optional<GroupRecord> GroupRecord::decode(std::string_view bytes)
{
    if (bytes.size() != kSize)
        return std::nullopt;
    GroupRecord g;
    FieldReader r(bytes.data());
    r.get(g.GroupName);
    r.get(g.HomeDirectory);
    r.get(g.Access);
    r.get(g.Enabled);
    return g;
}

static_assert(PathString::kSize + kRightCount == AccessEntry::kSize);
static_assert(2 * NameString::kSize + 2 * PathString::kSize + kMaxAccessEntries * AccessEntry::kSize +
                  kMaxMemberships * NameString::kSize + 2 ==
              UserRecord::kSize);
static_assert(NameString::kSize + PathString::kSize + kMaxAccessEntries * AccessEntry::kSize + 1 ==
              GroupRecord::kSize);

UserRecord sampleUser()
{
    UserRecord u;
    u.UserName.assign("SampleUser");
    u.Password.assign("PlainOrdinaryWords");
    u.EncryptionKey.assign("Key text of the demo account, change it.");
    u.HomeDirectory.assign("/tmp");
    u.Access[0].Path.assign("/tmp");
    u.Access[0].Read = true;
    u.Access[0].List = true;
    u.Access[0].Write = true;
    u.Groups[0].assign("SampleGroup");
    return u;
}

GroupRecord sampleGroup()
{
    GroupRecord g;
    g.GroupName.assign("SampleGroup");
    g.HomeDirectory.assign("This is ignored if the user has a home directory set");
    g.Access[0].Path.assign("/tmp/Testing");
    g.Access[0].Read = true;
    g.Access[0].List = true;
    g.Access[0].Inheritable = true;
    return g;
}

} // namespace vesk2::admin
