#pragma once

// How ovfw's process ends once its work is done: everything it had to say
// is written, and every port and file it used is closed.
namespace ProcessEnd {
// Ends the process with `status`, or returns `status` for main to return.
int afterRun(int status);
}
