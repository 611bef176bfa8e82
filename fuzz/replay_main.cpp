// Runs a fuzz target over files, as a test: every file named, and every file
// in every folder named, is one input. Built with any compiler; libFuzzer is
// not needed. Exits non-zero when no input was found.
#include "fuzz/FuzzInput.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::size_t inputs = 0;
    const auto run = [&inputs](const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        ++inputs;
    };
    for (int i = 1; i < argc; ++i) {
        const fs::path p(argv[i]);
        if (fs::is_directory(p)) {
            for (const auto& e : fs::directory_iterator(p))
                if (e.is_regular_file())
                    run(e.path());
        } else if (fs::is_regular_file(p)) {
            run(p);
        }
    }
    std::printf("%zu inputs ran\n", inputs);
    return inputs > 0 ? 0 : 1;
}
