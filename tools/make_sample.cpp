// Writes the sample archive set into a folder, for the README's demonstration.

#include "sample_set.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-sample FOLDER\n");
        return 2;
    }
    try {
        builder::WriteArchiveSet(builder::SampleSet().Build(), argv[1]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make-sample: %s\n", error.what());
        return 1;
    }
    return 0;
}
