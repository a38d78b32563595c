// Writes a generated release for timing whole tools (bench/tools_vs.sh):
//   write_release DIR GROUPS   prints the key for it
#include <cstdio>
#include <cstdlib>

#include "bench_support.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: write_release DIR GROUPS\n");
        return 2;
    }
    std::puts(kel::ToUtf8(kel::bench::WriteRelease(argv[1], std::atoi(argv[2]))).c_str());
    return 0;
}
