// PowerPoint presentations (pptx): the slide order comes from "ppt/presentation.xml" and
// its relationships, falling back to the numbered slide parts; each slide is scanned with
// the forgiving tag scanner. Each slide opens with a level-2 heading (its first non-blank
// paragraph, normally the title, or "Slide N" when it has no text) after a slide boundary;
// its other paragraphs follow as body blocks. Dropped: notes, layouts, masters, images,
// formatting and the fallback copies that newer producers add for older readers.
// Limits: none of its own; the package and each part are bounded by the ZIP reader, and
// probing stops at the first missing number (so at most as many steps as entries).
#include <map>
#include <set>
#include <unordered_set>

#include "convert/core/errors.h"
#include "convert/core/text.h"
#include "convert/documents/office_parts.h"
#include "convert/documents/readers.h"
#include "convert/documents/zip.h"

namespace {

constexpr std::string_view kPresentationPart = "ppt/presentation.xml";
constexpr std::string_view kRelationshipsPart = "ppt/_rels/presentation.xml.rels";
constexpr std::string_view kSlidesFolder = "ppt/";  // relationship targets are relative to it
constexpr std::string_view kNumberedSlidePrefix = "ppt/slides/slide";  // then N and ".xml"

bool IsBlank(std::string_view text) {
    return text.find_first_not_of(" \t\r\n") == text.npos;
}

class SlideHandler : public XmlHandler {
public:
    SlideHandler(Document& document, TextSink& sink, size_t slideIndex)
        : document_(document), sink_(sink), slideIndex_(slideIndex) {}

    void OnTag(std::string_view name, std::string_view, bool closing, bool selfClosing) override {
        if (fallback_.Skips(name, closing, selfClosing, sink_)) return;
        if (name == "a:t") {
            if (!selfClosing) sink_.collecting = !closing;
        } else if (name == "a:br") {
            if (!closing) sink_.out.push_back('\n');
        } else if (name == "a:p") {
            if (closing || selfClosing) EndParagraph();
        }
    }

    bool FoundText() const { return !firstParagraph_; }

private:
    void EndParagraph() {
        if (IsBlank(sink_.out)) {
            sink_.out.clear();
            return;
        }
        PendingBlock pending;
        if (firstParagraph_) {
            pending.level = 2;
            pending.breakBefore = slideIndex_ > 0;
        }
        firstParagraph_ = false;
        FinishSinkBlock(document_, pending, sink_);
    }

    Document& document_;
    TextSink& sink_;
    size_t slideIndex_;
    bool firstParagraph_ = true;
    FallbackSkipper fallback_;
};

// Relationship ids to package paths.
class RelationshipsHandler : public XmlHandler {
public:
    void OnTag(std::string_view name, std::string_view tag, bool closing, bool) override {
        if (closing || name != "Relationship") return;
        std::string_view target = GetAttribute(tag, "Target");
        std::string path;
        if (target.starts_with('/')) {
            path = target.substr(1);
        } else {
            path = kSlidesFolder;
            path.append(target);
        }
        targets.emplace(std::string(GetAttribute(tag, "Id")), std::move(path));  // the first id wins
    }
    std::map<std::string, std::string, std::less<>> targets;
};

class PresentationHandler : public XmlHandler {
public:
    explicit PresentationHandler(const std::map<std::string, std::string, std::less<>>& targets) : targets_(targets) {}
    void OnTag(std::string_view name, std::string_view tag, bool closing, bool) override {
        if (closing || name != "p:sldId") return;
        auto found = targets_.find(GetAttribute(tag, "r:id"));
        if (found == targets_.end()) return;
        // A slide part is listed once in a sound file. Listed again, it would be read
        // again: a tiny package could repeat one large slide millions of times.
        if (!listed_.insert(found->second).second) return;
        slides.push_back(found->second);
    }
    std::vector<std::string> slides;

private:
    std::set<std::string_view> listed_;
    const std::map<std::string, std::string, std::less<>>& targets_;
};

}  // namespace

void ReadSlide(std::string_view xml, size_t slideIndex, Document& document) {
    TextSink sink;
    SlideHandler handler(document, sink, slideIndex);
    ScanXml(xml, handler, sink);
    if (handler.FoundText()) return;
    PendingBlock title;
    title.text = FormatText("Slide %zu", slideIndex + 1);
    title.level = 2;
    title.breakBefore = slideIndex > 0;
    FinishBlock(document, title);
}

std::vector<std::string> ListSlides(std::string_view presentationXml, std::string_view relationshipsXml) {
    TextSink ignored;
    RelationshipsHandler relationships;
    ScanXml(relationshipsXml, relationships, ignored);
    PresentationHandler presentation(relationships.targets);
    ScanXml(presentationXml, presentation, ignored);
    return std::move(presentation.slides);
}

Document ReadPowerPointPackage(const ZipArchive& archive) {
    std::vector<std::string> slides;
    std::string presentation;
    if (ReadEntry(archive, kPresentationPart, presentation)) {
        std::string relationships;
        if (!ReadEntry(archive, kRelationshipsPart, relationships)) relationships.clear();
        slides = ListSlides(presentation, relationships);
    }
    // No presentation part, or none of its slides resolvable: the numbered parts in
    // order, up to the first missing number.
    if (slides.empty()) {
        for (size_t number = 1;; ++number) {
            std::string name = std::string(kNumberedSlidePrefix) + std::to_string(number) + ".xml";
            if (!HasEntry(archive, name)) break;
            slides.push_back(std::move(name));
        }
    }
    if (slides.empty()) throw ConvertError("This presentation has no slides");

    Document document;
    std::string xml;
    for (size_t index = 0; index < slides.size(); ++index) {
        // An unreadable slide is skipped; its number stays used, so later "Slide N" match.
        if (!ReadEntry(archive, slides[index], xml)) continue;
        ReadSlide(xml, index, document);
    }
    return document;
}

Document ReadPowerPoint(const std::string& path) { return ReadPowerPointPackage(OpenZip(path)); }
