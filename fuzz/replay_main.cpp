// Without libFuzzer (g++, or clang without KIVO_FUZZ) a fuzz target is this program: it runs the
// target once on every file it is given, or on every file in the folders it is given, so the seed
// corpus is a regression test. It fails when it finds no input at all.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

void collect(const std::filesystem::path &path, std::vector<std::filesystem::path> *inputs)
{
    if (std::filesystem::is_directory(path)) {
        std::vector<std::filesystem::path> found;
        for (const auto &entry : std::filesystem::recursive_directory_iterator(path)) {
            if (entry.is_regular_file())
                found.push_back(entry.path());
        }
        std::sort(found.begin(), found.end());
        inputs->insert(inputs->end(), found.begin(), found.end());
    } else {
        inputs->push_back(path);
    }
}

}  // namespace

int main(int argc, char **argv)
{
    LLVMFuzzerInitialize(&argc, &argv);
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i)
        collect(argv[i], &inputs);
    if (inputs.empty()) {
        std::fprintf(stderr, "usage: %s FILE-OR-FOLDER... (no input found)\n", argv[0]);
        return 2;
    }
    for (const auto &path : inputs) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            return 2;
        }
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // An exact-size copy, so a read past the end shows under AddressSanitizer as with libFuzzer.
        const std::unique_ptr<uint8_t[]> data(new uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)]);
        std::copy(bytes.begin(), bytes.end(), data.get());
        std::fprintf(stderr, "Running %s\n", path.c_str());
        LLVMFuzzerTestOneInput(data.get(), bytes.size());
    }
    std::fprintf(stderr, "Replayed %zu inputs\n", inputs.size());
    return 0;
}
