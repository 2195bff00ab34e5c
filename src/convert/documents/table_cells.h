// How the table writers read cell texts and name their sheets: the two number tests
// (spreadsheet decimals and general floating-point texts) and the sheet names of a
// workbook. Pure functions over UTF-16 text; nothing here allocates per character.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "convert/documents/document.h"

// A plain decimal that a spreadsheet keeps exactly: 1 to 15 characters, an optional
// "-", digits with at most one "." (not last), and no leading zero before a digit.
bool IsPlainDecimal(std::u16string_view text);

// A floating-point text in the C locale: 1 to 30 characters, an optional sign, digits
// with an optional "." and exponent; no spaces, hexadecimal, infinity or NaN forms.
bool IsFloatText(std::u16string_view text);

// A number in JSON's own grammar (no "+", no leading zeros, no bare "." at either end).
bool IsJsonNumber(std::u16string_view text);

// One sheet name per table, in order: forbidden characters removed, "Sheet" + number
// for a name left empty, at most 31 UTF-16 units, unique regardless of ASCII case.
std::vector<std::u16string> SheetNames(const std::vector<Table>& tables);
