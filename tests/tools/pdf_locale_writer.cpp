// Writes a small PDF through WritePdf after taking on the user's locale as a desktop program
// does (setlocale(LC_ALL, "")), so that a test can run it under chosen LC_* variables: the
// page size must follow the locale, the numbers in the file must not.
#include <clocale>
#include <cstdio>

#include "convert/core/errors.h"
#include "convert/documents/writers.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    std::setlocale(LC_ALL, "");
    ConvertContext context;
    try {
        WritePdf(Document{u"", {{u"Heading", 1}, {u"Body text 1.5"}}, {}}, argv[1], context);
    } catch (const ConvertError& error) {
        std::fprintf(stderr, "%s\n", error.message.c_str());
        return 1;
    }
}
