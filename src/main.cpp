#include "shell/Shell.h"

int main(int argc, char **argv)
{
    Shell::Application app(argc, argv);
    return Shell::Run();
}
