// RTF to plain text. One pass over the bytes with an explicit group stack (no
// recursion), so neither deep nesting nor long files can exhaust the call stack.
#include "platform/rtf_text.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

#include "convert/core/errors.h"
#include "platform/code_pages.h"

namespace {

constexpr size_t kMaxGroupDepth = 10000;      // real documents nest a few dozen deep
constexpr int64_t kMaxParameter = 0x7fffffff;  // control word parameters are 32-bit
constexpr size_t kMaxParameterDigits = 11;    // more digits than any 32-bit value needs
constexpr char16_t kLineBreak = 0x000B;       // the soft line break of rich text
constexpr char16_t kParagraphMark = u'\r';

[[noreturn]] void Damaged() { throw ConvertError("This RTF file is damaged"); }

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Destinations whose content never reaches the text.
constexpr std::string_view kSkippedDestinations[] = {
    "colortbl",  "stylesheet", "info",      "pict",       "header",        "headerl",    "headerr",
    "headerf",   "footer",     "footerl",   "footerr",    "footerf",       "footnote",   "fldinst",
    "listtable", "listoverridetable",       "rsidtbl",    "revtbl",        "filetbl",    "xmlnstbl",
    "themedata", "colorschememapping",      "latentstyles", "datastore",   "generator",  "objdata",
    "objclass",  "objname",    "annotation", "atnid",     "atnauthor",     "atndate",    "atnref",
    "atnicn",    "atrfstart",  "atrfend",   "bkmkstart",  "bkmkend",       "nonesttables", "ftnsep",
    "ftnsepc",   "ftncn",      "aftnsep",   "aftnsepc",   "aftncn",        "template",   "xe",
    "tc",        "tcn",        "txe",       "rxe",        "private",       "pn",         "fldtype",
    "datafield", "formfield",  "docvar",    "userprops",  "pgdsctbl",      "protusertbl", "mmathPr",
    "passwordhash", "wgrffmtfilter",        "nextfile",   "blipuid",       "operator",   "comment",
    "title",     "subject",    "author",    "keywords",   "doccomm",       "company",    "category",
    "manager",   "hlinkbase",  "buptim",    "creatim",    "revtim",        "printim",
};

bool IsSkippedDestination(std::string_view word) {
    return std::find(std::begin(kSkippedDestinations), std::end(kSkippedDestinations), word) !=
           std::end(kSkippedDestinations);
}

struct Symbol {
    std::string_view word;
    char16_t character;
};

constexpr Symbol kSymbols[] = {
    {"tab", u'\t'},        {"line", kLineBreak},  {"softline", kLineBreak}, {"lbr", kLineBreak},
    {"bullet", 0x2022},    {"emdash", 0x2014},    {"endash", 0x2013},       {"lquote", 0x2018},
    {"rquote", 0x2019},    {"ldblquote", 0x201C}, {"rdblquote", 0x201D},    {"emspace", 0x2003},
    {"enspace", 0x2002},   {"qmspace", 0x2005},   {"zwj", 0x200D},          {"zwnj", 0x200C},
    {"ltrmark", 0x200E},   {"rtlmark", 0x200F},   {"zwbo", 0x200B},
};

// Upr holds an 8-bit copy of its text and a Unicode one in \ud: only the latter is read.
enum class Destination : uint8_t { Text, FontTable, Skip, Upr };

struct Group {
    Destination destination = Destination::Text;
    bool inTable = false;  // paragraph is inside a table cell (\intbl)
    int32_t unicodeSkip = 1;  // \ucN: fallback characters after each \uN
    int32_t font = -1;        // -1: the default font
};

struct FontInfo {
    uint32_t charsetCodePage = 0;  // from \fcharset, 0 when it names none
    uint32_t codePage = 0;         // from \cpg
};

class RtfReader {
public:
    explicit RtfReader(std::string_view rtf) : rtf_(rtf) {}

    std::u16string Run() {
        if (rtf_.substr(0, 5) != "{\\rtf") Damaged();
        while (position_ < rtf_.size()) {
            char c = rtf_[position_++];
            if (c == '{') {
                OpenGroup();
            } else if (c == '}') {
                if (!CloseGroup()) break;  // the document's outer group has ended
            } else if (c == '\\') {
                ControlSequence();
            } else if (c == '\r' || c == '\n' || c == '\0') {
                // line ends in the file are formatting, not text
            } else {
                if (ConsumeFallback()) continue;
                if (Top().destination == Destination::FontTable) continue;
                if (Top().destination != Destination::Text) continue;
                if (c == '\t') {
                    EmitChar(u'\t');
                } else if (static_cast<unsigned char>(c) >= 0x80) {
                    EmitByte(static_cast<unsigned char>(c));  // stray 8-bit text: the current code page
                } else {
                    EmitChar(static_cast<char16_t>(c));
                }
            }
        }
        if (!groups_.empty()) Damaged();
        FlushBytes();
        if (!text_.empty() && text_.back() == kParagraphMark) text_.pop_back();
        return std::move(text_);
    }

private:
    Group& Top() { return groups_.back(); }

    void OpenGroup() {
        if (groups_.size() >= kMaxGroupDepth) Damaged();
        unicodeFallback_ = 0;
        groups_.push_back(groups_.empty() ? Group{} : groups_.back());
        ignorableNext_ = false;
    }

    bool CloseGroup() {
        unicodeFallback_ = 0;
        ignorableNext_ = false;
        if (groups_.empty()) return false;
        groups_.pop_back();
        return !groups_.empty();
    }

    // After \uN, the next N characters are the fallback for readers without Unicode.
    bool ConsumeFallback() {
        if (unicodeFallback_ <= 0) return false;
        --unicodeFallback_;
        return true;
    }

    void ControlSequence() {
        if (position_ >= rtf_.size()) return;
        char c = rtf_[position_];
        if (!IsLetter(c)) {
            ++position_;
            ControlSymbol(c);
            return;
        }
        size_t start = position_;
        while (position_ < rtf_.size() && IsLetter(rtf_[position_])) ++position_;
        std::string_view word = rtf_.substr(start, position_ - start);
        bool hasParameter = false;
        int64_t parameter = 0;
        bool negative = false;
        if (position_ + 1 < rtf_.size() && rtf_[position_] == '-' && IsDigit(rtf_[position_ + 1])) {
            negative = true;
            ++position_;
        }
        size_t digits = 0;
        while (position_ < rtf_.size() && IsDigit(rtf_[position_])) {
            hasParameter = true;
            if (++digits <= kMaxParameterDigits) parameter = parameter * 10 + (rtf_[position_] - '0');
            ++position_;
        }
        parameter = std::min(parameter, kMaxParameter);
        if (negative) parameter = -parameter;
        if (position_ < rtf_.size() && rtf_[position_] == ' ') ++position_;  // the delimiter belongs to the word
        ControlWord(word, hasParameter, static_cast<int32_t>(parameter));
    }

    void ControlSymbol(char c) {
        if (c == '*') {
            ignorableNext_ = true;
            return;
        }
        if (c == '\'') {
            int high = position_ < rtf_.size() ? HexValue(rtf_[position_]) : -1;
            int low = position_ + 1 < rtf_.size() ? HexValue(rtf_[position_ + 1]) : -1;
            if (high < 0 || low < 0) return;  // a broken escape carries no character
            position_ += 2;
            if (ConsumeFallback()) return;
            if (Top().destination == Destination::Text) EmitByte(static_cast<uint8_t>(high * 16 + low));
            return;
        }
        if (ConsumeFallback()) return;
        if (Top().destination != Destination::Text) return;
        switch (c) {
        case '\\':
        case '{':
        case '}': EmitChar(static_cast<char16_t>(c)); break;
        case '~': EmitChar(0x00A0); break;  // non-breaking space
        case '_': EmitChar(0x2011); break;  // non-breaking hyphen
        case '\r':
        case '\n': EndParagraph(); break;  // an escaped line end is \par
        case '\t': EmitChar(u'\t'); break;
        default: break;  // \- optional hyphen, \| and \: index marks
        }
    }

    void ControlWord(std::string_view word, bool hasParameter, int32_t parameter) {
        bool ignorable = ignorableNext_;
        ignorableNext_ = false;
        Group& group = Top();

        if (word == "bin") {
            // Binary data: skipped whole whatever the destination; it may hold braces.
            int64_t count = hasParameter && parameter > 0 ? parameter : 0;
            if (static_cast<uint64_t>(count) > rtf_.size() - position_) Damaged();
            position_ += static_cast<size_t>(count);
            unicodeFallback_ = 0;
            return;
        }
        if (group.destination == Destination::Upr) {
            if (word == "ud") group.destination = Destination::Text;
            return;
        }
        if (group.destination == Destination::Skip) return;
        if (ignorable) {
            group.destination = Destination::Skip;
            return;
        }
        if (group.destination == Destination::FontTable) {
            FontTableWord(word, parameter);
            return;
        }
        if (word == "u" && hasParameter) {
            if (ConsumeFallback()) return;
            EmitChar(static_cast<char16_t>(parameter < 0 ? parameter + 0x10000 : parameter));
            unicodeFallback_ = group.unicodeSkip;
            return;
        }
        if (ConsumeFallback()) return;
        DocumentWord(group, word, hasParameter, parameter);
    }

    void DocumentWord(Group& group, std::string_view word, bool hasParameter, int32_t parameter) {
        if (word == "par" || word == "sect") {
            if (group.inTable) {
                EmitChar(u' ');  // the paragraphs of a cell run together
            } else {
                EndParagraph();
            }
        } else if (word == "page") {
            if (!group.inTable && ParagraphHasText()) EndParagraph();
        } else if (word == "cell" || word == "nestcell") {
            TrimTrailingSpaces();  // a cell's closing \par is not content
            EmitChar(u'\t');
        } else if (word == "nestrow") {
            EmitChar(u' ');
        } else if (word == "row") {
            TrimTrailingSpaces();
            if (text_.size() > paragraphStart_ && text_.back() == u'\t') text_.pop_back();
            EndParagraph();
        } else if (word == "intbl") {
            group.inTable = true;
        } else if (word == "itap") {
            group.inTable = parameter > 0;
        } else if (word == "pard") {
            group.inTable = false;
        } else if (word == "uc") {
            group.unicodeSkip = std::max<int32_t>(parameter, 0);
        } else if (word == "f" && hasParameter) {
            group.font = parameter;
        } else if (word == "plain") {
            group.font = -1;
        } else if (word == "deff" && hasParameter) {
            defaultFont_ = parameter;
        } else if (word == "ansi") {
            documentCodePage_ = kWindowsLatin1;
        } else if (word == "mac") {
            documentCodePage_ = 10000;
        } else if (word == "pc") {
            documentCodePage_ = 437;
        } else if (word == "pca") {
            documentCodePage_ = 850;
        } else if (word == "ansicpg") {
            if (parameter > 0) documentCodePage_ = static_cast<uint32_t>(parameter);
        } else if (word == "fonttbl") {
            group.destination = Destination::FontTable;
        } else if (word == "upr") {
            group.destination = Destination::Upr;
        } else if (IsSkippedDestination(word)) {
            group.destination = Destination::Skip;
        } else {
            for (const auto& symbol : kSymbols) {
                if (symbol.word == word) {
                    EmitChar(symbol.character);
                    break;
                }
            }
        }
    }

    // Inside the font table: remember each font's character set or code page.
    void FontTableWord(std::string_view word, int32_t parameter) {
        if (word == "f") {
            fontBeingDefined_ = parameter;
        } else if (word == "fcharset") {
            fonts_[fontBeingDefined_].charsetCodePage = CodePageOfCharset(parameter);
        } else if (word == "cpg" && parameter > 0) {
            fonts_[fontBeingDefined_].codePage = static_cast<uint32_t>(parameter);
        } else if (IsSkippedDestination(word)) {
            Top().destination = Destination::Skip;
        }
    }

    uint32_t CurrentCodePage() {
        int32_t font = Top().font >= 0 ? Top().font : defaultFont_;
        auto found = fonts_.find(font);
        if (found != fonts_.end()) {
            if (found->second.charsetCodePage != 0) return found->second.charsetCodePage;
            if (found->second.codePage != 0) return found->second.codePage;
        }
        return documentCodePage_;
    }

    // 8-bit text is gathered in runs so that double-byte characters decode whole.
    void EmitByte(uint8_t byte) {
        uint32_t codePage = CurrentCodePage();
        if (!pendingBytes_.empty() && codePage != pendingCodePage_) FlushBytes();
        pendingCodePage_ = codePage;
        pendingBytes_.push_back(static_cast<char>(byte));
    }

    void FlushBytes() {
        if (pendingBytes_.empty()) return;
        Decoder(pendingCodePage_).Append(pendingBytes_, text_);
        pendingBytes_.clear();
    }

    CodePageDecoder& Decoder(uint32_t codePage) {
        auto& slot = decoders_[codePage];
        if (!slot) slot = std::make_unique<CodePageDecoder>(codePage);
        return *slot;
    }

    void EmitChar(char16_t c) {
        FlushBytes();
        text_.push_back(c);
    }

    void EndParagraph() {
        FlushBytes();
        text_.push_back(kParagraphMark);
        paragraphStart_ = text_.size();
    }

    void TrimTrailingSpaces() {
        FlushBytes();
        while (text_.size() > paragraphStart_ && text_.back() == u' ') text_.pop_back();
    }

    bool ParagraphHasText() {
        FlushBytes();
        return text_.size() > paragraphStart_;
    }

    std::string_view rtf_;
    size_t position_ = 0;
    std::vector<Group> groups_;
    std::u16string text_;
    size_t paragraphStart_ = 0;
    int32_t unicodeFallback_ = 0;
    bool ignorableNext_ = false;

    uint32_t documentCodePage_ = kWindowsLatin1;
    int32_t defaultFont_ = 0;
    int32_t fontBeingDefined_ = 0;
    std::unordered_map<int32_t, FontInfo> fonts_;
    std::string pendingBytes_;
    uint32_t pendingCodePage_ = kWindowsLatin1;
    std::map<uint32_t, std::unique_ptr<CodePageDecoder>> decoders_;
};

}  // namespace

std::u16string RtfToPlainText(std::string_view rtf) { return RtfReader(rtf).Run(); }
