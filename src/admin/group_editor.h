#pragma once
// The group half of the administration page. A cloned group keeps everything
// but its name.

#include "admin/record_editor.h"

namespace vesk2::admin {

class GroupEditor : public RecordEditor<GroupRecord> {
public:
    GroupEditor(GroupStore& groups, platform::Ui& ui);
};

} // namespace vesk2::admin
