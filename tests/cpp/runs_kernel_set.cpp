// Runs a unit built for one kernel set where this processor runs that set, and otherwise
// reports it skipped (exit 77, meson's code for a skipped test). Built for the baseline
// instructions, so that it runs everywhere.
//
// Usage: runs_kernel_set FEATURES [PROGRAM ARGUMENTS...]
//   FEATURES: the set's row of src/kernel_sets.txt, its features separated by spaces.
//   Without a program, exits 0 where the processor has them and 77 where it lacks some.
#include "processor_features.hpp"

#include <cstdio>

#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: runs_kernel_set FEATURES [PROGRAM ARGUMENTS...]\n");
        return 2;
    }
    if (!ventaroxi::known_features(argv[1])) {
        std::printf("unknown processor feature among \"%s\"\n", argv[1]);
        return 2;
    }
    if (!ventaroxi::processor_has(argv[1])) {
        std::printf("skipped: this processor (or its operating system) lacks some of: %s\n",
                    argv[1]);
        return 77;
    }
    if (argc == 2) {
        return 0;
    }
    execv(argv[2], argv + 2);
    std::perror(argv[2]);
    return 2;
}
