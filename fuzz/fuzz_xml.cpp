// Fuzzes the tag scanner and every office reader's tag handler on raw XML: whatever the
// bytes, scanning must end without a crash, and the readers' blocks must keep the
// model's rules (heading levels 0 to 3, valid text).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "convert/core/errors.h"
#include "convert/core/text.h"
#include "convert/documents/office_parts.h"
#include "convert/documents/xml.h"

namespace {

class EveryTag : public XmlHandler {
public:
    explicit EveryTag(TextSink& sink) : sink_(sink) {}
    void OnTag(std::string_view name, std::string_view tag, bool closing, bool selfClosing) override {
        // The name always lies inside the tag text.
        if (name.size() > tag.size()) __builtin_trap();
        GetAttribute(tag, "w:val");
        if (!selfClosing) sink_.collecting = !closing;
    }

private:
    TextSink& sink_;
};

void CheckBlocks(const Document& document) {
    for (const Block& block : document.blocks) {
        if (block.level < 0 || block.level > 3) __builtin_trap();
        // Text converted from what the scanner collected must survive a round trip.
        if (Utf8ToWide(WideToUtf8(block.text)) != block.text) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view xml(reinterpret_cast<const char*>(data), size);
    try {
        TextSink sink;
        EveryTag handler(sink);
        ScanXml(xml, handler, sink);
        std::string decoded;
        DecodeEntities(xml, decoded);
        EscapeXml(Utf8ToWide(xml));

        Document word;
        ReadWordBody(xml, word);
        CheckBlocks(word);
        Document open;
        ReadOpenDocumentContent(xml, open);
        CheckBlocks(open);
        Document slides;
        ReadSlide(xml, 0, slides);
        ReadSlide(xml, 1, slides);
        CheckBlocks(slides);
        if (slides.blocks.empty()) __builtin_trap();  // every slide gives at least its heading
        ListSlides(xml, xml);
    } catch (const ConvertError&) {
    } catch (const Cancelled&) {
    }
    return 0;
}
