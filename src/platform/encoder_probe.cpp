#include "platform/encoder_probe.h"

#include <dlfcn.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/version.h>
}
#include <libheif/heif.h>

#include <string>

// The media and image libraries are opened only for this probe, not linked into the
// program: a worker converting a document then starts without loading them, which
// keeps every job's start-up fast.

namespace {

#define QUILL_STRINGIFY_INNER(x) #x
#define QUILL_STRINGIFY(x) QUILL_STRINGIFY_INNER(x)

constexpr const char* kAvcodecLibrary = "libavcodec.so." QUILL_STRINGIFY(LIBAVCODEC_VERSION_MAJOR);
constexpr const char* kHeifLibrary = "libheif.so.1";

class Library {
public:
    explicit Library(const char* name) : handle_(::dlopen(name, RTLD_LAZY | RTLD_LOCAL)) {}
    ~Library() {
        if (handle_) ::dlclose(handle_);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    template <typename Function>
    Function* Find(const char* symbol) const {
        return handle_ ? reinterpret_cast<Function*>(::dlsym(handle_, symbol)) : nullptr;
    }

private:
    void* handle_;
};

}  // namespace

CapabilityFlags ProbeEncoders() {
    CapabilityFlags flags;
    Library avcodec(kAvcodecLibrary);
    auto findEncoder = avcodec.Find<decltype(avcodec_find_encoder)>("avcodec_find_encoder");
    auto findEncoderByName = avcodec.Find<decltype(avcodec_find_encoder_by_name)>("avcodec_find_encoder_by_name");
    if (findEncoder && findEncoderByName) {
        flags.flacEncoder = findEncoder(AV_CODEC_ID_FLAC) != nullptr;
        flags.alacEncoder = findEncoder(AV_CODEC_ID_ALAC) != nullptr;
        // Video is encoded in software with x265 (hardware encoders are an extra, not a given).
        flags.hevcEncoder = findEncoderByName("libx265") != nullptr;
    }
    if (flags.hevcEncoder) {
        Library heif(kHeifLibrary);
        auto haveEncoder = heif.Find<decltype(heif_have_encoder_for_format)>("heif_have_encoder_for_format");
        flags.heifEncoder = haveEncoder && haveEncoder(heif_compression_HEVC) != 0;
    }
    return flags;
}
