#include <app/startup/KRApplicationStartup.h>

int main(int argc, char *argv[])
{
    return KRApplicationStartup::main(argc, argv);
}
