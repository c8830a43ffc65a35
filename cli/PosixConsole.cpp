#include "cli/Console.h"
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace Console {
bool outIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }
bool inIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }
bool outTakesColour() { return outIsTerminal(); }

int outColumns()
{
    winsize size{};
    return ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

void raiseOpenFileLimit()
{
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
}
}
