// The two ways out of a converter: a failure with a sentence for the user, or a
// cancellation. The worker turns both into protocol lines; nothing else on the
// conversion path catches them.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>

#include "convert/core/status.h"

class ConvertError : public std::runtime_error {
public:
    explicit ConvertError(std::string userMessage, HRESULT status = E_FAIL)
        : std::runtime_error("convert error"), message(std::move(userMessage)), code(status) {}

    std::string message;  // UTF-8, shown to the user unchanged
    HRESULT code;
};

class Cancelled : public std::exception {
public:
    const char* what() const noexcept override { return "cancelled"; }
};
