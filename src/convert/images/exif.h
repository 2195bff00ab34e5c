// EXIF orientation: the value of tag 0x0112 in IFD0 of an EXIF (TIFF-structured) block,
// and the search for that block inside JPEG, TIFF, PNG and WebP files.
#pragma once

#include <string_view>

namespace images {

// 1 to 8; 1 when the tag is absent, not a 16-bit value, out of range, or the block is
// malformed. Never throws.
int ExifOrientation(std::string_view tiffBlock);

// The orientation of a JPEG (APP1 "Exif"), TIFF (the file itself), PNG (eXIf chunk) or
// WebP (RIFF "EXIF" chunk) file; 1 for other files and when nothing is found.
int FileExifOrientation(std::string_view file);

}  // namespace images
