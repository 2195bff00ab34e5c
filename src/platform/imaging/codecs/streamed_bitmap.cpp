#include "platform/imaging/codecs/streamed_bitmap.h"

#include <system_error>

namespace imaging {

StreamedBitmap::StreamedBitmap(std::shared_ptr<Bitmap> bitmap, Work work, bool background) : bitmap_(std::move(bitmap)) {
    auto run = [this, work = std::move(work)] {
        bool ok = false;
        try {
            ok = work(*bitmap_, *this);
        } catch (...) {  // an allocation inside a library: the reads fail like damaged data
        }
        Finish(ok);
    };
    if (!background) {
        run();
        return;
    }
    try {
        thread_ = std::thread(run);
    } catch (const std::system_error&) {
        run();  // no thread to be had: decode here, before the first read
    }
}

bool StreamedBitmap::Failed() {
    std::lock_guard lock(mutex_);
    return failed_;
}

StreamedBitmap::~StreamedBitmap() {
    stop_.store(true, std::memory_order_relaxed);
    if (thread_.joinable()) thread_.join();
}

void StreamedBitmap::Publish(uint32_t rowsDone) {
    {
        std::lock_guard lock(mutex_);
        ready_ = rowsDone;
    }
    changed_.notify_all();
}

void StreamedBitmap::Finish(bool ok) {
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
        failed_ = !ok;
        if (ok) ready_ = bitmap_->Height();
    }
    changed_.notify_all();
}

bool StreamedBitmap::WaitFor(uint32_t rows) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return failed_ || ready_ >= rows || finished_; });
    return !failed_ && ready_ >= rows;
}

HRESULT StreamedBitmap::CopyPixels(const Rect* rect, uint32_t stride, size_t bufferSize, uint8_t* buffer) {
    Rect r;
    if (HRESULT status = CheckCopy(*this, rect, stride, bufferSize, r); status != S_OK) return status;
    if (r.width < 1 || r.height < 1) return S_OK;
    if (!WaitFor(static_cast<uint32_t>(r.y + r.height))) return kBadImage;
    return bitmap_->CopyPixels(&r, stride, bufferSize, buffer);
}

Bitmap* StreamedBitmap::AsBitmap() { return WaitFor(bitmap_->Height()) ? bitmap_.get() : nullptr; }

}  // namespace imaging
