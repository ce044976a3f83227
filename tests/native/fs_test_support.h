#pragma once

#include <ostream>

#include "fs/error.h"

namespace sandrig::fs {

// Lets GoogleTest print filesystem errors by their debug text.
inline void PrintTo(const IoError& error, std::ostream* out) { *out << error.debug(); }

}  // namespace sandrig::fs
