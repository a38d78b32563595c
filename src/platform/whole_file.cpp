#include "platform/os.h"
#include "platform/raii.h"

namespace kel::os {

bool ReadWholeFile(WStringView path, std::string& bytes) {
    bytes.clear();
    File file(os::OpenFile(path, "rb"));
    if (!file) return false;
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
