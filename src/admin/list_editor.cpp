#include "admin/list_editor.h"

#include "admin/safe_file.h"

#include <algorithm>
#include <filesystem>

namespace vesk2::admin {

using platform::UiAnswer;
using platform::UiButtons;
using platform::UiIcon;

namespace {

std::string withForwardSlashes(std::string text)
{
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

std::string withTrailingSlash(std::string text)
{
    if (text.empty() || text.back() != '/')
        text += '/';
    return text;
}

} // namespace

const char* newMessageCaption(MessageKind kind)
{
    switch (kind) {
    case MessageKind::Login:
        return "Create New Login Message";
    case MessageKind::Logout:
        return "Create New Logout Message";
    case MessageKind::Connect:
        break;
    }
    return "Create New Connect Message";
}

std::string normalizeVirtualMap(const std::string& typed)
{
    std::string name = withForwardSlashes(typed);
    if (name.empty() || name.front() != '/')
        name.insert(name.begin(), '/');
    return withTrailingSlash(std::move(name));
}

std::string normalizeDirectoryPath(const std::string& path) { return withTrailingSlash(withForwardSlashes(path)); }

ListEditor::ListEditor(ServerLists& lists, ftpserver::VirtualDirTable& virtualDirs,
                       ftpserver::PermanentLinkTable& links, settings::Settings& settings, platform::Ui& ui,
                       OpenDocument openDocument, std::string programDir)
    : m_lists(lists),
      m_virtualDirs(virtualDirs),
      m_links(links),
      m_settings(settings),
      m_ui(ui),
      m_openDocument(std::move(openDocument)),
      m_programDir(std::move(programDir))
{
}

void ListEditor::rebuildTables() { admin::rebuildTables(m_lists, m_virtualDirs, m_links); }

bool ListEditor::refuseWhenFull(bool full)
{
    if (full)
        m_ui.message(kListCaption, kListFullText, UiButtons::Ok, UiIcon::Warning);
    return full;
}

bool ListEditor::report(AddResult result)
{
    switch (result) {
    case AddResult::Added:
        return true;
    case AddResult::ListFull:
        m_ui.message(kListCaption, kListFullText, UiButtons::Ok, UiIcon::Warning);
        return false;
    case AddResult::NotStorable:
        m_ui.message(kListCaption, kNotStorableText, UiButtons::Ok, UiIcon::Warning);
        return false;
    }
    return false;
}

void ListEditor::addIpEntry()
{
    if (refuseWhenFull(m_lists.ipList().full()))
        return;
    const std::optional<std::string> typed = m_ui.prompt(kAddIpCaption, kAddIpLabel, "");
    // An empty entry would match every address; the file could not even hold it.
    if (!typed || typed->empty())
        return;
    report(m_lists.ipList().add(*typed));
}

void ListEditor::addVirtualDirectory()
{
    if (refuseWhenFull(m_lists.virtualDirs().full()))
        return;
    const std::optional<std::string> folder = m_ui.chooseFolder(kListFolderCaption, "");
    if (!folder || folder->empty())
        return;
    const std::optional<std::string> name = m_ui.prompt(kListCaption, kVirtualMappingLabel, "");
    if (!name || name->empty())
        return;
    const ftpserver::VirtualDirEntry entry{normalizeDirectoryPath(*folder), normalizeVirtualMap(*name)};
    if (report(m_lists.virtualDirs().add(entry)))
        rebuildTables();
}

void ListEditor::addPermanentLink()
{
    if (refuseWhenFull(m_lists.permanentLinks().full()))
        return;
    const std::optional<std::string> folder = m_ui.chooseFolder(kListFolderCaption, "");
    if (!folder || folder->empty())
        return;
    const std::optional<std::string> name = m_ui.prompt(kListCaption, kLinkNameLabel, "");
    if (!name || name->empty())
        return;
    if (report(m_lists.permanentLinks().add(ftpserver::PermanentLinkEntry{*folder, *name})))
        rebuildTables();
}

void ListEditor::deleteSelected(ServerListKind list, const std::vector<std::size_t>& selected)
{
    switch (list) {
    case ServerListKind::IpList:
        m_lists.ipList().remove(selected);
        break;
    case ServerListKind::VirtualDirs:
        m_lists.virtualDirs().remove(selected);
        break;
    case ServerListKind::PermanentLinks:
        m_lists.permanentLinks().remove(selected);
        break;
    }
    rebuildTables();
}

void ListEditor::clearList(ServerListKind list)
{
    const bool empty = list == ServerListKind::IpList        ? m_lists.ipList().empty()
                       : list == ServerListKind::VirtualDirs ? m_lists.virtualDirs().empty()
                                                             : m_lists.permanentLinks().empty();
    if (!empty) {
        if (m_ui.message(kListCaption, kClearListText, UiButtons::YesNo, UiIcon::Question) != UiAnswer::Yes)
            return;
        switch (list) {
        case ServerListKind::IpList:
            m_lists.ipList().clear();
            break;
        case ServerListKind::VirtualDirs:
            m_lists.virtualDirs().clear();
            break;
        case ServerListKind::PermanentLinks:
            m_lists.permanentLinks().clear();
            break;
        }
    }
    rebuildTables();
}

void ListEditor::chooseMessageFile(MessageKind kind)
{
    const std::optional<std::string> chosen = m_ui.openFile(kLocateMessageCaption, kMessageFileFilter);
    if (chosen && !chosen->empty())
        messageOption(m_settings, kind) = *chosen;
}

void ListEditor::editMessageFile(MessageKind kind)
{
    std::string& option = messageOption(m_settings, kind);
    if (!option.empty()) {
        if (m_openDocument)
            m_openDocument(messageFilePath(option, m_programDir));
        return;
    }
    std::optional<std::string> chosen = m_ui.saveFile(newMessageCaption(kind), kMessageFileFilter, "");
    if (!chosen || chosen->empty())
        return;
    if (std::filesystem::path(*chosen).extension().empty())
        *chosen += kMessageFileExtension;
    option = *chosen;

    const std::string path = messageFilePath(option, m_programDir);
    // A file that already exists is opened as it is, never emptied.
    if (!fileExists(path) && !writeFileSafely(path, "").empty()) {
        m_ui.message(kListCaption, kCouldNotCreateText + option, UiButtons::Ok, UiIcon::Error);
        return;
    }
    if (m_openDocument)
        m_openDocument(path);
}

} // namespace vesk2::admin
