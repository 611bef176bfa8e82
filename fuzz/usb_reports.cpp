// USB reports of any ID, size and bytes into the USB frame assembler, the
// decoder and the evaluation, as the cable's read thread hands them over.
#include "core/decode/MeterPipeline.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    voltaro::PipelineHooks hooks;
    voltaro::MeterPipeline pipeline(&hooks);
    // Each report: its ID, its size (up to 64), then that many bytes.
    std::size_t at = 0;
    while (at + 2 <= size) {
        const std::uint8_t id = data[at];
        std::size_t n = data[at + 1] % 65;
        at += 2;
        if (n > size - at)
            n = size - at;
        pipeline.HidDataDX22K(id, data + at, static_cast<std::uint16_t>(n));
        at += n;
    }
    return 0;
}
