// Writes a small PDF through WritePdf after taking on the user's locale as a desktop program
// does (setlocale(LC_ALL, "")), so that a test can run it under chosen LC_* variables: the
// page size must follow the locale, the numbers in the file must not.
#include <clocale>
#include <cstdio>

#include "convert/core/errors.h"
#include "convert/core/output_file.h"
#include "convert/core/paths.h"
#include "convert/documents/writers.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    std::setlocale(LC_ALL, "");
    ConvertContext context;
    try {
        std::string path = argv[1];
        PublishOutput(FolderOf(path), StemOf(path), ExtensionOf(path),
                      WritePdf(Document{u"", {{u"Heading", 1}, {u"Body text 1.5"}}, {}}, context));
    } catch (const ConvertError& error) {
        std::fprintf(stderr, "%s\n", error.message.c_str());
        return 1;
    }
}
