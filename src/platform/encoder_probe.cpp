#include "platform/encoder_probe.h"

extern "C" {
#include <libavcodec/avcodec.h>
}
#include <libheif/heif.h>

CapabilityFlags ProbeEncoders() {
    CapabilityFlags flags;
    flags.flacEncoder = avcodec_find_encoder(AV_CODEC_ID_FLAC) != nullptr;
    flags.alacEncoder = avcodec_find_encoder(AV_CODEC_ID_ALAC) != nullptr;
    // Video is encoded in software with x265 (hardware encoders are an extra, not a given).
    flags.hevcEncoder = avcodec_find_encoder_by_name("libx265") != nullptr;
    flags.heifEncoder = flags.hevcEncoder && heif_have_encoder_for_format(heif_compression_HEVC) != 0;
    return flags;
}
