// The program's run: read the command line, resolve the store, run the commands in their
// fixed order and turn the outcome into the exit status (0 or 1).
#pragma once

int RunUpdater(int argc, const char* const argv[]);
