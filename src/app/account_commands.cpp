#include "app/account_commands.h"

#include "admin/account_editor.h"
#include "app/cli_ui.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <type_traits>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>

namespace vesk2::app {

namespace {

using admin::Right;

// Rights letters, in stored order: Read, List, Write, reName, Delete, Inheritable, Create.
constexpr const char* kRightLetters = "RLWNDIC";

struct Parsed {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;
    bool yes = false;
};

const std::vector<std::string> kValueOptions = {"--password", "--key", "--home", "--enabled", "--superuser", "--rights"};

std::optional<Parsed> parseArgs(const std::vector<std::string>& args, std::size_t from, std::ostream& err)
{
    Parsed p;
    for (std::size_t i = from; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--yes") {
            p.yes = true;
        } else if (std::find(kValueOptions.begin(), kValueOptions.end(), a) != kValueOptions.end()) {
            if (i + 1 >= args.size()) {
                err << "vesk2: " << a << " needs a value\n";
                return std::nullopt;
            }
            p.options[a] = args[++i];
        } else if (a.rfind("--", 0) == 0) {
            err << "vesk2: unknown option '" << a << "'\n";
            return std::nullopt;
        } else {
            p.positional.push_back(a);
        }
    }
    return p;
}

std::optional<bool> onOff(const std::string& text)
{
    if (text == "on" || text == "yes" || text == "1" || text == "true")
        return true;
    if (text == "off" || text == "no" || text == "0" || text == "false")
        return false;
    return std::nullopt;
}

std::optional<std::array<bool, admin::kRightCount>> parseRights(const std::string& text)
{
    std::array<bool, admin::kRightCount> rights{};
    if (text == "none" || text == "-")
        return rights;
    if (text == "all") {
        rights.fill(true);
        return rights;
    }
    for (char c : text) {
        const char* at = std::strchr(kRightLetters, std::toupper(static_cast<unsigned char>(c)));
        if (!at || c == '\0')
            return std::nullopt;
        rights[static_cast<std::size_t>(at - kRightLetters)] = true;
    }
    return rights;
}

std::string rightsText(const std::array<bool, admin::kRightCount>& rights)
{
    std::string text;
    for (std::size_t i = 0; i < admin::kRightCount; ++i)
        text += rights[i] ? kRightLetters[i] : '-';
    return text;
}

// What one command works on: the editor of its kind and the person's answers.
template <class Editor>
struct Job {
    Editor& editor;
    CliUi& ui;
    Parsed& args;
    std::ostream& out;
    std::ostream& err;
    const char* kind; // "user" or "group"
    std::vector<std::string> groupNames; // offered by join
};

template <class Editor>
bool selectByName(Job<Editor>& job, const std::string& name)
{
    const auto names = job.editor.names();
    auto it = std::find(names.begin(), names.end(), name);
    if (it == names.end()) {
        job.err << "vesk2: no " << job.kind << " named '" << name << "'\n";
        return false;
    }
    job.editor.select(static_cast<std::size_t>(it - names.begin()));
    return true;
}

bool absoluteDirectory(const std::string& dir, std::ostream& err)
{
    if (dir.empty() || dir[0] != '/') {
        err << "vesk2: '" << dir << "' is not an absolute directory\n";
        return false;
    }
    return true;
}

// Applies --home, --enabled and (for users) --password, --key, --superuser.
template <class Editor>
bool applyFields(Job<Editor>& job)
{
    auto& o = job.args.options;
    if (auto it = o.find("--home"); it != o.end()) {
        if (!it->second.empty() && !absoluteDirectory(it->second, job.err))
            return false;
        job.editor.setHomeDirectory(it->second);
    }
    if (auto it = o.find("--enabled"); it != o.end()) {
        auto on = onOff(it->second);
        if (!on) {
            job.err << "vesk2: --enabled takes on or off\n";
            return false;
        }
        job.editor.setEnabled(*on);
    }
    if constexpr (std::is_same_v<Editor, admin::UserEditor>) {
        if (auto it = o.find("--password"); it != o.end())
            job.editor.setPassword(it->second);
        if (auto it = o.find("--key"); it != o.end())
            job.editor.setEncryptionKey(it->second);
        if (auto it = o.find("--superuser"); it != o.end()) {
            auto on = onOff(it->second);
            if (!on) {
                job.err << "vesk2: --superuser takes on or off\n";
                return false;
            }
            job.editor.setSuperUser(*on);
            if (*on && !job.editor.superUser())
                return false; // the warning was not confirmed
        }
    } else {
        for (const char* userOnly : {"--password", "--key", "--superuser"})
            if (o.count(userOnly)) {
                job.err << "vesk2: " << userOnly << " applies to users only\n";
                return false;
            }
    }
    return !job.ui.refused();
}

template <class Editor>
void show(Job<Editor>& job)
{
    const auto& b = job.editor.buffer();
    job.out << (std::is_same_v<Editor, admin::UserEditor> ? "User: " : "Group: ") << job.editor.nameField() << "\n";
    job.out << "  Enabled:   " << (job.editor.enabled() ? "yes" : "no") << "\n";
    if constexpr (std::is_same_v<Editor, admin::UserEditor>) {
        job.out << "  SuperUser: " << (job.editor.superUser() ? "yes" : "no") << "\n";
        job.out << "  Password:  " << (job.editor.password().empty() ? "(none)" : "(set)") << "\n";
        job.out << "  Key:       " << (job.editor.encryptionKey().empty() ? "(none)" : "(set)") << "\n";
    }
    job.out << "  Home:      " << job.editor.homeDirectory() << "\n";
    job.out << "  Access:\n";
    std::size_t i = 0;
    for (const auto& path : job.editor.accessPaths()) {
        const auto& e = b.Access[i++];
        job.out << "    " << rightsText({e.Read, e.List, e.Write, e.Rename, e.Delete, e.Inheritable, e.Create}) << "  "
                << path << "\n";
    }
    if constexpr (std::is_same_v<Editor, admin::UserEditor>) {
        job.out << "  Groups:   ";
        for (const auto& g : job.editor.memberships())
            job.out << " " << g;
        job.out << "\n";
    }
}

template <class Editor>
std::optional<std::size_t> accessIndex(Job<Editor>& job, const std::string& dir)
{
    const auto paths = job.editor.accessPaths();
    auto it = std::find(paths.begin(), paths.end(), dir);
    if (it == paths.end()) {
        job.err << "vesk2: the " << job.kind << " has no access entry for '" << dir << "'\n";
        return std::nullopt;
    }
    return static_cast<std::size_t>(it - paths.begin());
}

template <class Editor>
bool setRights(Job<Editor>& job, std::size_t index, const std::string& text)
{
    auto rights = parseRights(text);
    if (!rights) {
        job.err << "vesk2: rights are letters of " << kRightLetters
                << " (Read List Write reName Delete Inheritable Create), 'all' or 'none'\n";
        return false;
    }
    job.editor.selectAccessEntry(index);
    for (std::size_t r = 0; r < admin::kRightCount; ++r)
        job.editor.setRight(static_cast<Right>(r), (*rights)[r]);
    return true;
}

// Returns the exit code; `changed` tells whether to save.
template <class Editor>
int runVerb(Job<Editor>& job, const std::string& verb, bool& changed)
{
    auto& pos = job.args.positional;
    auto need = [&](std::size_t n, const char* shape) {
        if (pos.size() == n)
            return true;
        job.err << "vesk2: usage: vesk2 " << job.kind << " " << verb << " " << shape << "\n";
        return false;
    };
    if (verb == "list") {
        for (const auto& n : job.editor.names())
            job.out << n << "\n";
        return 0;
    }
    if (verb == "show") {
        if (!need(1, "NAME") || !selectByName(job, pos[0]))
            return 1;
        show(job);
        return 0;
    }
    if (verb == "add") {
        if (!need(1, "NAME [options]"))
            return 2;
        if (pos[0].find_first_not_of(' ') == std::string::npos) {
            job.err << "vesk2: a name cannot be empty\n";
            return 2;
        }
        job.ui.prompts.push_back(pos[0]);
        const auto before = job.editor.names().size();
        job.editor.createNew();
        if (job.editor.names().size() == before || job.ui.refused())
            return 1;
        changed = true;
        if (!applyFields(job))
            return 1;
        if (!job.editor.enabled())
            job.out << "Created " << job.kind << " '" << pos[0] << "' (disabled until: vesk2 " << job.kind
                    << " set '" << pos[0] << "' --enabled on)\n";
        return 0;
    }
    if (verb == "clone" || verb == "rename") {
        if (!need(2, "NAME NEWNAME") || !selectByName(job, pos[0]))
            return 1;
        job.ui.prompts.push_back(pos[1]);
        if (verb == "clone")
            job.editor.cloneSelected();
        else
            job.editor.renameSelected();
        if (job.ui.refused())
            return 1;
        changed = true;
        return 0;
    }
    if (verb == "delete") {
        if (!need(1, "NAME") || !selectByName(job, pos[0]))
            return 1;
        job.editor.deleteSelected();
        changed = true;
        return job.ui.refused() ? 1 : 0;
    }
    if (verb == "set") {
        if (!need(1, "NAME [options]") || !selectByName(job, pos[0]))
            return 1;
        changed = true;
        return applyFields(job) ? 0 : 1;
    }
    if (verb == "access") {
        if (pos.size() < 3) {
            job.err << "vesk2: usage: vesk2 " << job.kind << " access NAME add|rights|remove DIR [--rights R]\n";
            return 2;
        }
        if (!selectByName(job, pos[0]))
            return 1;
        const std::string& action = pos[1];
        const std::string& dir = pos[2];
        if (action == "add") {
            if (!absoluteDirectory(dir, job.err))
                return 2;
            const auto before = job.editor.accessPaths().size();
            job.ui.folders.push_back(dir);
            job.editor.addAccessEntry();
            if (job.editor.accessPaths().size() == before)
                return 1;
            changed = true;
            return setRights(job, before, job.args.options.count("--rights") ? job.args.options["--rights"] : "none")
                       ? 0
                       : 1;
        }
        auto index = accessIndex(job, dir);
        if (!index)
            return 1;
        if (action == "rights") {
            if (!job.args.options.count("--rights")) {
                job.err << "vesk2: access ... rights needs --rights\n";
                return 2;
            }
            changed = true;
            return setRights(job, *index, job.args.options["--rights"]) ? 0 : 1;
        }
        if (action == "remove") {
            job.editor.selectAccessEntry(*index);
            job.editor.removeAccessEntry();
            changed = true;
            return 0;
        }
        job.err << "vesk2: access takes add, rights or remove\n";
        return 2;
    }
    if constexpr (std::is_same_v<Editor, admin::UserEditor>) {
        if (verb == "join" || verb == "leave") {
            if (pos.size() < 2) {
                job.err << "vesk2: usage: vesk2 user " << verb << " NAME GROUP...\n";
                return 2;
            }
            if (!selectByName(job, pos[0]))
                return 1;
            const std::vector<std::string> pool = verb == "join" ? job.groupNames : job.editor.memberships();
            std::vector<std::size_t> picked;
            for (std::size_t i = 1; i < pos.size(); ++i) {
                auto it = std::find(pool.begin(), pool.end(), pos[i]);
                if (it == pool.end()) {
                    job.err << "vesk2: " << (verb == "join" ? "no group named '" : "not a member of '") << pos[i]
                            << "'\n";
                    return 1;
                }
                picked.push_back(static_cast<std::size_t>(it - pool.begin()));
            }
            if (verb == "join") {
                job.ui.selections.push_back(picked);
                job.editor.addMemberships();
            } else {
                job.editor.removeMemberships(picked);
            }
            changed = true;
            return job.ui.refused() ? 1 : 0;
        }
    }
    job.err << "vesk2: unknown " << job.kind << " command '" << verb << "'\n" << accountUsageText();
    return 2;
}

} // namespace

std::string accountUsageText()
{
    return "Usage: vesk2 user|group COMMAND ...\n"
           "  list                               the names, in file order\n"
           "  show NAME                          one account or group\n"
           "  add NAME [FIELDS]                  create (new accounts start disabled)\n"
           "  clone NAME NEWNAME                 copy (a cloned user has no password or key)\n"
           "  rename NAME NEWNAME\n"
           "  delete NAME\n"
           "  set NAME FIELDS                    change fields\n"
           "  access NAME add DIR [--rights R]   add a directory with rights\n"
           "  access NAME rights DIR --rights R  change a directory's rights\n"
           "  access NAME remove DIR\n"
           "  join NAME GROUP...                 (users) add group memberships\n"
           "  leave NAME GROUP...                (users) remove group memberships\n"
           "FIELDS: --home DIR  --enabled on|off  and for users  --password P  --key TEXT  --superuser on|off\n"
           "RIGHTS: letters of RLWNDIC = Read List Write reName Delete Inheritable Create, or all, or none\n"
           "--yes answers the confirmations (an ANONYMOUS account, SuperUser access).\n"
           "Changes are saved at once; a running server sees them at the next login.\n";
}

int runAccountCommand(const std::vector<std::string>& args, const std::string& programDir, std::ostream& out,
                      std::ostream& err)
{
    if (args.size() < 2 || args[1] == "--help" || args[1] == "-h") {
        (args.size() < 2 ? err : out) << accountUsageText();
        return args.size() < 2 ? 2 : 0;
    }
    const bool isUser = args[0] == "user";
    auto parsed = parseArgs(args, 2, err);
    if (!parsed)
        return 2;
    CliUi ui(err, parsed->yes);
    admin::AccountEditor editor(programDir, ui);
    // A working file that is missing is made from the saved file, as at start-up.
    const bool fresh = !std::filesystem::exists(programDir + admin::kUserWorkingFile) ||
                       !std::filesystem::exists(programDir + admin::kGroupWorkingFile);
    if (fresh)
        editor.startUp();
    else {
        editor.users().reloadList();
        editor.groups().reloadList();
    }
    bool changed = false;
    int code;
    if (isUser) {
        Job<admin::UserEditor> job{editor.users(), ui, *parsed, out, err, "user", editor.groups().names()};
        code = runVerb(job, args[1], changed);
        if (changed)
            editor.users().save();
    } else {
        Job<admin::GroupEditor> job{editor.groups(), ui, *parsed, out, err, "group", {}};
        code = runVerb(job, args[1], changed);
        if (changed)
            editor.groups().save();
    }
    if (fresh && !changed) {
        // The first run wrote the sample records: keep them as the saved state too.
        editor.users().save();
        editor.groups().save();
    }
    return code;
}

} // namespace vesk2::app
