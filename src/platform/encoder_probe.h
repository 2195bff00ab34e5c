// Which optional encoders the linked media and image libraries provide.
#pragma once

#include "convert/core/catalog.h"

CapabilityFlags ProbeEncoders();
