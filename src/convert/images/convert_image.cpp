#include "convert/core/converters.h"
#include "convert/core/errors.h"

// The image pipeline has not landed in this build; say so plainly rather than
// producing something that only looks like an output.
std::string ConvertImage(const std::string&, const Target&, ConvertContext&) {
    throw ConvertError("Image conversion isn't available in this version yet");
}
