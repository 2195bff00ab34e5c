// The flat document model that every document, presentation, e-book and table
// conversion passes through: a title, text blocks, tables and one flag.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct Block {
    std::u16string text;  // may hold U+0009 and U+000A (a line break inside the block)
    int32_t level = 0;    // 0 body; 1..3 heading level
    bool listItem = false;
    bool breakBefore = false;  // a page or slide boundary precedes this block
};

struct Table {
    std::u16string name;
    std::vector<std::vector<std::u16string>> rows;  // first row is the header row
};

struct Document {
    std::u16string title;
    std::vector<Block> blocks;
    std::vector<Table> tables;
    bool preformatted = false;  // source-like text, shown monospace line by line
};

// The block a reader is filling: text collected as UTF-8, converted once when finished.
struct PendingBlock {
    std::string text;
    int32_t level = 0;
    bool listItem = false;
    bool breakBefore = false;
};

// Appends the pending block to the document and resets it.
void FinishBlock(Document& document, PendingBlock& pending);
