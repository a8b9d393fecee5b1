// A stand-in for kestrella-import that misbehaves as its input file asks: HANG, HOG (memory), SILENT (a failing
// status), and whatever follows SAY= is its output, word for word.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

int main(int argc, char* argv[])
{
    if (argc != 2)
        return 64;
    std::ifstream in(argv[1], std::ios::binary);
    const std::string asked((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto asks = [&asked](const char* what) {
        return asked.find(what) != std::string::npos;
    };
    if (asks("HANG")) {
        for (;;)
            ::pause();
    }
    // 1 GiB of address space: more than the limit allows, though untouched memory costs nothing.
    if (asks("HOG") && !std::malloc(size_t(1) << 30))
        std::abort();
    const auto say = asked.find("SAY=");
    if (say != std::string::npos)
        std::fwrite(asked.data() + say + 4, 1, asked.size() - say - 4, stdout);
    return asks("SILENT") ? 7 : 0;
}
