// IF and TEST: the check of the last response.
#pragma once

#include <cstdint>

#include "interp/parse_cursor.h"
#include "script/session.h"

namespace kelvo {


// The tolerance of VAL without TOL: 1e-12 as a single-precision number holds it.
inline constexpr double kDefaultTolerance = static_cast<double>(1e-12f);

// Compares the last response as the options say and, inside a command file,
// runs or skips the TRUE and FALSE blocks that follow. TEST (isTest) also counts
// a false result as an error.
void CheckResponse(Session& s, ParseCursor& cursor, bool isTest);

}  // namespace kelvo
