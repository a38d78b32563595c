// Joins a directory and a path and resolves "." and ".." segments the way the
// Windows shell's path combining does, identically on every platform.
#pragma once

#include "platform/text.h"

namespace kel {

// A path that starts with a drive or "\\" stands alone; one that starts with
// "\" goes below the directory's root. ".." never climbs above the root.
// False (out untouched) when the result would not fit 260 characters.
bool PathCombine(WStringView directory, WStringView path, WString& out);

}  // namespace kel
