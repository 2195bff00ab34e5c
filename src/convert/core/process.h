// Facts about the running process.
#pragma once

#include <string>

// The executable's full path.
std::string ModulePath();
// Hands freed heap memory back to the system after a large conversion.
void TrimMemory();
