// GIF through giflib, first image only: the records are read up to the first image
// descriptor (its graphic control extension gives the transparent index) and that one
// image is placed on the logical screen, transparent around it. Interlaced rows are put
// back in order. The logical screen is limited like any image; a first image reaching
// past it is clipped.
#include <cstring>
#include <vector>

#include <gif_lib.h>

#include "convert/core/errors.h"
#include "platform/imaging/codecs/codec_support.h"

namespace imaging {
namespace {

constexpr int kNoTransparency = -1;

struct MemoryReader {
    std::string_view bytes;
    size_t position = 0;
};

int ReadFromMemory(GifFileType* gif, GifByteType* out, int length) {
    auto* reader = static_cast<MemoryReader*>(gif->UserData);
    size_t count = std::min<size_t>(static_cast<size_t>(length), reader->bytes.size() - reader->position);
    std::memcpy(out, reader->bytes.data() + reader->position, count);
    reader->position += count;
    return static_cast<int>(count);
}

struct GifCloser {
    GifFileType* gif;
    ~GifCloser() {
        int error = 0;
        if (gif) DGifCloseFile(gif, &error);
    }
};

}  // namespace

DecodedFrame DecodeGif(std::string_view bytes, const DecodeOptions& options) {
    MemoryReader reader{bytes};
    int error = 0;
    GifCloser file{DGifOpen(&reader, ReadFromMemory, &error)};
    GifFileType* gif = file.gif;
    if (!gif) ThrowDamaged();
    int transparent = kNoTransparency;
    for (;;) {
        GifRecordType record;
        if (DGifGetRecordType(gif, &record) != GIF_OK) ThrowDamaged();
        if (record == TERMINATE_RECORD_TYPE) throw ConvertError("This image has no readable frames");
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif, &code, &block) != GIF_OK) ThrowDamaged();
            if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
                GraphicsControlBlock control;
                if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) transparent = control.TransparentColor;
            }
            while (block) {
                if (DGifGetExtensionNext(gif, &block) != GIF_OK) ThrowDamaged();
            }
            continue;
        }
        if (record != IMAGE_DESC_RECORD_TYPE) continue;
        if (DGifGetImageDesc(gif) != GIF_OK) ThrowDamaged();
        const GifImageDesc& image = gif->Image;
        ColorMapObject* colors = image.ColorMap ? image.ColorMap : gif->SColorMap;
        if (!colors || image.Width <= 0 || image.Height <= 0) ThrowDamaged();
        // A logical screen of 0 (seen in the wild) means the image's own size.
        uint32_t width = gif->SWidth > 0 ? static_cast<uint32_t>(gif->SWidth) : static_cast<uint32_t>(image.Width);
        uint32_t height = gif->SHeight > 0 ? static_cast<uint32_t>(gif->SHeight) : static_cast<uint32_t>(image.Height);
        CheckImageHeader(width, height, 1, options);
        CheckImageHeader(static_cast<uint64_t>(image.Width), static_cast<uint64_t>(image.Height), 1, options);
        auto bitmap = std::make_shared<Bitmap>(width, height, PixelFormat::kIndexed8);
        std::vector<uint32_t> palette(256, 0);
        for (int i = 0; i < colors->ColorCount && i < 256; ++i) {
            const GifColorType& c = colors->Colors[i];
            palette[static_cast<size_t>(i)] = 0xFF000000u | (uint32_t(c.Red) << 16) | (uint32_t(c.Green) << 8) | c.Blue;
        }
        // The area outside the image is transparent: the transparent index when there is
        // one, else an entry of our own past the image's colours.
        uint8_t background;
        if (transparent >= 0 && transparent < 256) {
            palette[static_cast<size_t>(transparent)] = 0;
            background = static_cast<uint8_t>(transparent);
        } else {
            background = colors->ColorCount < 256 ? static_cast<uint8_t>(colors->ColorCount) : 0;
            if (colors->ColorCount < 256) palette[background] = 0;
        }
        std::fill(bitmap->Pixels().begin(), bitmap->Pixels().end(), background);
        bitmap->SetPalette(std::move(palette));
        std::vector<GifPixelType> line(static_cast<size_t>(image.Width));
        std::vector<int> order;
        if (image.Interlace) {
            for (int start : {0, 4, 2, 1})
                for (int y = start; y < image.Height; y += start == 0 ? 8 : start == 4 ? 8 : start == 2 ? 4 : 2)
                    order.push_back(y);
        } else {
            for (int y = 0; y < image.Height; ++y) order.push_back(y);
        }
        for (int y : order) {
            if (DGifGetLine(gif, line.data(), image.Width) != GIF_OK) ThrowDamaged();
            int64_t row = static_cast<int64_t>(image.Top) + y;
            if (row < 0 || row >= static_cast<int64_t>(height)) continue;
            uint8_t* target = bitmap->Row(static_cast<uint32_t>(row));
            for (int x = 0; x < image.Width; ++x) {
                int64_t column = static_cast<int64_t>(image.Left) + x;
                if (column >= 0 && column < static_cast<int64_t>(width)) target[column] = line[static_cast<size_t>(x)];
            }
        }
        return {bitmap, 1};
    }
}

}  // namespace imaging
