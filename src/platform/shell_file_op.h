// Recursive copy, move and delete with the Windows shell's semantics, built on
// the primitives so both platforms behave alike.
#pragma once

#include "platform/text.h"

namespace kel {

enum class ShellOperation { Move = 1, Copy = 2, Delete = 3, Rename = 4 };

// Flags the system passes (0x414 and friends); none changes the semantics here.
inline constexpr unsigned kShellSilentFlags = 0x414;
inline constexpr unsigned kShellCopyFileFlags = 0x1494;

// A source ending in "\*" or "\*.*" means every entry of that directory, and the
// destination is then the directory receiving them. A single source lands as the
// destination, or inside it when the destination is an existing directory.
// Directories merge into existing ones; files are overwritten. Returns 0 on
// success, a non-zero code otherwise.
int ShellFileOperation(ShellOperation operation, WStringView from, WStringView to, unsigned flags);

}  // namespace kel
