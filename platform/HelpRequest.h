#pragma once

#include <cstdio>
#include <cstring>

namespace vestrel {

// Whether the command line is the program's name and "--help" alone. The chat client and the
// reminders client take any first argument as a switch of mode, so only this exact line asks for help;
// it is answered before the application object exists, so it needs no display.
inline bool onlyAsksForHelp(int argc, char* argv[]) {
    return argc == 2 && std::strcmp(argv[1], "--help") == 0;
}

// Prints `text` on standard output and gives the exit status of a help request.
inline int printHelp(const char* text) {
    std::fputs(text, stdout);
    return 0;
}

} // namespace vestrel
