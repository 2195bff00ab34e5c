// Status codes carried by conversion failures. They keep the 32-bit shape of the
// codes the converters have always reported, so the worker can single out memory
// exhaustion by value.
#pragma once

#include <cstdint>

using HRESULT = int32_t;

inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);

// A system error number as a status code; running out of memory keeps its own code.
HRESULT HResultFromErrno(int error);
