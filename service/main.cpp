#include <cstdio>

int main(int argc, char *argv[])
{
    (void)argv;
    if (argc == 2) {
        std::printf("Wrong argument passed. Exiting...");
        return 0;
    }
    return 0;
}
