// The narrow text-file layer of the configuration files: plain files in C text
// mode (CR LF on disk on every platform) or the sealed form, an obfuscated copy
// of the same bytes with an integrity check. Readers accept both.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/raii.h"
#include "platform/staged_file.h"
#include "platform/text.h"

#if defined(__clang__)
#define KEL_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define KEL_PRINTF_FORMAT(f, a) __attribute__((format(gnu_printf, f, a)))
#endif

namespace kel {

class SealedFile {
public:
    SealedFile() = default;
    // A staged file that was not closed is dropped.
    ~SealedFile() {
        m_staged.Discard();
        Close();
    }
    SealedFile(const SealedFile&) = delete;
    SealedFile& operator=(const SealedFile&) = delete;

    // First byte 0xFD, 0xFE or 0xFF selects the sealed form; a sealed file that
    // fails its length, magic or checksum test does not open.
    bool OpenForRead(WStringView path);
    // Reads bytes as OpenForRead reads a file's: what a writer would put on the disk, checked beforehand.
    bool OpenBytes(std::string raw);
    // sealed 0: plain text; 1: sealed, variant 0 or 1. The seed is random unless given.
    bool OpenForWrite(WStringView path, int sealed, int variant);
    bool OpenForWrite(WStringView path, int sealed, int variant, uint32_t seed);
    // As OpenForWrite, but the file is written beside path and Close puts it
    // in path's place in one step: until then, after a failure, and when the
    // object goes without Close, the old file stays.
    bool OpenStagedForWrite(WStringView path, int sealed, int variant);

    // Reads a file opened for reading again from its start.
    void Rewind() {
        m_position = 0;
        m_atEnd = false;
    }
    // fgets: at most size-1 bytes up to and including "\n"; null at the end.
    char* ReadLine(char* buffer, int size);
    // One whole line without its "\n"; false at the end.
    bool ReadLine(std::string& line);
    // The same as a view of the text read, valid while the file stays open.
    bool ReadLine(std::string_view& line);
    // ReadLine(buffer, size) up to the end, appending each piece to out as a
    // C string holds it (up to a NUL) when keep(piece) says so. A large file
    // of short plain lines is taken a run of lines at a time.
    template <class Keep>
    void AppendPieces(int size, std::string& out, Keep keep);
    std::size_t ReadBytes(void* buffer, std::size_t size, std::size_t count);

    int WriteText(const char* text);                                   // EOF on failure
    int WriteFormatted(const char* format, ...) KEL_PRINTF_FORMAT(2, 3);  // negative on failure
    std::size_t WriteBytes(const void* buffer, std::size_t size, std::size_t count);
    int WriteChar(int c);  // -1 on failure

    bool AtEnd() const { return m_atEnd; }
    bool HasError() const { return m_error; }
    bool IsSealed() const { return m_sealed; }
    bool IsOpen() const { return m_reading || Out() != nullptr; }
    // Writes the checksum of a sealed file; false when anything failed to reach the disk.
    bool Close();

private:
    // The unread rest: no CR or NUL, which ReadLine would change or cut at.
    bool RestIsPlain() const {
        const char* rest = m_data.data() + m_position;
        const std::size_t left = m_data.size() - m_position;
        return !std::memchr(rest, '\r', left) && !std::memchr(rest, '\0', left);
    }
    bool StartWriting(int sealed, int variant, uint32_t seed);
    bool Write(const char* data, std::size_t length);
    // Seals and writes what Write gathered.
    bool Flush();
    static constexpr std::size_t kWriteBlock = 64 * 1024;
    bool Put(const std::string& bytes);
    std::FILE* Out() const { return m_staged.get() ? m_staged.get() : m_file.get(); }
    // XORs bytes with the next bytes of the key stream.
    void ApplyKey(std::string& bytes);

    File m_file;
    StagedFile m_staged;
    bool m_reading = false;
    bool m_sealed = false;
    bool m_atEnd = false;
    bool m_error = false;
    std::string m_data;  // the whole plaintext of a file opened for reading
    std::string m_out;   // written, not yet on the disk
    std::size_t m_position = 0;
    uint32_t m_state = 0;
    // The key stream's jump over the stretches ApplyKey last keyed side by side.
    std::array<uint32_t, 32> m_jump{};
    std::size_t m_jumpSteps = 0;
    uint32_t m_crc = 0;
};

template <class Keep>
void SealedFile::AppendPieces(int size, std::string& out, Keep keep) {
    if (!m_reading || size <= 1) return;
    const std::size_t room = static_cast<std::size_t>(size) - 1;
    if (RestIsPlain()) {
        // The pieces lie in the text as they are: a line, or a long line's
        // room-sized parts. Kept ones next to each other are appended at once.
        const char* data = m_data.data();
        std::size_t run = m_position;
        while (m_position < m_data.size()) {
            const char* from = data + m_position;
            const void* newline = std::memchr(from, '\n', m_data.size() - m_position);
            const std::size_t length =
                newline ? static_cast<const char*>(newline) - from + 1 : m_data.size() - m_position;
            for (std::size_t at = 0; at < length; at += room) {
                const std::string_view piece(from + at, std::min(room, length - at));
                if (keep(piece)) continue;
                out.append(data + run, m_position + at - run);
                run = m_position + at + piece.size();
            }
            m_position += length;
        }
        out.append(data + run, m_position - run);
    }
    std::string buffer(room + 1, '\0');
    while (ReadLine(buffer.data(), size)) {
        const std::string_view piece(buffer.data());
        if (keep(piece)) out += piece;
    }
}

}  // namespace kel
