// The reader for "html", "htm", "xhtml", "epub" and "ods": EPUB books and OpenDocument
// spreadsheets share the web extensions' entry in the reader table, so the extension
// decides here.
#include "convert/documents/readers.h"

Document ReadWeb(const std::string& path, const std::string& extension) {
    if (extension == "epub") return ReadEpub(path);
    if (extension == "ods") return ReadOds(path);
    return ReadHtml(path);
}
