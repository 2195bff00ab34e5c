// GIF encoder. Limits: 256 palette entries and 12-bit LZW codes (the format's own); the
// colour histogram samples at most 4 Mi pixels of a frame, enough to find its colours
// without holding a second copy of a huge frame. Palettes are chosen per frame.
#include "convert/images/gif_writer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "convert/images/codec_support.h"

namespace images {
namespace {

constexpr size_t kMaxColours = 256;
constexpr uint8_t kAlphaThreshold = 128;  // below: the transparent entry
constexpr size_t kMaxHistogramSamples = size_t{1} << 22;
constexpr int kRefinePasses = 2;  // k-means passes after the median cut; more gain little
constexpr int kMaxCodeBits = 12;
constexpr uint32_t kMaxCode = 4095;
constexpr size_t kSubBlock = 255;

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
};
inline uint32_t Key(const uint8_t* bgra) { return uint32_t{bgra[2]} << 16 | uint32_t{bgra[1]} << 8 | bgra[0]; }
inline Rgb FromKey(uint32_t key) {
    return {static_cast<uint8_t>(key >> 16), static_cast<uint8_t>(key >> 8), static_cast<uint8_t>(key)};
}

// ---- Exact palettes ----

// Collects up to `limit` distinct colours; false as soon as there are more.
bool DistinctColours(const PixelBuffer& frame, size_t limit, std::vector<uint32_t>& colours) {
    constexpr size_t kSlots = 1024;  // a power of two well above 256 keeps probes short
    std::array<uint32_t, kSlots> table;
    table.fill(UINT32_MAX);
    colours.clear();
    const uint8_t* p = frame.bgra.data();
    uint32_t last = UINT32_MAX;
    for (size_t i = 0, n = frame.bgra.size() / 4; i < n; ++i, p += 4) {
        if (p[3] < kAlphaThreshold) continue;
        uint32_t key = Key(p);
        if (key == last) continue;
        last = key;
        size_t slot = (key * 2654435761u) >> 22 & (kSlots - 1);
        while (table[slot] != UINT32_MAX && table[slot] != key) slot = (slot + 1) & (kSlots - 1);
        if (table[slot] == key) continue;
        if (colours.size() == limit) return false;
        table[slot] = key;
        colours.push_back(key);
    }
    return true;
}

// ---- Nearest palette entry ----

// Exact nearest-colour search, fast: the colour cube is cut into 32^3 cells, and each
// cell, the first time a colour falls in it, keeps the entries that can be nearest to
// some point of it (those no farther at their closest than the best entry at its farthest).
class NearestColour {
public:
    explicit NearestColour(const std::vector<Rgb>& palette)
        : palette_(palette), cellStart_(kCells * kCells * kCells, -1), cellCount_(cellStart_.size(), 0) {}

    uint8_t Find(int r, int g, int b) {
        size_t cell = (static_cast<size_t>(r >> kShift) * kCells + (g >> kShift)) * kCells + (b >> kShift);
        if (cellStart_[cell] < 0) Build(cell, r >> kShift, g >> kShift, b >> kShift);
        const uint8_t* candidate = candidates_.data() + cellStart_[cell];
        uint8_t best = candidate[0];
        int bestDistance = INT32_MAX;
        for (size_t i = 0; i < cellCount_[cell]; ++i) {
            const Rgb& c = palette_[candidate[i]];
            int distance = Square(c.r - r) + Square(c.g - g) + Square(c.b - b);
            if (distance < bestDistance) {
                bestDistance = distance;
                best = candidate[i];
            }
        }
        return best;
    }

private:
    static constexpr int kShift = 3;
    static constexpr size_t kCells = 256 >> kShift;
    static int Square(int v) { return v * v; }
    static int AxisNear(int value, int lo, int hi) { return value < lo ? lo - value : value > hi ? value - hi : 0; }
    static int AxisFar(int value, int lo, int hi) { return std::max(std::abs(value - lo), std::abs(value - hi)); }

    void Build(size_t cell, int cr, int cg, int cb) {
        int lo[3] = {cr << kShift, cg << kShift, cb << kShift};
        int hi[3] = {lo[0] + (1 << kShift) - 1, lo[1] + (1 << kShift) - 1, lo[2] + (1 << kShift) - 1};
        int threshold = INT32_MAX;
        std::vector<int> nearest(palette_.size());
        for (size_t i = 0; i < palette_.size(); ++i) {
            const int v[3] = {palette_[i].r, palette_[i].g, palette_[i].b};
            int far = 0, near = 0;
            for (int axis = 0; axis < 3; ++axis) {
                far += Square(AxisFar(v[axis], lo[axis], hi[axis]));
                near += Square(AxisNear(v[axis], lo[axis], hi[axis]));
            }
            nearest[i] = near;
            threshold = std::min(threshold, far);
        }
        cellStart_[cell] = static_cast<int32_t>(candidates_.size());
        for (size_t i = 0; i < palette_.size(); ++i)
            if (nearest[i] <= threshold) candidates_.push_back(static_cast<uint8_t>(i));
        cellCount_[cell] = static_cast<uint16_t>(candidates_.size() - static_cast<size_t>(cellStart_[cell]));
    }

    const std::vector<Rgb>& palette_;
    std::vector<int32_t> cellStart_;
    std::vector<uint16_t> cellCount_;
    std::vector<uint8_t> candidates_;
};

// ---- Quantisation ----

struct Colour {
    uint32_t key;
    uint32_t count;
};

// The frame's opaque colours with their counts (every pixel, or an even sample of a huge frame).
std::vector<Colour> Histogram(const PixelBuffer& frame) {
    const size_t pixels = frame.bgra.size() / 4;
    const size_t step = std::max<size_t>(1, (pixels + kMaxHistogramSamples - 1) / kMaxHistogramSamples);
    std::vector<uint32_t> keys;
    keys.reserve(pixels / step + 1);
    for (size_t i = 0; i < pixels; i += step) {
        const uint8_t* p = frame.bgra.data() + i * 4;
        if (p[3] >= kAlphaThreshold) keys.push_back(Key(p));
    }
    // Radix sort on the three colour bytes, then runs of equal keys become counts.
    std::vector<uint32_t> scratch(keys.size());
    for (int shift = 0; shift < 24; shift += 8) {
        std::array<size_t, 257> offsets{};
        for (uint32_t key : keys) ++offsets[((key >> shift) & 0xFF) + 1];
        for (size_t i = 1; i < offsets.size(); ++i) offsets[i] += offsets[i - 1];
        for (uint32_t key : keys) scratch[offsets[(key >> shift) & 0xFF]++] = key;
        keys.swap(scratch);
    }
    std::vector<Colour> colours;
    for (size_t i = 0; i < keys.size();) {
        size_t j = i;
        while (j < keys.size() && keys[j] == keys[i]) ++j;
        colours.push_back({keys[i], static_cast<uint32_t>(j - i)});
        i = j;
    }
    return colours;
}

inline int Channel(uint32_t key, int axis) { return static_cast<int>((key >> (16 - 8 * axis)) & 0xFF); }

struct Box {
    size_t begin, end;
    double error;  // weighted sum of squared distances to the box's mean
};

struct Sums {
    double n = 0, s[3] = {0, 0, 0}, q[3] = {0, 0, 0};
    void Add(const Colour& c) {
        n += c.count;
        for (int a = 0; a < 3; ++a) {
            double v = Channel(c.key, a);
            s[a] += v * c.count;
            q[a] += v * v * c.count;
        }
    }
    double Error() const {
        if (n == 0) return 0;
        double e = 0;
        for (int a = 0; a < 3; ++a) e += q[a] - s[a] * s[a] / n;
        return e;
    }
    double Variance(int a) const { return n == 0 ? 0 : q[a] - s[a] * s[a] / n; }
};

Sums SumOf(const std::vector<Colour>& colours, size_t begin, size_t end) {
    Sums sums;
    for (size_t i = begin; i < end; ++i) sums.Add(colours[i]);
    return sums;
}

// Median cut that always splits the box with the largest error, along its widest axis,
// where the two halves' errors add up least.
std::vector<Rgb> MedianCut(std::vector<Colour>& colours, size_t count) {
    std::vector<Box> boxes{{0, colours.size(), SumOf(colours, 0, colours.size()).Error()}};
    std::vector<Colour> scratch;
    while (boxes.size() < count) {
        auto worst = std::max_element(boxes.begin(), boxes.end(),
                                      [](const Box& a, const Box& b) { return a.error < b.error; });
        if (worst->end - worst->begin < 2 || worst->error <= 0) break;
        Box box = *worst;
        Sums all = SumOf(colours, box.begin, box.end);
        int axis = 0;
        for (int a = 1; a < 3; ++a)
            if (all.Variance(a) > all.Variance(axis)) axis = a;
        // Channels are bytes, so a counting sort orders the box along the axis in one pass.
        std::array<size_t, 257> starts{};
        for (size_t i = box.begin; i < box.end; ++i) ++starts[static_cast<size_t>(Channel(colours[i].key, axis)) + 1];
        for (size_t v = 1; v < starts.size(); ++v) starts[v] += starts[v - 1];
        scratch.resize(box.end - box.begin);
        for (size_t i = box.begin; i < box.end; ++i) scratch[starts[static_cast<size_t>(Channel(colours[i].key, axis))]++] = colours[i];
        std::copy(scratch.begin(), scratch.end(), colours.begin() + static_cast<std::ptrdiff_t>(box.begin));
        Sums left;
        size_t split = box.begin + 1;
        double best = INFINITY;
        for (size_t i = box.begin; i + 1 < box.end; ++i) {
            left.Add(colours[i]);
            if (Channel(colours[i].key, axis) == Channel(colours[i + 1].key, axis)) continue;
            Sums right;
            right.n = all.n - left.n;
            for (int a = 0; a < 3; ++a) {
                right.s[a] = all.s[a] - left.s[a];
                right.q[a] = all.q[a] - left.q[a];
            }
            double error = left.Error() + right.Error();
            if (error < best) {
                best = error;
                split = i + 1;
            }
        }
        if (best == INFINITY) {  // every colour equal along the widest axis: cut by count
            split = box.begin + (box.end - box.begin) / 2;
        }
        *worst = {box.begin, split, SumOf(colours, box.begin, split).Error()};
        boxes.push_back({split, box.end, SumOf(colours, split, box.end).Error()});
    }
    std::vector<Rgb> palette;
    for (const Box& box : boxes) {
        Sums sums = SumOf(colours, box.begin, box.end);
        palette.push_back({static_cast<uint8_t>(std::lround(sums.s[0] / sums.n)),
                           static_cast<uint8_t>(std::lround(sums.s[1] / sums.n)),
                           static_cast<uint8_t>(std::lround(sums.s[2] / sums.n))});
    }
    return palette;
}

// Moves each entry to the mean of the colours nearest to it.
void Refine(const std::vector<Colour>& colours, std::vector<Rgb>& palette) {
    for (int pass = 0; pass < kRefinePasses; ++pass) {
        std::vector<Sums> sums(palette.size());
        {
            NearestColour nearest(palette);
            for (const Colour& c : colours) sums[nearest.Find(Channel(c.key, 0), Channel(c.key, 1), Channel(c.key, 2))].Add(c);
        }
        for (size_t i = 0; i < palette.size(); ++i)
            if (sums[i].n > 0)
                palette[i] = {static_cast<uint8_t>(std::lround(sums[i].s[0] / sums[i].n)),
                              static_cast<uint8_t>(std::lround(sums[i].s[1] / sums[i].n)),
                              static_cast<uint8_t>(std::lround(sums[i].s[2] / sums[i].n))};
    }
}

struct Indexed {
    std::vector<Rgb> palette;    // the colour table, the transparent entry last when used
    int transparent = -1;        // its index, or -1
    std::vector<uint8_t> indices;
};

// Floyd-Steinberg error diffusion in serpentine order; transparent pixels neither take
// nor pass on error.
void Dither(const PixelBuffer& frame, const std::vector<Rgb>& palette, int transparent, std::vector<uint8_t>& indices) {
    NearestColour nearest(palette);
    const size_t width = frame.width;
    std::vector<int> current((width + 2) * 3, 0), next((width + 2) * 3, 0);  // sixteenths, one guard each side
    for (uint32_t y = 0; y < frame.height; ++y) {
        bool reverse = y % 2 == 1;
        std::fill(next.begin(), next.end(), 0);
        for (size_t step = 0; step < width; ++step) {
            size_t x = reverse ? width - 1 - step : step;
            size_t at = static_cast<size_t>(y) * width + x;
            const uint8_t* p = frame.bgra.data() + at * 4;
            if (p[3] < kAlphaThreshold) {
                indices[at] = static_cast<uint8_t>(transparent);
                continue;
            }
            int* e = &current[(x + 1) * 3];
            int want[3] = {std::clamp(p[2] + (e[0] + 8) / 16, 0, 255), std::clamp(p[1] + (e[1] + 8) / 16, 0, 255),
                           std::clamp(p[0] + (e[2] + 8) / 16, 0, 255)};
            uint8_t index = nearest.Find(want[0], want[1], want[2]);
            indices[at] = index;
            const Rgb& got = palette[index];
            int error[3] = {want[0] - got.r, want[1] - got.g, want[2] - got.b};
            const ptrdiff_t ahead = reverse ? -3 : 3;
            for (int c = 0; c < 3; ++c) {
                e[ahead + c] += error[c] * 7;
                int* below = &next[(x + 1) * 3 + static_cast<size_t>(c)];
                below[-ahead] += error[c] * 3;
                below[0] += error[c] * 5;
                below[ahead] += error[c];
            }
        }
        current.swap(next);
    }
}

Indexed ToIndexed(const PixelBuffer& frame) {
    Indexed result;
    bool transparent = false;
    for (size_t i = 3; i < frame.bgra.size(); i += 4)
        if (frame.bgra[i] < kAlphaThreshold) {
            transparent = true;
            break;
        }
    const size_t slots = kMaxColours - (transparent ? 1 : 0);
    result.indices.resize(frame.bgra.size() / 4);

    std::vector<uint32_t> distinct;
    if (DistinctColours(frame, slots, distinct)) {
        std::sort(distinct.begin(), distinct.end());
        for (uint32_t key : distinct) result.palette.push_back(FromKey(key));
        if (transparent) {
            result.transparent = static_cast<int>(result.palette.size());
            result.palette.push_back({});
        }
        const uint8_t* p = frame.bgra.data();
        for (size_t i = 0; i < result.indices.size(); ++i, p += 4) {
            if (p[3] < kAlphaThreshold) {
                result.indices[i] = static_cast<uint8_t>(result.transparent);
                continue;
            }
            auto found = std::lower_bound(distinct.begin(), distinct.end(), Key(p));
            result.indices[i] = static_cast<uint8_t>(found - distinct.begin());
        }
        return result;
    }
    std::vector<Colour> colours = Histogram(frame);
    result.palette = MedianCut(colours, slots);
    Refine(colours, result.palette);
    if (transparent) {
        result.transparent = static_cast<int>(result.palette.size());
        result.palette.push_back({});
    }
    Dither(frame, result.palette, result.transparent, result.indices);
    return result;
}

// ---- LZW ----

class CodeWriter {
public:
    explicit CodeWriter(std::string& out) : out_(out) {}
    void Put(uint32_t code, int bits) {
        accumulator_ |= code << used_;
        used_ += bits;
        while (used_ >= 8) {
            Byte(static_cast<uint8_t>(accumulator_ & 0xFF));
            accumulator_ >>= 8;
            used_ -= 8;
        }
    }
    void Finish() {
        if (used_ > 0) Byte(static_cast<uint8_t>(accumulator_ & 0xFF));
        if (!block_.empty()) FlushBlock();
        out_ += '\0';  // block terminator
    }

private:
    void Byte(uint8_t byte) {
        block_ += static_cast<char>(byte);
        if (block_.size() == kSubBlock) FlushBlock();
    }
    void FlushBlock() {
        out_ += static_cast<char>(block_.size());
        out_ += block_;
        block_.clear();
    }
    std::string& out_;
    std::string block_;
    uint32_t accumulator_ = 0;
    int used_ = 0;
};

// LZW as GIF decoders expect it: codes grow a bit when the next free code reaches the
// current width's limit, and the table is cleared before it would pass 4095.
void CompressIndices(const std::vector<uint8_t>& indices, int minCodeSize, std::string& out) {
    out += static_cast<char>(minCodeSize);
    CodeWriter writer(out);
    const uint32_t clear = 1u << minCodeSize, endOfData = clear + 1;
    constexpr size_t kTableSize = 8192;  // twice the codes, so probe chains stay short
    std::vector<uint32_t> keys(kTableSize), codes(kTableSize);
    uint32_t next = 0;
    int bits = 0;
    auto reset = [&] {
        std::fill(keys.begin(), keys.end(), 0);
        next = endOfData + 1;
        bits = minCodeSize + 1;
    };
    auto emit = [&](uint32_t code) {
        writer.Put(code, bits);
        if (next >= (1u << bits) && bits < kMaxCodeBits) ++bits;
    };
    reset();
    writer.Put(clear, bits);
    if (indices.empty()) {
        emit(endOfData);
        writer.Finish();
        return;
    }
    uint32_t prefix = indices[0];
    for (size_t i = 1; i < indices.size(); ++i) {
        uint32_t key = (prefix << 8 | indices[i]) + 1;  // +1: zero marks an empty slot
        size_t slot = (key * 2654435761u) >> 19 & (kTableSize - 1);
        while (keys[slot] != 0 && keys[slot] != key) slot = (slot + 1) & (kTableSize - 1);
        if (keys[slot] == key) {
            prefix = codes[slot];
            continue;
        }
        emit(prefix);
        prefix = indices[i];
        if (next >= kMaxCode) {
            emit(clear);
            reset();
        } else {
            keys[slot] = key;
            codes[slot] = next++;
        }
    }
    emit(prefix);
    emit(endOfData);
    writer.Finish();
}

void PutU16(std::string& out, uint32_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

}  // namespace

GifWriter::GifWriter(uint32_t width, uint32_t height, bool loop) : width_(width), height_(height) {
    if (!ImageSizeAllowed(width, height)) throw ConvertError(kImpossibleSize);
    out_ = "GIF89a";
    PutU16(out_, width);
    PutU16(out_, height);
    out_ += '\0';  // no global colour table: every frame brings its own
    out_ += '\0';  // background colour index
    out_ += '\0';  // pixel aspect ratio: square
    if (loop) {
        out_ += "\x21\xFF\x0BNETSCAPE2.0";
        out_ += "\x03\x01";
        PutU16(out_, 0);  // repeat forever
        out_ += '\0';
    }
}

void GifWriter::AddFrame(const PixelBuffer& frame, uint16_t delayCentiseconds) {
    if (finished_ || frame.width != width_ || frame.height != height_ || !BufferConsistent(frame))
        throw ConvertError("Couldn't add a GIF frame");
    Indexed indexed = ToIndexed(frame);
    int tableBits = 1;
    while ((size_t{1} << tableBits) < indexed.palette.size()) ++tableBits;

    // Graphic control: the delay, the disposal (1 leaves the frame for the next to cover;
    // 2 clears it, so a frame with holes doesn't show its predecessor through them) and
    // the transparent index.
    bool transparent = indexed.transparent >= 0;
    out_ += "\x21\xF9\x04";
    out_ += static_cast<char>((transparent ? 2 : 1) << 2 | (transparent ? 1 : 0));
    PutU16(out_, delayCentiseconds);
    out_ += static_cast<char>(transparent ? indexed.transparent : 0);
    out_ += '\0';

    out_ += '\x2C';
    PutU16(out_, 0);
    PutU16(out_, 0);
    PutU16(out_, width_);
    PutU16(out_, height_);
    out_ += static_cast<char>(0x80 | (tableBits - 1));  // local colour table, not interlaced
    for (size_t i = 0; i < (size_t{1} << tableBits); ++i) {
        Rgb c = i < indexed.palette.size() ? indexed.palette[i] : Rgb{};
        out_ += static_cast<char>(c.r);
        out_ += static_cast<char>(c.g);
        out_ += static_cast<char>(c.b);
    }
    CompressIndices(indexed.indices, std::max(2, tableBits), out_);
    ++frames_;
}

std::string GifWriter::Finish() {
    if (finished_ || frames_ == 0) throw ConvertError("Couldn't finish the GIF");
    finished_ = true;
    out_ += '\x3B';
    return std::move(out_);
}

std::string EncodeGif(const PixelBuffer& pixels) {
    GifWriter writer(pixels.width, pixels.height, false);
    writer.AddFrame(pixels, 0);
    return writer.Finish();
}

}  // namespace images
