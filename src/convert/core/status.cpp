#include "convert/core/status.h"

#include <cerrno>

HRESULT HResultFromErrno(int error) {
    if (error == ENOMEM) return E_OUTOFMEMORY;
    if (error <= 0) return E_FAIL;
    return static_cast<HRESULT>(0x80070000u | (static_cast<uint32_t>(error) & 0xFFFFu));
}
