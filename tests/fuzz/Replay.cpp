// Runs a fuzz entry point over saved inputs without libFuzzer, so that every
// corpus replays as an ordinary test: each file named on the command line,
// and each file of each folder named (in name order), once. A crash or a
// sanitizer's report fails the run; otherwise it says how many ran.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path named(argv[i]);
        if (std::filesystem::is_directory(named)) {
            std::vector<std::filesystem::path> files;
            for (const auto& entry : std::filesystem::directory_iterator(named))
                if (entry.is_regular_file())
                    files.push_back(entry.path());
            std::sort(files.begin(), files.end());
            inputs.insert(inputs.end(), files.begin(), files.end());
        } else {
            inputs.push_back(named);
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "%s: no inputs (name files or folders)\n", argv[0]);
        return 2;
    }
    for (const auto& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "%s: cannot read %s\n", argv[0], path.c_str());
            return 2;
        }
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // A copy of exactly the input's size, so that a read past it is seen.
        auto* copy = new std::uint8_t[bytes.size() ? bytes.size() : 1];
        std::copy(bytes.begin(), bytes.end(), copy);
        LLVMFuzzerTestOneInput(copy, bytes.size());
        delete[] copy;
    }
    std::printf("%zu inputs ran\n", inputs.size());
    return 0;
}
