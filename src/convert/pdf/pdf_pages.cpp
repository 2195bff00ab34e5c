#include "convert/core/converters.h"
#include "convert/core/errors.h"

// Rendering PDF pages has not landed in this build yet.
std::vector<std::string> ConvertPdfPages(const std::string&, const Target&, ConvertContext&) {
    throw ConvertError("Turning PDF pages into images isn't available in this version yet");
}
