#pragma once
// The editor behind one half of the server administration page: a list of
// user (or group) names, one record being edited (the edit buffer), its access
// list and the Save and Discard actions. It asks the person through Ui and
// holds no widget; the window shows what the getters return and calls the
// actions.
//
// Field edits change the edit buffer at once. The buffer reaches the working
// file when it is flushed: before every list action and before Save. The list
// selection is the record in the edit buffer; selecting a name reads its
// record into the buffer. The "changed" state enables Save and Discard (and
// shows the Save caption bold).

#include "admin/account_records.h"
#include "admin/account_store.h"
#include "platform/ui.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace vesk2::admin {

inline constexpr const char* kMessageCaption = "vesk2";
inline constexpr const char* kNameMustBeUniqueText = "Sorry, name must be unique.";
inline constexpr const char* kNameExistsText = "Name already exists - try again.";
inline constexpr const char* kSelectFromListText = "<-- Select from the list on the left";
inline constexpr const char* kAccessLimitText = "Sorry, no more than 32 access entries are allowed.";
inline constexpr const char* kBrowseFolderCaption = "Browse for Folder";

// The prompts that differ between the user and the group editor.
struct EditorTexts {
    const char* newCaption;
    const char* newLabel;
    const char* cloneCaption;
    const char* cloneLabel;
    const char* renameCaption;
    const char* renameLabel;
};

template <class Record>
class RecordEditor {
public:
    RecordEditor(RecordStore<Record>& store, platform::Ui& ui, const EditorTexts& texts);
    virtual ~RecordEditor() = default;
    RecordEditor(const RecordEditor&) = delete;
    RecordEditor& operator=(const RecordEditor&) = delete;

    // -- The list -------------------------------------------------------------
    // Reads the names of the working file again (creating it with the sample
    // record when there is none).
    void reloadList();
    std::vector<std::string> names() const;
    // Position in names() of the record in the edit buffer.
    std::optional<std::size_t> selectedIndex() const;

    // -- List actions -----------------------------------------------------------
    // Select: flush, then read the record of names()[index] into the buffer.
    void select(std::size_t index);
    void createNew();
    void cloneSelected();
    void renameSelected();
    void deleteSelected();
    void save();
    void discard();
    // Writes the edit buffer over its record in the working file.
    void flush();

    // -- The record -------------------------------------------------------------
    const Record& buffer() const { return m_buffer; }
    // The read-only name field; shows kSelectFromListText when no record is edited.
    std::string nameField() const;
    std::string homeDirectory() const { return m_buffer.HomeDirectory.text(); }
    void setHomeDirectory(const std::string& text);
    void browseHomeDirectory();
    bool enabled() const { return m_buffer.Enabled; }
    void setEnabled(bool on);

    // -- The access list --------------------------------------------------------
    // Paths of the used entries in slot order; index k of this list is what the
    // access-entry calls below take.
    std::vector<std::string> accessPaths() const;
    void addAccessEntry();
    void selectAccessEntry(std::size_t shownIndex);
    std::optional<std::size_t> selectedAccessEntry() const { return m_selectedAccess; }
    // The rights check boxes can be changed only while an entry is selected.
    bool rightsEnabled() const { return m_selectedAccess.has_value(); }
    // The rights check boxes: the selected entry's flags, all off without one.
    std::array<bool, kRightCount> shownRights() const;
    void setRight(Right right, bool on);
    void removeAccessEntry();

    bool isChanged() const { return m_changed; }

protected:
    // Asked before a new record is created; false stops the creation.
    virtual bool confirmNewName(const std::string& /*name*/) { return true; }
    // Turns a copy of the selected record into its clone (the name is already set).
    virtual void prepareClone(Record& /*clone*/) {}

    void markChanged() { m_changed = true; }
    // Shows an I/O failure; false when there was one.
    bool report(const std::string& error);
    void clearBuffer();

    platform::Ui& m_ui;
    Record m_buffer;

private:
    std::vector<std::size_t> usedSlots() const;
    bool nameTaken(const NameString& name, bool& failed);

    RecordStore<Record>& m_store;
    EditorTexts m_texts;
    std::vector<NameString> m_names;
    std::optional<std::size_t> m_selectedAccess;
    bool m_changed = false;
};

} // namespace vesk2::admin
