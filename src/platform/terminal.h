#pragma once
// Whether the program's standard output goes to a terminal, so that log lines
// printed there may carry colour escapes (and must not when they go to a file or pipe).

namespace vesk2::platform {

bool standardOutputIsTerminal();

} // namespace vesk2::platform
