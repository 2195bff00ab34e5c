// Fuzzes the tag scanner, entity decoding and attribute lookup through the office readers'
// tag handlers, and escaping, on raw XML. Heading levels must stay within 0 to 3.
#include <cstddef>
#include <cstdint>
#include <string>

#include "convert/core/errors.h"
#include "convert/core/text.h"
#include "convert/documents/office_parts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view xml(reinterpret_cast<const char*>(data), size);
    try {
        Document document;
        ReadWordBody(xml, document);
        ReadOpenDocumentContent(xml, document);
        ReadSlide(xml, 1, document);
        for (const Block& block : document.blocks)
            if (block.level < 0 || block.level > 3) __builtin_trap();
        ListSlides(xml, xml);
        std::string decoded;
        DecodeEntities(xml, decoded);
        EscapeXml(Utf8ToWide(xml));
    } catch (const ConvertError&) {
    } catch (const Cancelled&) {
    }
    return 0;
}
