// Writes a small PDF through WritePdf after taking on the user's locale the way a
// desktop program does (setlocale(LC_ALL, "")), so a test can run it under chosen
// LC_* variables: the page size must follow the locale, the numbers in the file must not.
#include <clocale>
#include <cstdio>

#include "convert/core/errors.h"
#include "convert/documents/writers.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pdf_locale_writer <output.pdf>\n");
        return 2;
    }
    std::setlocale(LC_ALL, "");
    Document document;
    document.blocks.push_back(Block{u"Heading", 1, false, false});
    document.blocks.push_back(Block{u"Body text 1.5", 0, false, false});
    ConvertContext context;
    try {
        WritePdf(document, argv[1], context);
    } catch (const ConvertError& error) {
        std::fprintf(stderr, "%s\n", error.message.c_str());
        return 1;
    }
    return 0;
}
