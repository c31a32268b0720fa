#include "platform/terminal.h"

#include <unistd.h>

namespace vesk2::platform {

bool standardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

} // namespace vesk2::platform
