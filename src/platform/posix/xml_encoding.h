// The bytes of an XML file decoded as the Windows DOM decodes them, for a
// parser that reads UTF-8 only.
#pragma once

#include <string>

namespace kel::xml::posix {

// A byte order mark (UTF-8, UTF-16) decides; without one the declared
// encoding does, UTF-8 when none is declared. Besides the Unicode forms the
// single-byte windows-1250 to -1258 and ISO-8859 encodings are decoded.
// False for any other encoding and for bytes that are invalid in theirs.
bool DecodeToUtf8(std::string& bytes);

}  // namespace kel::xml::posix
