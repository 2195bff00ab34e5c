// Camera RAW through libraw: the sensor data is demosaiced with the camera's white
// balance into 16-bit RGB, never rotated by the library (user_flip 0); the camera's own
// flip value becomes the orientation the flip-rotator applies. libraw's memory ceiling is
// set from our budget, and the raw and output sizes are checked before processing.
#include <cstring>

#include <libraw/libraw.h>

#include "convert/core/errors.h"
#include "platform/imaging/codecs/codec_support.h"

namespace imaging {
namespace {

constexpr uint64_t kRawWorkingBytes = 24;  // raw samples, libraw's 4x16-bit image, its RGB copy and ours
constexpr unsigned kMaxRawMemoryMB = 2048;  // libraw's own default ceiling, kept when no budget is set

void IgnoreDataError(void*, const char*, const int) {}
void IgnoreMemoryError(void*, const char*, const char*) {}

struct RawCloser {
    libraw_data_t* raw;
    libraw_processed_image_t* image = nullptr;
    ~RawCloser() {
        if (image) libraw_dcraw_clear_mem(image);
        if (raw) libraw_close(raw);
    }
};

// libraw's flip (dcraw's bits: 4 transpose, 2 vertical, 1 horizontal) as an EXIF orientation.
int OrientationOfFlip(int flip) {
    switch (flip) {
    case 1: return 2;
    case 2: return 4;
    case 3: return 3;
    case 4: return 5;
    case 5: return 8;
    case 6: return 6;
    case 7: return 7;
    default: return 1;
    }
}

}  // namespace

bool DecodeRaw(std::string_view bytes, const DecodeOptions& options, DecodedFrame& frame) {
    RawCloser closer{libraw_init(0)};
    libraw_data_t* raw = closer.raw;
    if (!raw) throw std::bad_alloc();
    libraw_set_dataerror_handler(raw, IgnoreDataError, nullptr);
    libraw_set_memerror_handler(raw, IgnoreMemoryError, nullptr);
    raw->params.user_flip = 0;
    raw->params.use_camera_wb = 1;
    raw->params.output_bps = 16;
    uint64_t budgetMB = options.memoryBudget >> 20;
    raw->params.max_raw_memory_mb =
        budgetMB != 0 && budgetMB < kMaxRawMemoryMB ? static_cast<unsigned>(budgetMB) : kMaxRawMemoryMB;
    if (libraw_open_buffer(raw, const_cast<char*>(bytes.data()), bytes.size()) != LIBRAW_SUCCESS) return false;
    const libraw_image_sizes_t& sizes = raw->sizes;
    CheckImageHeader(sizes.raw_width, sizes.raw_height, kRawWorkingBytes, options);
    CheckImageHeader(sizes.width, sizes.height, kRawWorkingBytes, options);
    int orientation = OrientationOfFlip(sizes.flip);
    if (libraw_unpack(raw) != LIBRAW_SUCCESS) ThrowDamaged();
    if (libraw_dcraw_process(raw) != LIBRAW_SUCCESS) ThrowDamaged();
    int error = 0;
    closer.image = libraw_dcraw_make_mem_image(raw, &error);
    libraw_processed_image_t* image = closer.image;
    if (!image || image->type != LIBRAW_IMAGE_BITMAP || image->colors != 3 || image->bits != 16) ThrowDamaged();
    CheckImageHeader(image->width, image->height, kRawWorkingBytes, options);
    if (image->data_size != static_cast<unsigned>(image->width) * image->height * 6u) ThrowDamaged();
    auto bitmap = std::make_shared<Bitmap>(image->width, image->height, PixelFormat::kRgb48);
    std::memcpy(bitmap->Pixels().data(), image->data, bitmap->Pixels().size());
    frame = {bitmap, orientation};
    return true;
}

}  // namespace imaging
