// Checks of the packages and files our writers produce, through independent tools:
// unzip, xmllint, pandoc and Python with openpyxl/odfpy.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "convert/documents/document.h"
#include "support/test_support.h"

namespace testing_support {

// One local entry of a ZIP package, read straight from its local header.
struct LocalEntry {
    std::string name;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t date = 0;
    uint16_t extraLength = 0;
    std::string data;  // the stored bytes (all our packages are stored)
};

// The local entries in file order, up to the central directory.
std::vector<LocalEntry> LocalEntries(const std::string& packageBytes);
// The data of the named entry of a package file; empty (and a test failure) when missing.
std::string EntryData(const std::string& packagePath, std::string_view name);
// "" when `unzip -t` accepts the package and xmllint finds every .xml and .rels entry
// well-formed; otherwise what failed.
std::string PackageProblems(const std::string& packagePath);
// xmllint's verdict on one XML text: "" when well-formed.
std::string XmlProblems(std::string_view xml);

// A test script under tests/support run by the system Python (which has openpyxl and odfpy).
CommandResult RunPythonScript(std::string_view script, const std::string& argument);
// pandoc's reading of a file, one block per line (see pandoc_blocks.py).
CommandResult PandocBlocks(const std::string& path, std::string_view format);

// Small builders for hand-made documents.
inline Block Paragraph(std::u16string text) { return Block{std::move(text), 0, false, false}; }
inline Block Heading(std::u16string text, int32_t level) { return Block{std::move(text), level, false, false}; }
inline Block ListItem(std::u16string text) { return Block{std::move(text), 0, true, false}; }
inline Block AfterPageBreak(Block block) {
    block.breakBefore = true;
    return block;
}
inline Table MakeTable(std::u16string name, std::vector<std::vector<std::u16string>> rows) {
    return Table{std::move(name), std::move(rows)};
}

// How often `part` occurs in `text`.
size_t CountOf(std::string_view text, std::string_view part);

}  // namespace testing_support
