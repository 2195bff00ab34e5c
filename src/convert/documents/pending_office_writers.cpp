// Placeholders for converters that have not landed yet: each fails with a clear
// message instead of producing something that only looks like an output.
#include "convert/core/errors.h"
#include "convert/documents/readers.h"
#include "convert/documents/writers.h"

void WriteXlsx(const Document&, const std::string&) { throw ConvertError("Writing this format isn't available in this version yet"); }
void WriteOds(const Document&, const std::string&) { throw ConvertError("Writing this format isn't available in this version yet"); }
void WriteCsv(const Document&, const std::string&) { throw ConvertError("Writing this format isn't available in this version yet"); }
void WriteTsv(const Document&, const std::string&) { throw ConvertError("Writing this format isn't available in this version yet"); }
void WriteJson(const Document&, const std::string&) { throw ConvertError("Writing this format isn't available in this version yet"); }
