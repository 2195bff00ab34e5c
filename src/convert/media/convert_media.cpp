#include "convert/core/converters.h"
#include "convert/core/errors.h"

// Audio and video conversion has not landed in this build yet.
std::string ConvertMedia(const std::string&, const Target&, ConvertContext&) {
    throw ConvertError("Audio and video conversion isn't available in this version yet");
}
