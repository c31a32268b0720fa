#pragma once
// `vesk2 user ...` and `vesk2 group ...`: the administration page's account
// actions from the command line, through the same account editor and files.

#include <ostream>
#include <string>
#include <vector>

namespace vesk2::app {

// args[0] is "user" or "group". Every change is saved (working file and saved
// file) before it returns. Returns the exit code: 0 done, 1 refused or failed,
// 2 usage error.
int runAccountCommand(const std::vector<std::string>& args, const std::string& programDir, std::ostream& out,
                      std::ostream& err);

std::string accountUsageText();

} // namespace vesk2::app
