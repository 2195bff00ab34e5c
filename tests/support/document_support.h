// Small helpers for reader tests: block texts and the message of a failing call.
#pragma once

#include <string>
#include <vector>

#include "convert/core/errors.h"
#include "convert/core/text.h"
#include "convert/documents/document.h"

namespace testing_support {

using Rows = std::vector<std::vector<std::u16string>>;

inline std::vector<std::string> Texts(const Document& document) {
    std::vector<std::string> texts;
    for (const auto& block : document.blocks) texts.push_back(WideToUtf8(block.text));
    return texts;
}

// The ConvertError message of `action`, or "no error".
template <typename Action>
std::string ErrorOf(Action&& action) {
    try {
        action();
    } catch (const ConvertError& error) {
        return error.message;
    }
    return "no error";
}

}  // namespace testing_support
