// A stand-in for kestrella-import. Its input file carries "MODE=<word>" after an Access signature and
// it behaves accordingly, so the migration's guards can be seen to work.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

int main(int argc, char* argv[])
{
    if (argc != 2)
        return 64;
    std::ifstream in(argv[1], std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto at = content.find("MODE=");
    const std::string mode = at == std::string::npos ? "" : content.substr(at + 5, content.find('\n', at) - at - 5);
    const char* magic = "KESTRELLA-IMPORT 1\n";

    if (mode == "hang") {
        for (;;)
            ::pause();
    }
    if (mode == "hog") {
        // 1 GiB of address space: more than the limit allows, though untouched memory costs nothing.
        void* block = std::malloc(size_t(1) << 30);
        if (!block)
            std::abort();
        std::printf("%sT0\nE0\n", magic);
        return 0;
    }
    if (mode == "short") { // the table says five rows, three arrive
        std::printf("%sT5\n", magic);
        for (int i = 0; i < 3; ++i)
            std::printf("RS1:%dNNNNNNNNN\n", i);
        std::printf("E3\n");
        return 0;
    }
    if (mode == "garbage") {
        std::printf("%sT1\nRS999999999:xx\n", magic);
        return 0;
    }
    if (mode == "silent")
        return 7;
    std::printf("%sF2,0\n", magic);
    return 2;
}
