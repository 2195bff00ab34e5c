// A bitmap whose rows a background thread decodes while the encoder already reads the
// first ones: decoding and encoding overlap on two cores instead of taking turns. A read
// waits for its rows; damaged data found later makes the reads fail with kBadImage.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/imaging/bitmap_source.h"

namespace imaging {

class StreamedBitmap final : public BitmapSource {
public:
    // `work` fills the bitmap's rows top-down, calling Publish as rows are complete and
    // stopping early when StopRequested; it returns false for damaged data. Without
    // `background` it runs to the end here, in the constructor.
    using Work = std::function<bool(Bitmap& bitmap, StreamedBitmap& progress)>;
    StreamedBitmap(std::shared_ptr<Bitmap> bitmap, Work work, bool background);
    ~StreamedBitmap() override;

    void Publish(uint32_t rowsDone);
    bool StopRequested() const { return stop_.load(std::memory_order_relaxed); }
    // Whether the decode has already failed (always known after a decode in the constructor).
    bool Failed();

    uint32_t Width() const override { return bitmap_->Width(); }
    uint32_t Height() const override { return bitmap_->Height(); }
    Resolution GetResolution() const override { return bitmap_->GetResolution(); }
    PixelFormat Format() const override { return bitmap_->Format(); }
    HRESULT CopyPalette(std::vector<uint32_t>& palette) const override { return bitmap_->CopyPalette(palette); }
    HRESULT CopyPixels(const Rect* rect, uint32_t stride, size_t bufferSize, uint8_t* buffer) override;
    Bitmap* AsBitmap() override;

private:
    // True when the first `rows` rows are there; false when the decode failed.
    bool WaitFor(uint32_t rows);
    void Finish(bool ok);

    std::shared_ptr<Bitmap> bitmap_;
    std::mutex mutex_;
    std::condition_variable changed_;
    uint32_t ready_ = 0;
    bool finished_ = false, failed_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace imaging
