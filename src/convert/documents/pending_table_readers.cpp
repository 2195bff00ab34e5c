// Placeholders for converters that have not landed yet: each fails with a clear
// message instead of producing something that only looks like an output.
#include "convert/core/errors.h"
#include "convert/documents/readers.h"
#include "convert/documents/writers.h"

Document ReadOds(const std::string&) { throw ConvertError("Reading this kind of table isn't available in this version yet"); }
