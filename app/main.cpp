#include "app/FwUpStartup.h"

int main(int argc, char **argv)
{
    return FwUpStartup::RunApplication(argc, argv);
}
