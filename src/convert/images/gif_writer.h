// Our GIF encoder: each frame gets its own palette of up to 256 colours chosen from its
// pixels (exact when it has that few, otherwise a variance-splitting median cut refined
// by k-means, with Floyd-Steinberg dithering), a transparent entry when some pixel's
// alpha is below 128, and LZW-coded indices.
#pragma once

#include <cstdint>
#include <string>

#include "convert/images/pixel_buffer.h"

namespace images {

// One still image. Throws ConvertError like GifWriter.
std::string EncodeGif(const PixelBuffer& pixels);

// An animation built one frame at a time, so that only the current frame and the file so
// far are held. Every frame covers the whole canvas and stays in place until the next
// (frames with transparency are cleared first, so nothing of the last one shows through).
class GifWriter {
public:
    // `loop`: add the NETSCAPE2.0 block that repeats the animation forever. Throws
    // ConvertError "This image reports an impossible size" for a side outside 1..65535.
    GifWriter(uint32_t width, uint32_t height, bool loop);
    // Throws ConvertError "Couldn't add a GIF frame" when the frame's size differs from
    // the canvas or the writer is finished.
    void AddFrame(const PixelBuffer& frame, uint16_t delayCentiseconds);
    // The whole file. Throws ConvertError "Couldn't finish the GIF" without frames.
    std::string Finish();
    size_t FrameCount() const { return frames_; }

private:
    uint32_t width_, height_;
    std::string out_;
    size_t frames_ = 0;
    bool finished_ = false;
};

}  // namespace images
