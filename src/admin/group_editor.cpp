#include "admin/group_editor.h"

namespace vesk2::admin {

namespace {

constexpr EditorTexts kGroupTexts = {
    "New Group",    "Type in new Group's name", "Clone Group", "Choose a new Groupname",
    "Rename Group", "Choose a new Groupname",
};

} // namespace

GroupEditor::GroupEditor(GroupStore& groups, platform::Ui& ui)
    : RecordEditor(groups, ui, kGroupTexts)
{
}

} // namespace vesk2::admin
