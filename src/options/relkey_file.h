// Reader of the text form of option definition files ("relkey" files), and
// the names under which a release keeps them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "KelCom.h"
#include "options/relkey_group.h"
#include "platform/text.h"

namespace kel {

class SealedFile;

class CRelkeyFile {
public:
    CRelkeyFile();
    virtual ~CRelkeyFile();

    // S_OK, E_FAIL (file cannot be opened, no title line) or E_UNEXPECTED
    // (unknown owner or type). A file is read once for the calls that follow
    // on the same path, up to the groups.
    HRESULT GetTitle(WStringView path, WString& title);
    HRESULT GetOwner(WStringView path, int& owner);  // 0 SEROP, 1 NOFAC
    HRESULT GetType(WStringView path, int& type);    // 0 single, 1 multiple

    // Replaces the first "%" of titles, descriptions and data files.
    void SetSubstitutionNumber(uint16_t number) { m_substitution = number; }

    // 0 a group was read, -1 no further complete group, -2 unreadable file or
    // malformed line. A group read has its texts replaced and its options
    // appended.
    int GetFirstGroup(WStringView path, CRelkeyGroup& group);
    int GetNextGroup(CRelkeyGroup& group);
    // For a large file, after the first group: reads the rest of it and hands
    // the second half, from a line between groups before "end", to rest,
    // whose groups are then the ones this reader would have read after its
    // own (this reader ends there). False, with nothing handed, where the
    // file is small or has no such line.
    bool SplitOff(CRelkeyFile& rest);

    // 1 / 0.
    int GetRelkeyName(int32_t signature, WString& name);
    // 0 / -1: "<programPath>\syskey\<name>".
    int GetRelkeyFilePath(WStringView programPath, int32_t signature, WString& path);

    int GetLastType() const { return m_type; }
    const WString& LastMessage() const { return m_message; }

private:
    enum class LineResult { Complete, Continue, Malformed };

    // The first line that starts with the command and has a usable value.
    enum class Search { Found, Missing, OpenFailed };
    Search FindCommand(WStringView path, const char* command, bool valueMayBeEmpty, std::string& value);
    HRESULT GetSwitch(WStringView path, const char* command, WStringView zero, WStringView one, int& value,
                      WStringView openFailure, WString& text);
    SealedFile* Read(WStringView path);  // from its start; null when it does not open
    bool ReadGroupText(WStringView path);
    bool KeepsPiece(std::string_view piece);  // whether a piece of the file is kept; counts it
    bool ReadChunk();  // appends the next kept piece of the file; false at its end
    bool TakeLine(std::string& line);
    LineResult ParseLine(const std::string& line);
    // In scratch only when a "%" is replaced.
    WStringView Substitute(WStringView text, WString& scratch) const;

    template <class... Args>
    void TraceFormatted(WStringView format, const Args&... args);

    // The file is read as the groups are taken, unless it is split.
    std::unique_ptr<SealedFile> m_source;
    std::unique_ptr<SealedFile> m_read;  // the file the commands were read from
    WString m_readPath;
    int m_chunkIndex = 0;
    std::string m_groupText;  // bytes read and not yet taken
    std::size_t m_position = 0;
    // The line being parsed, as read and widened, and its tokens: kept for the next line.
    std::string m_line;
    WString m_wide;
    std::vector<WStringView> m_tokens;
    // The group being read, gathered over its lines and handed over at its
    // end: setting its texts line by line grew them several times.
    enum Head : std::size_t { kTitle, kLabel, kCode, kSubTitle, kCategory, kHeadFields };
    std::array<WString, kHeadFields> m_head;
    std::vector<CRelkeyOption> m_options;
    bool m_endFlag = false;
    int m_type = 0;
    uint16_t m_substitution = 0;
    WString m_message;
};

}  // namespace kel
