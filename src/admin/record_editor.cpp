#include "admin/record_editor.h"

#include <algorithm>

namespace vesk2::admin {

template <class Record>
RecordEditor<Record>::RecordEditor(RecordStore<Record>& store, platform::Ui& ui, const EditorTexts& texts)
    : m_ui(ui)
    , m_store(store)
    , m_texts(texts)
{
}

template <class Record>
bool RecordEditor<Record>::report(const std::string& error)
{
    if (error.empty())
        return true;
    m_ui.message(kMessageCaption, error, platform::UiButtons::Ok, platform::UiIcon::Error);
    return false;
}

template <class Record>
void RecordEditor<Record>::clearBuffer()
{
    m_buffer = Record{};
    m_selectedAccess.reset();
}

template <class Record>
void RecordEditor<Record>::reloadList()
{
    NameList list = m_store.loadList();
    report(list.error);
    m_names = std::move(list.names);
}

template <class Record>
std::vector<std::string> RecordEditor<Record>::names() const
{
    std::vector<std::string> texts;
    for (const NameString& name : m_names)
        texts.push_back(name.text());
    return texts;
}

template <class Record>
std::optional<std::size_t> RecordEditor<Record>::selectedIndex() const
{
    if (m_buffer.key().empty())
        return std::nullopt;
    auto it = std::find(m_names.begin(), m_names.end(), m_buffer.key());
    if (it == m_names.end())
        return std::nullopt;
    return static_cast<std::size_t>(it - m_names.begin());
}

template <class Record>
void RecordEditor<Record>::flush()
{
    report(m_store.flush(m_buffer));
}

template <class Record>
void RecordEditor<Record>::select(std::size_t index)
{
    flush();
    m_selectedAccess.reset();
    if (index >= m_names.size())
        return;
    std::optional<Record> record = m_store.find(m_names[index]);
    if (!record) {
        clearBuffer();
        return;
    }
    m_buffer = *record;
    // The first entry's rights are shown when it is used.
    if (!usedSlots().empty())
        m_selectedAccess = 0;
}

template <class Record>
bool RecordEditor<Record>::nameTaken(const NameString& name, bool& failed)
{
    RecordRead<Record> read = m_store.readWorking();
    failed = !report(read.error);
    return std::any_of(read.records.begin(), read.records.end(),
                       [&](const Record& r) { return r.key() == name; });
}

template <class Record>
void RecordEditor<Record>::createNew()
{
    flush();
    std::optional<std::string> answer = m_ui.prompt(m_texts.newCaption, m_texts.newLabel, "");
    if (!answer || answer->empty())
        return;
    Record record{};
    record.key().assign(*answer);
    bool failed = false;
    if (nameTaken(record.key(), failed)) {
        m_ui.message(kMessageCaption, kNameMustBeUniqueText);
        return;
    }
    if (failed || !confirmNewName(*answer))
        return;
    if (!report(m_store.append(record)))
        return;
    m_buffer = record;
    m_selectedAccess.reset();
    reloadList();
    markChanged();
}

template <class Record>
void RecordEditor<Record>::cloneSelected()
{
    flush();
    std::optional<std::size_t> selected = selectedIndex();
    if (!selected)
        return;
    std::optional<std::string> answer = m_ui.prompt(m_texts.cloneCaption, m_texts.cloneLabel, "");
    if (!answer || answer->empty())
        return;
    std::optional<Record> clone = m_store.find(m_names[*selected]);
    if (!clone)
        return;
    clone->key().assign(*answer);
    bool failed = false;
    if (nameTaken(clone->key(), failed)) {
        m_ui.message(kMessageCaption, kNameExistsText);
        return;
    }
    if (failed)
        return;
    prepareClone(*clone);
    if (!report(m_store.append(*clone)))
        return;
    reloadList();
    markChanged();
}

template <class Record>
void RecordEditor<Record>::renameSelected()
{
    flush();
    std::optional<std::size_t> selected = selectedIndex();
    if (!selected)
        return;
    std::optional<std::string> answer = m_ui.prompt(m_texts.renameCaption, m_texts.renameLabel, "");
    if (!answer || answer->empty())
        return;
    const NameString oldName = m_names[*selected];
    if (!report(m_store.renameFirst(oldName, *answer)))
        return;
    // The buffer is the renamed record: it keeps following it, so that later
    // edits are flushed to the record under its new name.
    if (m_buffer.key() == oldName)
        m_buffer.key().assign(*answer);
    reloadList();
    markChanged();
}

template <class Record>
void RecordEditor<Record>::deleteSelected()
{
    flush();
    std::optional<std::size_t> selected = selectedIndex();
    if (m_names.empty() || !selected)
        return;
    const NameString victim = m_names[*selected];
    report(m_store.removeAll(victim));
    if (m_buffer.key() == victim)
        clearBuffer();
    reloadList();
    markChanged();
}

template <class Record>
void RecordEditor<Record>::save()
{
    m_changed = false;
    flush();
    // A Save that failed stays to be done (and is tried again at shut-down).
    if (!report(m_store.save()))
        m_changed = true;
}

template <class Record>
void RecordEditor<Record>::discard()
{
    m_changed = false;
    report(m_store.discard());
    reloadList();
    clearBuffer();
}

template <class Record>
std::string RecordEditor<Record>::nameField() const
{
    if (m_buffer.key().empty())
        return kSelectFromListText;
    return m_buffer.key().text();
}

template <class Record>
void RecordEditor<Record>::setHomeDirectory(const std::string& text)
{
    m_buffer.HomeDirectory.assign(text);
    markChanged();
}

template <class Record>
void RecordEditor<Record>::browseHomeDirectory()
{
    if (std::optional<std::string> folder = m_ui.chooseFolder(kBrowseFolderCaption, homeDirectory()))
        setHomeDirectory(*folder);
}

template <class Record>
void RecordEditor<Record>::setEnabled(bool on)
{
    m_buffer.Enabled = on;
    markChanged();
}

template <class Record>
std::vector<std::size_t> RecordEditor<Record>::usedSlots() const
{
    std::vector<std::size_t> slots;
    for (std::size_t i = 0; i < m_buffer.Access.size(); ++i)
        if (m_buffer.Access[i].used())
            slots.push_back(i);
    return slots;
}

template <class Record>
std::vector<std::string> RecordEditor<Record>::accessPaths() const
{
    std::vector<std::string> paths;
    for (std::size_t slot : usedSlots())
        paths.push_back(m_buffer.Access[slot].Path.text());
    return paths;
}

template <class Record>
void RecordEditor<Record>::addAccessEntry()
{
    if (usedSlots().size() >= kMaxAccessEntries) {
        m_ui.message(kMessageCaption, kAccessLimitText, platform::UiButtons::Ok, platform::UiIcon::Warning);
        return;
    }
    std::optional<std::string> folder = m_ui.chooseFolder(kBrowseFolderCaption, "");
    if (!folder || folder->empty())
        return;
    auto free = std::find_if(m_buffer.Access.begin(), m_buffer.Access.end(),
                             [](const AccessEntry& e) { return !e.used(); });
    *free = AccessEntry{};
    free->Path.assign(*folder);
    m_selectedAccess.reset();
    markChanged();
}

template <class Record>
void RecordEditor<Record>::selectAccessEntry(std::size_t shownIndex)
{
    if (shownIndex < usedSlots().size())
        m_selectedAccess = shownIndex;
}

template <class Record>
std::array<bool, kRightCount> RecordEditor<Record>::shownRights() const
{
    std::array<bool, kRightCount> rights{};
    if (m_selectedAccess) {
        const AccessEntry& entry = m_buffer.Access[usedSlots()[*m_selectedAccess]];
        for (std::size_t r = 0; r < kRightCount; ++r)
            rights[r] = entry.right(static_cast<Right>(r));
    }
    return rights;
}

template <class Record>
void RecordEditor<Record>::setRight(Right right, bool on)
{
    if (!m_selectedAccess)
        return;
    m_buffer.Access[usedSlots()[*m_selectedAccess]].setRight(right, on);
    markChanged();
}

template <class Record>
void RecordEditor<Record>::removeAccessEntry()
{
    if (!m_selectedAccess)
        return;
    AccessList& access = m_buffer.Access;
    const std::size_t slot = usedSlots()[*m_selectedAccess];
    std::move(access.begin() + static_cast<std::ptrdiff_t>(slot) + 1, access.end(),
              access.begin() + static_cast<std::ptrdiff_t>(slot));
    access.back() = AccessEntry{};
    m_selectedAccess.reset();
    // A removal is a change like any other: without it Save would stay off
    // and the removal would be lost at the next start.
    markChanged();
}

template class RecordEditor<UserRecord>;
template class RecordEditor<GroupRecord>;

} // namespace vesk2::admin
