#include "cli/ProcessEnd.h"

namespace ProcessEnd {
int afterRun(int status)
{
    return status;
}
}
