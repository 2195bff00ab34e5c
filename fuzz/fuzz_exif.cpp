// Fuzz harness for the EXIF orientation reader, alone and inside each container it searches.
#include <string>

#include "convert/images/exif.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string prefixes[] = {"", "\xFF\xD8", std::string("\x89PNG\r\n\x1a\n", 8), "RIFF\0\0\0\0WEBP"};
    for (const std::string& prefix : prefixes) {
        int orientation = images::FileExifOrientation(prefix + bytes);
        if (orientation < 1 || orientation > 8) __builtin_trap();
    }
    int orientation = images::ExifOrientation(bytes);
    if (orientation < 1 || orientation > 8) __builtin_trap();
    return 0;
}
