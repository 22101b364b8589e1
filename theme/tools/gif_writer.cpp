#include "gif_writer.h"

#include <unordered_map>

namespace lumo::theme {
namespace {

// Packs variable-width codes LSB first into 255-byte data sub-blocks.
class CodeWriter {
public:
    explicit CodeWriter(std::vector<uint8_t>& out) : out_(out) {}
    void put(unsigned code, int bits) {
        acc_ |= uint32_t(code) << nbits_;
        nbits_ += bits;
        while (nbits_ >= 8) {
            byte(uint8_t(acc_ & 0xFF));
            acc_ >>= 8;
            nbits_ -= 8;
        }
    }
    void finish() {
        if (nbits_ > 0) byte(uint8_t(acc_ & 0xFF));
        if (!block_.empty()) flush();
        out_.push_back(0);  // block terminator
    }

private:
    void byte(uint8_t b) {
        block_.push_back(b);
        if (block_.size() == 255) flush();
    }
    void flush() {
        out_.push_back(uint8_t(block_.size()));
        out_.insert(out_.end(), block_.begin(), block_.end());
        block_.clear();
    }
    std::vector<uint8_t>& out_;
    std::vector<uint8_t> block_;
    uint32_t acc_ = 0;
    int nbits_ = 0;
};

void lzw(const std::vector<uint8_t>& pixels, int min_bits, std::vector<uint8_t>& out) {
    out.push_back(uint8_t(min_bits));
    CodeWriter w(out);
    const unsigned clear = 1u << min_bits, end = clear + 1;
    std::unordered_map<uint32_t, unsigned> dict;  // (prefix code << 8 | byte) -> code
    unsigned next = end + 1;
    int bits = min_bits + 1;
    w.put(clear, bits);
    unsigned prefix = pixels[0];
    for (size_t i = 1; i < pixels.size(); ++i) {
        uint32_t key = (prefix << 8) | pixels[i];
        auto it = dict.find(key);
        if (it != dict.end()) {
            prefix = it->second;
            continue;
        }
        w.put(prefix, bits);
        if (next < 4096) {
            dict.emplace(key, next);
            // The decoder widens its codes once the table reaches the next power of two.
            if (next == (1u << bits) && bits < 12) ++bits;
            ++next;
        } else {
            w.put(clear, bits);
            dict.clear();
            next = end + 1;
            bits = min_bits + 1;
        }
        prefix = pixels[i];
    }
    w.put(prefix, bits);
    w.put(end, bits);
    w.finish();
}

void u16(std::vector<uint8_t>& out, int v) {
    out.push_back(uint8_t(v & 0xFF));
    out.push_back(uint8_t((v >> 8) & 0xFF));
}

}  // namespace

std::vector<uint8_t> encode_gif(const GifAnimation& gif) {
    const size_t count = size_t(gif.width) * size_t(gif.height);
    if (gif.width <= 0 || gif.height <= 0 || gif.width > 0xFFFF || gif.height > 0xFFFF || gif.frames.empty() ||
        gif.palette.size() < 2 || gif.palette.size() > 256)
        return {};
    for (const auto& f : gif.frames) {
        if (f.size() != count) return {};
        for (uint8_t idx : f)
            if (idx >= gif.palette.size()) return {};
    }
    int depth = 1;
    while ((1u << depth) < gif.palette.size()) ++depth;
    std::vector<uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
    u16(out, gif.width);
    u16(out, gif.height);
    out.push_back(uint8_t(0x80 | ((depth - 1) << 4) | (depth - 1)));  // global palette of 2^depth
    out.push_back(0);
    out.push_back(0);
    for (unsigned i = 0; i < (1u << depth); ++i) {
        uint32_t c = i < gif.palette.size() ? gif.palette[i] : 0;
        out.push_back(uint8_t(c >> 16));
        out.push_back(uint8_t(c >> 8));
        out.push_back(uint8_t(c));
    }
    if (gif.frames.size() > 1) {  // loop forever
        const uint8_t ext[] = {0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 0, 0, 0};
        out.insert(out.end(), std::begin(ext), std::end(ext));
    }
    for (const auto& f : gif.frames) {
        const uint8_t gce[] = {0x21, 0xF9, 4, 0x04 /* keep the frame */};
        out.insert(out.end(), std::begin(gce), std::end(gce));
        u16(out, gif.delay_cs);
        out.push_back(0);
        out.push_back(0);
        out.push_back(0x2C);
        u16(out, 0);
        u16(out, 0);
        u16(out, gif.width);
        u16(out, gif.height);
        out.push_back(0);
        lzw(f, depth < 2 ? 2 : depth, out);
    }
    out.push_back(0x3B);
    return out;
}

}  // namespace lumo::theme
