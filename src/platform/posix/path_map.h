// Windows-form paths on a POSIX file system, as Wine and WSL map them.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>

#include "platform/text.h"

namespace kel::os::posix {

// Z:\a -> /a, X:\a -> /mnt/x/a, \a -> /a, a\b -> a/b (from the working
// directory). Existing components resolve case-insensitively; the first missing
// one and all after it keep their case. UNC paths and components holding '/'
// have no mapping.
std::optional<std::string> MapPath(WStringView windowsPath);
// What the mapping already learnt of the path it gives: Present, st holds
// its lstat; Missing, nothing is there; the caller need not ask again.
enum class Seen { Unknown, Present, Missing };
std::optional<std::string> MapPath(WStringView windowsPath, struct stat& st, Seen& seen);

// Where an entry that is there most likely is, with no look-up: in the
// folder the path's folder was resolved to before, else as written.
std::optional<std::string> MapLikely(WStringView windowsPath);
// MapPath for a caller that found nothing at tried.
std::optional<std::string> MapPathBeyond(WStringView windowsPath, const std::string& tried);

// A folder whose new names MapPath takes as written (os::MarkOwnFolder).
void MarkOwnFolder(WStringView windowsPath, bool own);

// The folder mapped as MapPath does, the last component kept as given.
std::optional<std::string> MapInExactFolder(WStringView windowsPath);

// /tmp/x -> Z:\tmp\x; a relative path keeps its place, with backslashes.
WString UnmapPath(std::string_view nativePath);

}  // namespace kel::os::posix
