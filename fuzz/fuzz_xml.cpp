// Fuzzes the tag scanner, entity decoding, escaping and every office reader's tag
// handler on raw XML. Heading levels must stay within 0 to 3.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "convert/core/errors.h"
#include "convert/core/text.h"
#include "convert/documents/office_parts.h"
#include "convert/documents/xml.h"

namespace {

struct EveryTag : XmlHandler {
    TextSink* sink = nullptr;
    void OnTag(std::string_view, std::string_view tag, bool closing, bool selfClosing) override {
        GetAttribute(tag, "w:val");
        if (!selfClosing) sink->collecting = !closing;
    }
};

void Check(const Document& document) {
    for (const Block& block : document.blocks)
        if (block.level < 0 || block.level > 3) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view xml(reinterpret_cast<const char*>(data), size);
    try {
        TextSink sink;
        EveryTag handler;
        handler.sink = &sink;
        ScanXml(xml, handler, sink);
        std::string decoded;
        DecodeEntities(xml, decoded);
        EscapeXml(Utf8ToWide(xml));
        Document word, open, slides;
        ReadWordBody(xml, word);
        ReadOpenDocumentContent(xml, open);
        ReadSlide(xml, 0, slides);
        Check(word), Check(open), Check(slides);
        ListSlides(xml, xml);
    } catch (const ConvertError&) {
    } catch (const Cancelled&) {
    }
    return 0;
}
