// RTF documents: our RTF reader gives the plain text; each paragraph becomes a body
// block, with soft line breaks as line feeds. Limit: 256 MiB of RTF.
#include "convert/core/text.h"
#include "convert/documents/document_files.h"
#include "convert/documents/reader_internals.h"
#include "convert/documents/readers.h"
#include "platform/rtf_text.h"

Document ReadRtfBytes(std::string_view rtf) {
    std::u16string text = RtfToPlainText(rtf);
    Document document;
    for (auto& piece : Split<char16_t>(text, u'\r')) {
        for (char16_t& c : piece)
            if (c == 0x000B) c = u'\n';
        Block block;
        block.text = std::move(piece);
        document.blocks.push_back(std::move(block));
    }
    return document;
}

Document ReadRtf(const std::string& path) { return ReadRtfBytes(ReadWholeFile(path, kRtfFileLimit)); }
