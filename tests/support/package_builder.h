// Tiny ZIP packages (EPUB, XLSX, ODS) built from named parts for reader tests.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "convert/documents/zip.h"

namespace testing_support {

using PackageParts = std::vector<std::pair<std::string, std::string>>;

// Writes the parts, in order and stored, as a ZIP file at `path`.
void WritePackage(const std::string& path, const PackageParts& parts);
// The same package, opened from memory.
ZipArchive PackageArchive(const PackageParts& parts);

}  // namespace testing_support
