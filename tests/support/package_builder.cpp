#include "support/package_builder.h"

#include "support/test_support.h"

namespace testing_support {

void WritePackage(const std::string& path, const PackageParts& parts) {
    ZipWriter writer;
    for (const auto& [name, bytes] : parts) AddEntry(writer, name, bytes);
    FinishZip(writer, path);
}

ZipArchive PackageArchive(const PackageParts& parts) {
    TempDir dir;
    WritePackage(dir.File("package.zip"), parts);
    return OpenZipBytes(ReadFile(dir.File("package.zip")));
}

}  // namespace testing_support
