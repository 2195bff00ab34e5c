#include "platform/imaging/codecs/codec_support.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include <cairo.h>
#include <gio/gio.h>
#include <librsvg/rsvg.h>

#include "convert/core/errors.h"
#include "convert/images/pixel_buffer.h"

namespace imaging {
namespace {

constexpr float kFallbackSide = 512.0f;    // a drawing that states no size at all
constexpr uint64_t kSurfaceWorkingBytes = 8;  // the cairo surface and the converted copy, per pixel

void IgnoreLog(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

struct Handle {
    GInputStream* stream = nullptr;
    RsvgHandle* handle = nullptr;
    GError* error = nullptr;
    cairo_surface_t* surface = nullptr;
    cairo_t* cairo = nullptr;
    ~Handle() {
        if (cairo) cairo_destroy(cairo);
        if (surface) cairo_surface_destroy(surface);
        if (error) g_error_free(error);
        if (handle) g_object_unref(handle);
        if (stream) g_object_unref(stream);
    }
};

// Parses the document from memory with no base file, so every reference to another
// file or a URL has nothing to resolve against and is refused.
void Open(Handle& h, std::string_view document) {
    static std::once_flag once;
    std::call_once(once, [] { g_log_set_default_handler(IgnoreLog, nullptr); });
    h.stream = g_memory_input_stream_new_from_data(document.data(), static_cast<gssize>(document.size()), nullptr);
    if (!h.stream) throw std::bad_alloc();
    h.handle = rsvg_handle_new_from_stream_sync(h.stream, nullptr, RSVG_HANDLE_FLAGS_NONE, nullptr, &h.error);
    if (!h.handle) throw ConvertError("This SVG couldn't be read");
}

bool PlainLength(const RsvgLength& length) { return length.unit == RSVG_UNIT_PX && length.length > 0; }

SvgSize IntrinsicOf(RsvgHandle* handle) {
    gboolean hasWidth = FALSE, hasHeight = FALSE, hasViewBox = FALSE;
    RsvgLength width{}, height{};
    RsvgRectangle viewBox{};
    rsvg_handle_get_intrinsic_dimensions(handle, &hasWidth, &width, &hasHeight, &height, &hasViewBox, &viewBox);
    if (hasWidth && hasHeight && PlainLength(width) && PlainLength(height))
        return {static_cast<float>(width.length), static_cast<float>(height.length)};
    if (hasViewBox && viewBox.width > 0 && viewBox.height > 0)
        return {static_cast<float>(viewBox.width), static_cast<float>(viewBox.height)};
    return {kFallbackSide, kFallbackSide};
}

}  // namespace

SvgSize SvgDocumentSize(std::string_view document) {
    Handle h;
    Open(h, document);
    return IntrinsicOf(h.handle);
}

SourcePtr RenderSvgDocument(std::string_view document, uint64_t memoryBudget) {
    Handle h;
    Open(h, document);
    SvgSize intrinsic = IntrinsicOf(h.handle);
    if (!(intrinsic.width > 0) || !(intrinsic.height > 0) || !std::isfinite(intrinsic.width) ||
        !std::isfinite(intrinsic.height))
        throw ConvertError("This SVG couldn't be read");
    uint32_t width = 0, height = 0;
    double scale = 1;
    SvgRenderedSize(intrinsic, width, height, scale);
    if (memoryBudget != 0 && static_cast<uint64_t>(width) * height * kSurfaceWorkingBytes > memoryBudget)
        throw ConvertError("Needed more memory than the RAM limit in Settings allows");
    h.surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(width), static_cast<int>(height));
    if (cairo_surface_status(h.surface) != CAIRO_STATUS_SUCCESS) throw ConvertError("Not enough memory for this SVG");
    h.cairo = cairo_create(h.surface);
    if (cairo_status(h.cairo) != CAIRO_STATUS_SUCCESS) throw ConvertError("Not enough memory for this SVG");
    cairo_scale(h.cairo, scale, scale);
    RsvgRectangle viewport{0, 0, intrinsic.width, intrinsic.height};
    if (!rsvg_handle_render_document(h.handle, h.cairo, &viewport, &h.error) ||
        cairo_status(h.cairo) != CAIRO_STATUS_SUCCESS)
        throw ConvertError("Couldn't draw the SVG");
    cairo_surface_flush(h.surface);
    // cairo's ARGB32 is premultiplied and native-endian: B, G, R, A in memory here.
    auto bitmap = std::make_shared<Bitmap>(width, height, PixelFormat::kPbgra32);
    const uint8_t* data = cairo_image_surface_get_data(h.surface);
    int stride = cairo_image_surface_get_stride(h.surface);
    for (uint32_t y = 0; y < height; ++y)
        std::memcpy(bitmap->Row(y), data + static_cast<size_t>(y) * static_cast<size_t>(stride), bitmap->Stride());
    return bitmap;
}

}  // namespace imaging
