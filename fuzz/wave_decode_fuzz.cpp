// The device's wave decoding with arbitrary bytes: a clip of whole stereo frames or a reason,
// never a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "sound_service.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string why;
    auto clip = lumo::host::SoundService::decode_wave(
        std::span(reinterpret_cast<const std::byte*>(data), size), &why);
    if (clip && (clip->samples.empty() || clip->samples.size() % 2 != 0)) std::abort();
    if (!clip && why.empty()) std::abort();
    return 0;
}
