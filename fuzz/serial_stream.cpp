// The serial byte stream into the frame assembler, the decoder and the
// evaluation, as the window's serial link feeds them, in pieces of any size.
#include "core/decode/MeterPipeline.h"
#include "fuzz/FuzzInput.h"

namespace {

struct Counting : voltaro::PipelineHooks {
    std::size_t decoded = 0;
    void frameDone(std::string_view, const voltaro::Reading& r, const voltaro::DisplayState&) override {
        ++decoded;
        // A decoded reading's texts are what the table and the files get.
        if (r.ValueText.size() > 64)
            voltaro::fuzz::fault("a decoded value text longer than any display");
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Counting hooks;
    voltaro::MeterPipeline pipeline(&hooks);
    // The first byte picks the size of the pieces the driver hands on.
    const std::size_t piece = size > 0 ? 1 + data[0] % 64 : 1;
    for (std::size_t at = size > 0 ? 1 : 0; at < size; at += piece) {
        const std::size_t n = at + piece <= size ? piece : size - at;
        pipeline.DX22KDATA(data + at, static_cast<int>(n));
    }
    if (hooks.decoded > size / 12 + 1)
        voltaro::fuzz::fault("more frames decoded than the bytes can hold");
    return 0;
}
