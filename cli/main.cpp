#include "cli/Commands.h"
#include "cli/ProcessEnd.h"

int main(int argc, char **argv)
{
    return ProcessEnd::afterRun(ovfwMain(argc, argv));
}
