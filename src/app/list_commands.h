#pragma once
// `vesk2 list ...`: the server lists of the administration page (IP rules,
// virtual directories, permanent links) from the command line, through the
// same list editor and files.

#include <ostream>
#include <string>
#include <vector>

namespace vesk2::app {

// args[0] is "list". Changes are written before it returns (merged with the
// files as they are on disk). Returns 0 done, 1 refused or failed, 2 usage.
int runListCommand(const std::vector<std::string>& args, const std::string& programDir, std::ostream& out,
                   std::ostream& err);

std::string listUsageText();

} // namespace vesk2::app
