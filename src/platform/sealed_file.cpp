#include "platform/sealed_file.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdarg>
#include <cstring>
#include <random>

#include "platform/os.h"

namespace kel {

namespace {

// A seed only varies the sealed bytes; opening the random device for each
// write cost more than writing a small file.
uint32_t NewSeed() {
    thread_local std::mt19937 generator{std::random_device{}()};
    return static_cast<uint32_t>(generator());
}

constexpr char kMagic[4] = {'K', 'S', 'F', '1'};
constexpr std::size_t kHeaderSize = 9;
constexpr std::size_t kTrailerSize = 4;

bool IsSealedMarker(unsigned char b) { return b == 0xFD || b == 0xFE || b == 0xFF; }

bool IsForm(int sealed, int variant) { return sealed == 0 || (sealed == 1 && (variant == 0 || variant == 1)); }

uint32_t ReadLittleEndian(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}

void AppendLittleEndian(std::string& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

uint32_t InitialState(uint32_t seed) {
    const uint32_t s = seed ^ 0x9E3779B9u;
    return s == 0 ? 1 : s;
}

uint32_t Crc(uint32_t crc, const char* data, std::size_t length) {
    while (length > 0) {
        const uInt chunk = static_cast<uInt>(std::min<std::size_t>(length, 1u << 30));
        crc = static_cast<uint32_t>(crc32(crc, reinterpret_cast<const Bytef*>(data), chunk));
        data += chunk;
        length -= chunk;
    }
    return crc;
}

}  // namespace

namespace {

uint32_t KeyStep(uint32_t state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

// The key stream's step is linear in the state's bits: column i is where
// bit i goes. A power of it jumps the stream ahead.
using KeyMap = std::array<uint32_t, 32>;

uint32_t Map(const KeyMap& map, uint32_t state) {
    uint32_t image = 0;
    for (int bit = 0; bit < 32; ++bit) image ^= map[bit] & (0u - (state >> bit & 1u));
    return image;
}

KeyMap Jump(std::size_t steps) {
    KeyMap power;
    KeyMap result;
    for (int bit = 0; bit < 32; ++bit) {
        power[bit] = KeyStep(1u << bit);
        result[bit] = 1u << bit;
    }
    for (; steps > 0; steps >>= 1) {
        const KeyMap square = power;
        if (steps & 1) {
            for (uint32_t& column : result) column = Map(power, column);
        }
        for (uint32_t& column : power) column = Map(square, column);
    }
    return result;
}

}  // namespace

void SealedFile::ApplyKey(std::string& bytes) {
    // One state steps once per byte, a chain of dependent instructions.
    // A large text is keyed as eight stretches side by side instead, each
    // lane started where the stream stands at its stretch; the lanes step
    // together as one vector, four bytes of each at a time.
    constexpr std::size_t kLanes = 8;
    constexpr std::size_t kMinStretch = 512;
    using Lanes = uint32_t __attribute__((vector_size(kLanes * sizeof(uint32_t))));
    uint32_t state = m_state;
    char* data = bytes.data();
    std::size_t left = bytes.size();
    if (left >= kLanes * kMinStretch) {
        const std::size_t stretch = left / kLanes / 4 * 4;
        if (stretch != m_jumpSteps) {
            m_jump = Jump(stretch);
            m_jumpSteps = stretch;
        }
        Lanes lanes;
        lanes[0] = state;
        for (std::size_t lane = 1; lane < kLanes; ++lane) lanes[lane] = Map(m_jump, lanes[lane - 1]);
        for (std::size_t i = 0; i < stretch; i += 4) {
            Lanes keys = {};
            for (int step = 0; step < 4; ++step) {
                lanes ^= lanes << 13;
                lanes ^= lanes >> 17;
                lanes ^= lanes << 5;
                keys |= (lanes & 0xFF) << (8 * step);
            }
            for (std::size_t lane = 0; lane < kLanes; ++lane) {
                char* at = data + lane * stretch + i;
                if constexpr (std::endian::native == std::endian::little) {
                    uint32_t word;
                    std::memcpy(&word, at, sizeof word);
                    word ^= keys[lane];
                    std::memcpy(at, &word, sizeof word);
                } else {
                    for (int step = 0; step < 4; ++step) at[step] ^= static_cast<char>(keys[lane] >> (8 * step));
                }
            }
        }
        state = lanes[kLanes - 1];
        data += kLanes * stretch;
        left -= kLanes * stretch;
    }
    for (; left > 0; --left, ++data) {
        state = KeyStep(state);
        *data = static_cast<char>(static_cast<uint8_t>(*data) ^ (state & 0xFF));
    }
    m_state = state;
}

bool SealedFile::OpenForRead(WStringView path) {
    Close();
    std::string raw;
    return os::ReadWholeFile(path, raw) && OpenBytes(std::move(raw));
}

bool SealedFile::OpenBytes(std::string raw) {
    Close();
    if (!raw.empty() && IsSealedMarker(static_cast<unsigned char>(raw[0]))) {
        if (raw.size() < kHeaderSize + kTrailerSize || std::memcmp(raw.data() + 1, kMagic, 4) != 0) return false;
        m_state = InitialState(ReadLittleEndian(raw.data() + 5));
        const std::size_t length = raw.size() - kHeaderSize - kTrailerSize;
        m_data.assign(raw, kHeaderSize, length);
        ApplyKey(m_data);
        if (Crc(0, m_data.data(), m_data.size()) != ReadLittleEndian(raw.data() + kHeaderSize + length)) {
            m_data.clear();
            return false;
        }
        m_sealed = true;
    } else {
        m_data = std::move(raw);
        m_sealed = false;
    }
    m_reading = true;
    return true;
}

bool SealedFile::OpenForWrite(WStringView path, int sealed, int variant) {
    return OpenForWrite(path, sealed, variant, NewSeed());
}

bool SealedFile::OpenForWrite(WStringView path, int sealed, int variant, uint32_t seed) {
    Close();
    if (!IsForm(sealed, variant)) return false;
    m_file = File(os::OpenFile(path, "wb"));
    return m_file && StartWriting(sealed, variant, seed);
}

bool SealedFile::OpenStagedForWrite(WStringView path, int sealed, int variant) {
    Close();
    if (!IsForm(sealed, variant) || !m_staged.Open(path)) return false;
    return StartWriting(sealed, variant, NewSeed());
}

bool SealedFile::StartWriting(int sealed, int variant, uint32_t seed) {
    m_sealed = sealed == 1;
    if (m_sealed) {
        std::string header(1, static_cast<char>(variant == 0 ? 0xFE : 0xFD));
        header.append(kMagic, 4);
        AppendLittleEndian(header, seed);
        m_state = InitialState(seed);
        m_crc = 0;
        if (!Put(header)) m_error = true;
    }
    return true;
}

bool SealedFile::Put(const std::string& bytes) {
    std::FILE* file = m_staged.get() ? m_staged.get() : m_file.get();
    return os::WriteBytes(file, bytes.data(), bytes.size());
}

char* SealedFile::ReadLine(char* buffer, int size) {
    if (!m_reading || !buffer || size <= 0) return nullptr;
    const std::size_t room = static_cast<std::size_t>(size) - 1;
    std::size_t used = 0;
    while (used < room) {
        if (m_position >= m_data.size()) {
            m_atEnd = true;
            break;
        }
        // The bytes before the next line end are copied at once: large files are read line by line.
        const char* from = m_data.data() + m_position;
        std::size_t run = std::min(room - used, m_data.size() - m_position);
        for (const char stop : {'\n', '\r'}) {
            if (const void* found = std::memchr(from, stop, run)) run = static_cast<const char*>(found) - from;
        }
        std::memcpy(buffer + used, from, run);
        used += run;
        m_position += run;
        if (used == room || m_position >= m_data.size()) continue;
        char c = m_data[m_position++];
        // Text mode: CR LF reads as LF.
        if (!m_sealed && c == '\r' && m_position < m_data.size() && m_data[m_position] == '\n') c = m_data[m_position++];
        buffer[used++] = c;
        if (c == '\n') break;
    }
    buffer[used] = '\0';
    return used == 0 && size > 1 ? nullptr : buffer;
}

bool SealedFile::ReadLine(std::string& line) {
    std::string_view view;
    const bool read = ReadLine(view);
    line.assign(view);
    return read;
}

bool SealedFile::ReadLine(std::string_view& line) {
    line = {};
    if (!m_reading) return false;
    if (m_position >= m_data.size()) {
        m_atEnd = true;
        return false;
    }
    const std::size_t newline = m_data.find('\n', m_position);
    const std::size_t end = newline == std::string::npos ? m_data.size() : newline;
    line = std::string_view(m_data).substr(m_position, end - m_position);
    if (!m_sealed && !line.empty() && line.back() == '\r' && newline != std::string::npos) line.remove_suffix(1);
    m_position = newline == std::string::npos ? end : end + 1;
    if (m_position >= m_data.size() && newline == std::string::npos) m_atEnd = true;
    return true;
}

std::size_t SealedFile::ReadBytes(void* buffer, std::size_t size, std::size_t count) {
    if (!m_reading || size == 0 || count == 0) return 0;
    auto* out = static_cast<char*>(buffer);
    const std::size_t wanted = size * count;
    std::size_t used = 0;
    while (used < wanted) {
        if (m_position >= m_data.size()) {
            m_atEnd = true;
            break;
        }
        char c = m_data[m_position++];
        if (!m_sealed && c == '\r' && m_position < m_data.size() && m_data[m_position] == '\n') c = m_data[m_position++];
        out[used++] = c;
    }
    return used / size;
}

bool SealedFile::Write(const char* data, std::size_t length) {
    if (!Out() || m_error) return false;
    // Gathered and written in blocks: key.id is made of tens of thousands of
    // small writes, each of which would pay for a checksum call and a write.
    if (m_sealed) {
        m_out.append(data, length);
    } else {
        for (std::size_t i = 0; i < length; ++i) {
            if (data[i] == '\n') m_out.push_back('\r');
            m_out.push_back(data[i]);
        }
    }
    return m_out.size() < kWriteBlock || Flush();
}

bool SealedFile::Flush() {
    if (m_sealed) {
        m_crc = Crc(m_crc, m_out.data(), m_out.size());
        ApplyKey(m_out);
    }
    if (!m_out.empty() && !Put(m_out)) m_error = true;
    m_out.clear();
    return !m_error;
}

int SealedFile::WriteText(const char* text) {
    if (!text) return EOF;
    return Write(text, std::strlen(text)) ? 0 : EOF;
}

int SealedFile::WriteFormatted(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (length >= 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        text.pop_back();
    }
    va_end(args);
    if (length < 0 || !Write(text.data(), text.size())) return -1;
    return length;
}

std::size_t SealedFile::WriteBytes(const void* buffer, std::size_t size, std::size_t count) {
    if (size == 0 || count == 0) return 0;
    return Write(static_cast<const char*>(buffer), size * count) ? count : 0;
}

int SealedFile::WriteChar(int c) {
    const char byte = static_cast<char>(c);
    return Write(&byte, 1) ? static_cast<unsigned char>(byte) : -1;
}

bool SealedFile::Close() {
    bool ok = !m_error;
    if (Out()) {
        if (!m_error) ok = Flush();
        if (m_sealed && !m_error) {
            std::string trailer;
            AppendLittleEndian(trailer, m_crc);
            ok = Put(trailer) && ok;
        }
        ok = m_staged.get() ? ok && m_staged.Commit() : m_file.Close() && ok;
    }
    m_staged.Discard();
    m_reading = false;
    m_sealed = false;
    m_atEnd = false;
    m_error = false;
    m_data.clear();
    m_out.clear();
    m_position = 0;
    return ok;
}

}  // namespace kel
