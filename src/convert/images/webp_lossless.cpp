// Lossless WebP encoder. Limits: each side 1..16384 (14-bit fields); copies are 3..4096
// pixels long (VP8L's longest length prefix); prefix codes are at most 15 bits long and
// the code-length code at most 7, as the bitstream requires. No colour cache, no meta
// prefix codes: one set of five codes serves the whole image.
#include "convert/images/webp_lossless.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <queue>
#include <vector>

#include "convert/images/codec_support.h"

namespace images {
namespace {

constexpr int kBlockBits = 4;  // predictor blocks of 16 x 16 pixels
constexpr uint32_t kBlockSize = 1u << kBlockBits;
constexpr uint32_t kMaxCopy = 4096;
constexpr uint32_t kMinCopy = 3;  // shorter copies cost more than literals
constexpr int kMaxCodeLength = 15;
constexpr int kMaxCodeLengthCodeLength = 7;
constexpr int kMaxBuildAttempts = 32;  // each attempt flattens the counts; a handful always suffices
constexpr size_t kGreenAlphabet = 256 + 24;
constexpr size_t kDistanceAlphabet = 40;
constexpr size_t kCodeLengthAlphabet = 19;
constexpr std::array<uint8_t, kCodeLengthAlphabet> kCodeLengthOrder = {17, 18, 0, 1,  2,  3,  4,  5,  16, 6,
                                                                       7,  8,  9, 10, 11, 12, 13, 14, 15};
constexpr uint32_t kDistanceUp = 1, kDistanceLeft = 2;  // VP8L distance codes for (0,1) and (1,0)

class BitWriter {
public:
    explicit BitWriter(size_t expectedBytes) { bytes_.reserve(expectedBytes); }
    void Put(uint32_t bits, int count) {
        accumulator_ |= static_cast<uint64_t>(bits) << used_;
        used_ += count;
        if (used_ >= 32) {  // whole 32-bit words at a time: the hot path of every symbol
            uint32_t word = static_cast<uint32_t>(accumulator_);
            char out[4] = {static_cast<char>(word), static_cast<char>(word >> 8), static_cast<char>(word >> 16),
                           static_cast<char>(word >> 24)};
            bytes_.append(out, 4);
            accumulator_ >>= 32;
            used_ -= 32;
        }
    }
    std::string Finish() {
        for (; used_ > 0; used_ -= 8, accumulator_ >>= 8) bytes_ += static_cast<char>(accumulator_ & 0xFF);
        used_ = 0;
        accumulator_ = 0;
        return std::move(bytes_);
    }

private:
    std::string bytes_;
    uint64_t accumulator_ = 0;
    int used_ = 0;
};

// ---- Pixel arithmetic, per 8-bit channel of an ARGB word ----

inline uint32_t SubPixels(uint32_t a, uint32_t b) {
    uint32_t alphaGreen = 0x00FF00FFu + (a & 0xFF00FF00u) - (b & 0xFF00FF00u);
    uint32_t redBlue = 0xFF00FF00u + (a & 0x00FF00FFu) - (b & 0x00FF00FFu);
    return (alphaGreen & 0xFF00FF00u) | (redBlue & 0x00FF00FFu);
}
inline int Channel(uint32_t pixel, int shift) { return static_cast<int>((pixel >> shift) & 0xFF); }
inline uint32_t Clamp255(int value) { return static_cast<uint32_t>(value < 0 ? 0 : value > 255 ? 255 : value); }
inline uint32_t Average2(uint32_t a, uint32_t b) { return (((a ^ b) & 0xFEFEFEFEu) >> 1) + (a & b); }

uint32_t Select(uint32_t left, uint32_t top, uint32_t topLeft) {
    int towardsLeft = 0, towardsTop = 0;  // distances of the gradient estimate to each neighbour
    for (int shift = 0; shift < 32; shift += 8) {
        towardsLeft += std::abs(Channel(top, shift) - Channel(topLeft, shift));
        towardsTop += std::abs(Channel(left, shift) - Channel(topLeft, shift));
    }
    return towardsLeft < towardsTop ? left : top;
}
uint32_t ClampAddSubtractFull(uint32_t a, uint32_t b, uint32_t c) {
    uint32_t result = 0;
    for (int shift = 0; shift < 32; shift += 8)
        result |= Clamp255(Channel(a, shift) + Channel(b, shift) - Channel(c, shift)) << shift;
    return result;
}
uint32_t ClampAddSubtractHalf(uint32_t a, uint32_t b) {
    uint32_t result = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        int x = Channel(a, shift), y = Channel(b, shift);
        result |= Clamp255(x + (x - y) / 2) << shift;
    }
    return result;
}

constexpr std::array<uint8_t, 5> kModes = {1, 2, 11, 12, 13};

// The prediction for pixel (x, y) under `mode`, with the bitstream's fixed rules for the
// first row and column. `image` is the subtract-green image, never residuals.
inline uint32_t Predict(const uint32_t* image, uint32_t width, uint32_t x, uint32_t y, uint8_t mode) {
    const uint32_t* here = image + static_cast<size_t>(y) * width + x;
    if (y == 0) return x == 0 ? 0xFF000000u : here[-1];
    const uint32_t* above = here - width;
    if (x == 0) return above[0];
    uint32_t left = here[-1], top = above[0], topLeft = above[-1];
    switch (mode) {
        case 1: return left;
        case 2: return top;
        case 11: return Select(left, top, topLeft);
        case 12: return ClampAddSubtractFull(left, top, topLeft);
        default: return ClampAddSubtractHalf(Average2(left, top), topLeft);
    }
}

// The cost of a residual: the sum over its channels of |channel as a signed byte|.
struct CostTable {
    std::array<uint8_t, 256> magnitude;
    constexpr CostTable() : magnitude() {
        for (int b = 0; b < 256; ++b) magnitude[static_cast<size_t>(b)] = static_cast<uint8_t>(b < 128 ? b : 256 - b);
    }
};
constexpr CostTable kCost;
inline uint32_t ResidualCost(uint32_t residual) {
    return kCost.magnitude[residual & 0xFF] + kCost.magnitude[(residual >> 8) & 0xFF] +
           kCost.magnitude[(residual >> 16) & 0xFF] + kCost.magnitude[residual >> 24];
}

struct Predicted {
    std::vector<uint32_t> modes;     // the sub-image: one pixel per block, the mode in green
    std::vector<uint32_t> residual;  // the image to code
    uint32_t blocksAcross = 0;
};

Predicted PredictorTransform(const std::vector<uint32_t>& image, uint32_t width, uint32_t height) {
    Predicted result;
    result.blocksAcross = (width + kBlockSize - 1) / kBlockSize;
    uint32_t blocksDown = (height + kBlockSize - 1) / kBlockSize;
    result.modes.resize(static_cast<size_t>(result.blocksAcross) * blocksDown);
    result.residual.resize(image.size());
    const uint32_t* pixels = image.data();
    for (uint32_t by = 0; by < blocksDown; ++by) {
        uint32_t y0 = by * kBlockSize, y1 = std::min(height, y0 + kBlockSize);
        for (uint32_t bx = 0; bx < result.blocksAcross; ++bx) {
            uint32_t x0 = bx * kBlockSize, x1 = std::min(width, x0 + kBlockSize);
            // All five modes in one pass. Pixels of the first row and column have fixed
            // predictions, the same cost under every mode, so they don't take part.
            std::array<uint64_t, kModes.size()> costs{};
            for (uint32_t y = std::max(y0, 1u); y < y1; ++y) {
                const uint32_t* row = pixels + static_cast<size_t>(y) * width;
                const uint32_t* above = row - width;
                for (uint32_t x = std::max(x0, 1u); x < x1; ++x) {
                    uint32_t p = row[x], left = row[x - 1], top = above[x], topLeft = above[x - 1];
                    costs[0] += ResidualCost(SubPixels(p, left));
                    costs[1] += ResidualCost(SubPixels(p, top));
                    costs[2] += ResidualCost(SubPixels(p, Select(left, top, topLeft)));
                    costs[3] += ResidualCost(SubPixels(p, ClampAddSubtractFull(left, top, topLeft)));
                    costs[4] += ResidualCost(SubPixels(p, ClampAddSubtractHalf(Average2(left, top), topLeft)));
                }
            }
            size_t best = 0;
            for (size_t m = 1; m < kModes.size(); ++m)
                if (costs[m] < costs[best]) best = m;
            uint8_t mode = kModes[best];
            result.modes[static_cast<size_t>(by) * result.blocksAcross + bx] = 0xFF000000u | (uint32_t{mode} << 8);
            for (uint32_t y = y0; y < y1; ++y)
                for (uint32_t x = x0; x < x1; ++x) {
                    size_t at = static_cast<size_t>(y) * width + x;
                    result.residual[at] = SubPixels(pixels[at], Predict(pixels, width, x, y, mode));
                }
        }
    }
    return result;
}

// ---- Prefix codes ----

struct PrefixCode {
    std::vector<uint8_t> lengths;
    std::vector<uint16_t> codes;  // bit-reversed, ready for the least-significant-first writer
    int singleSymbol = -1;        // >= 0 when fewer than two symbols are used
};

// Huffman lengths from counts by the textbook tree: a min-heap on (count, node index),
// leaves first in symbol order, then merged nodes in the order they are made.
bool HuffmanLengths(const std::vector<uint32_t>& counts, int maxLength, std::vector<uint8_t>& lengths) {
    struct Node {
        uint64_t count;
        uint32_t index;
        bool operator>(const Node& other) const {
            return count != other.count ? count > other.count : index > other.index;
        }
    };
    std::vector<int> parent;
    std::vector<size_t> leafSymbol;
    std::priority_queue<Node, std::vector<Node>, std::greater<Node>> heap;
    for (size_t symbol = 0; symbol < counts.size(); ++symbol)
        if (counts[symbol] > 0) {
            heap.push({counts[symbol], static_cast<uint32_t>(parent.size())});
            parent.push_back(-1);
            leafSymbol.push_back(symbol);
        }
    while (heap.size() > 1) {
        Node a = heap.top();
        heap.pop();
        Node b = heap.top();
        heap.pop();
        auto merged = static_cast<uint32_t>(parent.size());
        parent.push_back(-1);
        parent[a.index] = static_cast<int>(merged);
        parent[b.index] = static_cast<int>(merged);
        heap.push({a.count + b.count, merged});
    }
    // Merged nodes come after their children, so depths fill from the root downwards.
    std::vector<int> depth(parent.size(), 0);
    for (size_t node = parent.size(); node-- > 0;)
        if (parent[node] >= 0) depth[node] = depth[static_cast<size_t>(parent[node])] + 1;
    lengths.assign(counts.size(), 0);
    for (size_t leaf = 0; leaf < leafSymbol.size(); ++leaf) {
        if (depth[leaf] > maxLength) return false;
        lengths[leafSymbol[leaf]] = static_cast<uint8_t>(depth[leaf]);
    }
    return true;
}

PrefixCode BuildCode(std::vector<uint32_t> counts, int maxLength) {
    PrefixCode code;
    size_t used = 0;
    int last = 0;
    for (size_t symbol = 0; symbol < counts.size(); ++symbol)
        if (counts[symbol] > 0) {
            ++used;
            last = static_cast<int>(symbol);
        }
    code.lengths.assign(counts.size(), 0);
    code.codes.assign(counts.size(), 0);
    if (used < 2) {
        code.singleSymbol = used == 1 ? last : 0;
        return code;
    }
    int attempt = 0;
    while (!HuffmanLengths(counts, maxLength, code.lengths)) {
        if (++attempt == kMaxBuildAttempts) throw ConvertError("Couldn't build the WebP codes");
        for (auto& count : counts)
            if (count > 0) count = (count | 2) >> 1;
    }
    // Canonical codes: shorter codes first, one length's symbols in symbol order.
    std::array<uint32_t, kMaxCodeLength + 2> perLength{}, next{};
    for (uint8_t length : code.lengths) ++perLength[length];
    perLength[0] = 0;
    for (int length = 1; length <= kMaxCodeLength; ++length)
        next[length + 1] = (next[length] + perLength[length]) << 1;
    for (size_t symbol = 0; symbol < counts.size(); ++symbol) {
        int length = code.lengths[symbol];
        if (length == 0) continue;
        uint32_t value = next[length]++;
        uint32_t reversed = 0;
        for (int bit = 0; bit < length; ++bit) reversed |= ((value >> bit) & 1) << (length - 1 - bit);
        code.codes[symbol] = static_cast<uint16_t>(reversed);
    }
    return code;
}

inline void PutSymbol(BitWriter& out, const PrefixCode& code, size_t symbol) {
    if (code.singleSymbol < 0) out.Put(code.codes[symbol], code.lengths[symbol]);
}

void WriteCodeLengths(BitWriter& out, const std::vector<uint8_t>& lengths) {
    struct Token {
        uint8_t symbol, extra;
    };
    std::vector<Token> tokens;
    for (size_t i = 0; i < lengths.size();) {
        if (lengths[i] != 0) {
            tokens.push_back({lengths[i], 0});
            ++i;
            continue;
        }
        size_t run = 0;
        while (i + run < lengths.size() && lengths[i + run] == 0) ++run;
        i += run;
        while (run > 0) {
            if (run >= 11) {
                size_t take = std::min<size_t>(run, 138);
                tokens.push_back({18, static_cast<uint8_t>(take - 11)});
                run -= take;
            } else if (run >= 3) {
                tokens.push_back({17, static_cast<uint8_t>(run - 3)});
                run = 0;
            } else {
                tokens.push_back({0, 0});
                --run;
            }
        }
    }
    std::vector<uint32_t> histogram(kCodeLengthAlphabet, 0);
    for (const Token& token : tokens) ++histogram[token.symbol];
    // The code-length code needs two symbols so that every symbol it codes has a length.
    if (std::count_if(histogram.begin(), histogram.end(), [](uint32_t c) { return c > 0; }) < 2)
        ++histogram[histogram[0] > 0 ? 1 : 0];
    PrefixCode lengthCode = BuildCode(histogram, kMaxCodeLengthCodeLength);

    size_t written = kCodeLengthAlphabet;
    while (written > 4 && lengthCode.lengths[kCodeLengthOrder[written - 1]] == 0) --written;
    out.Put(static_cast<uint32_t>(written - 4), 4);
    for (size_t i = 0; i < written; ++i) out.Put(lengthCode.lengths[kCodeLengthOrder[i]], 3);
    out.Put(0, 1);  // lengths are given for the whole alphabet
    for (const Token& token : tokens) {
        PutSymbol(out, lengthCode, token.symbol);
        if (token.symbol == 17) out.Put(token.extra, 3);
        if (token.symbol == 18) out.Put(token.extra, 7);
    }
}

void WriteCode(BitWriter& out, const PrefixCode& code) {
    if (code.singleSymbol >= 0) {
        out.Put(1, 1);  // simple code
        out.Put(0, 1);  // one symbol
        bool wide = code.singleSymbol >= 2;
        out.Put(wide ? 1 : 0, 1);
        out.Put(static_cast<uint32_t>(code.singleSymbol), wide ? 8 : 1);
    } else {
        out.Put(0, 1);
        WriteCodeLengths(out, code.lengths);
    }
}

// ---- Entropy-coded image ----

struct PrefixValue {
    uint32_t symbol, extraBits, extra;
};
// VP8L's prefix coding of a length or distance value v >= 1 (coded as v - 1).
inline PrefixValue PrefixOf(uint32_t value) {
    uint32_t v = value - 1;
    if (v < 4) return {v, 0, 0};
    int high = 31 - __builtin_clz(v);
    uint32_t second = (v >> (high - 1)) & 1;
    auto extraBits = static_cast<uint32_t>(high - 1);
    return {2 * static_cast<uint32_t>(high) + second, extraBits, v & ((1u << extraBits) - 1)};
}

struct Token {
    uint32_t value;     // the literal ARGB pixel, or the copy length
    uint32_t distance;  // 0 for a literal, else the distance code
};

void WriteImage(BitWriter& out, const std::vector<uint32_t>& image, uint32_t width) {
    const size_t count = image.size();
    std::vector<Token> tokens;
    tokens.reserve(count / 4 + 16);
    for (size_t i = 0; i < count;) {
        size_t limit = std::min<size_t>(kMaxCopy, count - i);
        size_t left = 0, up = 0;
        if (i > 0)
            while (left < limit && image[i + left] == image[i + left - 1]) ++left;
        if (i >= width)
            while (up < limit && image[i + up] == image[i + up - width]) ++up;
        size_t run = std::max(left, up);
        if (run >= kMinCopy) {
            tokens.push_back({static_cast<uint32_t>(run), left >= up ? kDistanceLeft : kDistanceUp});
            i += run;
        } else {
            tokens.push_back({image[i], 0});
            ++i;
        }
    }

    std::vector<uint32_t> green(kGreenAlphabet, 0), red(256, 0), blue(256, 0), alpha(256, 0),
        distance(kDistanceAlphabet, 0);
    for (const Token& token : tokens) {
        if (token.distance) {
            ++green[256 + PrefixOf(token.value).symbol];
            ++distance[PrefixOf(token.distance).symbol];
        } else {
            ++green[(token.value >> 8) & 0xFF];
            ++red[(token.value >> 16) & 0xFF];
            ++blue[token.value & 0xFF];
            ++alpha[token.value >> 24];
        }
    }
    const std::array<PrefixCode, 5> codes = {BuildCode(green, kMaxCodeLength), BuildCode(red, kMaxCodeLength),
                                             BuildCode(blue, kMaxCodeLength), BuildCode(alpha, kMaxCodeLength),
                                             BuildCode(distance, kMaxCodeLength)};
    for (const auto& code : codes) WriteCode(out, code);

    for (const Token& token : tokens) {
        if (token.distance) {
            PrefixValue length = PrefixOf(token.value);
            PutSymbol(out, codes[0], 256 + length.symbol);
            out.Put(length.extra, static_cast<int>(length.extraBits));
            PutSymbol(out, codes[4], PrefixOf(token.distance).symbol);
        } else {
            PutSymbol(out, codes[0], (token.value >> 8) & 0xFF);
            PutSymbol(out, codes[1], (token.value >> 16) & 0xFF);
            PutSymbol(out, codes[2], token.value & 0xFF);
            PutSymbol(out, codes[3], token.value >> 24);
        }
    }
}

void PutU32LE(std::string& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
}

}  // namespace

std::string EncodeWebpLossless(const PixelBuffer& pixels) {
    if (pixels.width < 1 || pixels.height < 1 || pixels.width > kMaxWebpSide || pixels.height > kMaxWebpSide)
        throw ConvertError("WebP pictures can be at most 16384 pixels on a side");
    if (!BufferConsistent(pixels)) throw ConvertError(kImpossibleSize);
    const uint32_t width = pixels.width, height = pixels.height;

    std::vector<uint32_t> image(static_cast<size_t>(width) * height);
    bool alphaUsed = false;
    const uint8_t* in = pixels.bgra.data();
    for (auto& pixel : image) {
        uint32_t g = in[1];
        pixel = uint32_t{in[3]} << 24 | ((in[2] - g) & 0xFF) << 16 | g << 8 | ((in[0] - g) & 0xFF);
        alphaUsed |= in[3] != 255;
        in += 4;
    }

    BitWriter out(pixels.bgra.size() / 2 + 64);
    out.Put(0x2F, 8);
    out.Put(width - 1, 14);
    out.Put(height - 1, 14);
    out.Put(alphaUsed ? 1 : 0, 1);
    out.Put(0, 3);  // version
    out.Put(1, 1);
    out.Put(2, 2);  // subtract green
    Predicted predicted = PredictorTransform(image, width, height);
    image = {};
    out.Put(1, 1);
    out.Put(0, 2);  // predictor
    out.Put(kBlockBits - 2, 3);
    out.Put(0, 1);  // no colour cache for the mode image
    WriteImage(out, predicted.modes, predicted.blocksAcross);
    out.Put(0, 1);  // no more transforms
    out.Put(0, 1);  // no colour cache
    out.Put(0, 1);  // no meta prefix codes
    WriteImage(out, predicted.residual, width);
    std::string data = out.Finish();

    std::string file = "RIFF";
    auto length = static_cast<uint32_t>(data.size());
    PutU32LE(file, 12 + length + (length & 1));
    file += "WEBPVP8L";
    PutU32LE(file, length);
    file += data;
    if (length & 1) file += '\0';
    return file;
}

}  // namespace images
