#pragma once
// The editing actions of the server lists and the message options, as the
// administration page offers them. The editor asks the person through Ui and
// holds no widget: the window shows the lists' entries and calls these
// actions with the positions selected in its list controls.
//
// Every edit changes the list in memory and rebuilds the server's runtime
// tables at once; the files are written when the lists are saved (see
// server_lists.h for how that keeps edits made elsewhere).

#include "admin/server_lists.h"
#include "admin/server_messages.h"
#include "ftpserver/virtual_tables.h"
#include "platform/ui.h"
#include "settings/settings.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace vesk2::admin {

inline constexpr const char* kListCaption = "vesk2";
inline constexpr const char* kListFolderCaption = "Browse for Folder";
inline constexpr const char* kAddIpCaption = "Add IP Allow/Deny";
inline constexpr const char* kAddIpLabel = "IP Address/Range NO HOSTNAMES!";
inline constexpr const char* kVirtualMappingLabel = "Type Virtual Mapping";
inline constexpr const char* kLinkNameLabel = "Give Link a Name";
inline constexpr const char* kClearListText = "Are you sure you want to clear this list?  It is undoable!";
inline constexpr const char* kListFullText = "Sorry, no more than 128 entries are allowed in this list.";
inline constexpr const char* kNotStorableText = "Sorry, an entry cannot hold line breaks or control characters.";
inline constexpr const char* kLocateMessageCaption = "Locate Message File";
inline constexpr const char* kMessageFileFilter = "Text Files (*.txt)|*.txt|All Files (*.*)|*.*";
inline constexpr const char* kMessageFileExtension = ".txt";
inline constexpr const char* kCouldNotCreateText = "Error : Could not create ";

enum class ServerListKind { IpList, VirtualDirs, PermanentLinks };

// The title of the save dialog that creates a new message file.
const char* newMessageCaption(MessageKind kind);

// A typed virtual name as it is stored: every "\" becomes "/", and it starts
// and ends with "/" ("pub/files" is "/pub/files/").
std::string normalizeVirtualMap(const std::string& typed);
// A directory as a virtual directory's path: every "\" becomes "/", and it ends with "/".
std::string normalizeDirectoryPath(const std::string& path);

// Opens a file in the system's associated editor.
using OpenDocument = std::function<void(const std::string& path)>;

class ListEditor {
public:
    // `programDir` resolves relative message options.
    ListEditor(ServerLists& lists, ftpserver::VirtualDirTable& virtualDirs, ftpserver::PermanentLinkTable& links,
               settings::Settings& settings, platform::Ui& ui, OpenDocument openDocument, std::string programDir);

    // Asks for an address entry and appends it as typed (an empty answer adds nothing).
    void addIpEntry();
    // Chooses a directory, asks for its virtual name, appends the pair.
    void addVirtualDirectory();
    // Chooses a directory, asks for the link's name, appends the pair.
    void addPermanentLink();
    // Removes the entries at the selected positions.
    void deleteSelected(ServerListKind list, const std::vector<std::size_t>& selected);
    // Empties the list after a Yes to the question; an empty list asks nothing.
    void clearList(ServerListKind list);

    // A file dialog sets the option's path.
    void chooseMessageFile(MessageKind kind);
    // Opens the option's file in the editor; without one, a save dialog names
    // a new file, which becomes the option and is created empty (an existing
    // file chosen there is kept as it is) and opened.
    void editMessageFile(MessageKind kind);

    // Refills the runtime tables from the lists.
    void rebuildTables();

private:
    // Tells the person why an entry was not added; true when it was.
    bool report(AddResult result);
    bool refuseWhenFull(bool full);

    ServerLists& m_lists;
    ftpserver::VirtualDirTable& m_virtualDirs;
    ftpserver::PermanentLinkTable& m_links;
    settings::Settings& m_settings;
    platform::Ui& m_ui;
    OpenDocument m_openDocument;
    std::string m_programDir;
};

} // namespace vesk2::admin
