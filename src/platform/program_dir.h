#pragma once
// The program directory: the one data directory that holds the settings file,
// the site list, the account stores, the server lists and every temporary file.
//
// It is $VESK2_HOME when that is set, otherwise $XDG_CONFIG_HOME/vesk2/, and
// ~/.config/vesk2/ when neither is set. It is created (owner-only) on first
// start and always written with a trailing "/".

#include <optional>
#include <string>

namespace vesk2::platform {

// The environment values the program directory is made from; an empty value
// counts as unset, as the XDG rules say.
struct ProgramDirEnvironment {
    std::optional<std::string> vesk2Home;     // $VESK2_HOME
    std::optional<std::string> xdgConfigHome; // $XDG_CONFIG_HOME
    std::optional<std::string> home;          // $HOME, or the password database's home
};

// Reads the three values from this process's environment.
ProgramDirEnvironment programDirEnvironment();

// The program directory named by `env`, absolute, normalised and ending in "/";
// nullopt when nothing names one (no $VESK2_HOME, no usable $XDG_CONFIG_HOME, no home).
// A relative $XDG_CONFIG_HOME is ignored (the XDG rules require an absolute one);
// a relative $VESK2_HOME is taken relative to the current directory.
std::optional<std::string> programDirectoryPath(const ProgramDirEnvironment& env);

struct ProgramDirResult {
    std::string dir;   // ends in "/" when ok()
    std::string error; // why the directory cannot be used; empty when ok()
    bool created = false;
    bool ok() const { return error.empty(); }
};

// Finds the program directory and creates it (with its parents) when missing.
// A directory made here gets owner-only permissions, because it will hold
// passwords and keys. Never throws.
ProgramDirResult openProgramDirectory(const ProgramDirEnvironment& env);
ProgramDirResult openProgramDirectory();

} // namespace vesk2::platform
