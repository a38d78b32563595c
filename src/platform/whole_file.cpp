#include <cstdio>

#include "platform/os.h"
#include "platform/raii.h"

namespace kel::os {

bool ReadWholeFile(WStringView path, std::string& bytes) {
    bytes.clear();
    File file(os::OpenFile(path, "rb"));
    if (!file) return false;
    // Room for the size the file has now: grown by appends, a large file
    // would be copied a few times over, into pages new each time.
    if (std::fseek(file.get(), 0, SEEK_END) == 0) {
        const long size = std::ftell(file.get());
        if (size > 0) bytes.reserve(static_cast<std::size_t>(size));
        if (std::fseek(file.get(), 0, SEEK_SET) != 0) return false;
    }
    // A short read is the end: asking again would cost one more read.
    char buffer[1 << 16];
    for (;;) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, file.get());
        bytes.append(buffer, n);
        if (n < sizeof buffer) return std::ferror(file.get()) == 0;
    }
}

bool WriteWholeFile(WStringView path, std::string_view bytes) {
    File file(os::OpenFile(path, "wb"));
    return file && os::WriteBytes(file.get(), bytes.data(), bytes.size()) && file.Close();
}

}  // namespace kel::os
