#include "cli/Commands.h"

int main(int argc, char **argv)
{
    return ovfwMain(argc, argv);
}
