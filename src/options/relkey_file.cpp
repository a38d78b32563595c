#include "options/relkey_file.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/sealed_file.h"
#include "platform/trace.h"

namespace kel {

namespace {

// Lines are read through a 142-byte buffer: a longer line arrives in pieces.
constexpr int kLineBuffer = 142;
constexpr std::size_t kMaxLine = kLineBuffer - 1;
// Below this many bytes of groups a second reader costs more than it saves.
constexpr std::size_t kMinSplit = 64 * 1024;
// Paths and substituted texts pass through 260-character buffers.
constexpr std::size_t kMaxPath = 259;

// File names take the round trip through the ANSI code page, as the C runtime sees them.
WString NarrowedPath(WStringView path) {
    std::string narrow = ToAnsi(path);
    if (narrow.size() > kMaxPath) narrow.resize(kMaxPath);
    return FromAnsi(narrow);
}

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }
bool StartsWith(WStringView text, WStringView prefix) { return text.substr(0, prefix.size()) == prefix; }
bool EndsWith(WStringView text, WStringView suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsWhite(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f'; }
bool IsSeparator(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n'; }
bool IsTokenMark(char16_t c) { return c == u'"' || c == u'/' || IsSeparator(c); }

// Quotes group separators into one token and stay in it; from a second slash
// in a row the rest of the line is one remark. A token is a piece of line.
void Tokenize(WStringView line, std::vector<WStringView>& tokens) {
    tokens.clear();
    std::size_t start = WStringView::npos;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        // Most characters are none of the four that matter: inside a token they are passed over in a run.
        if (start != WStringView::npos) {
            while (i < line.size() && !IsTokenMark(line[i])) ++i;
            if (i == line.size()) break;
        }
        const char16_t c = line[i];
        if (c == u'"') {
            quoted = !quoted;
        } else if (!quoted && IsSeparator(c)) {
            if (start != WStringView::npos) tokens.push_back(line.substr(start, i - start));
            start = WStringView::npos;
            continue;
        } else if (c == u'/' && i > 0 && line[i - 1] == u'/') {
            if (start == WStringView::npos) start = i;
            tokens.push_back(line.substr(start));
            return;
        }
        if (start == WStringView::npos) start = i;
    }
    if (start != WStringView::npos) tokens.push_back(line.substr(start));
}

WStringView Unquote(WStringView token) { return token.size() >= 2 ? token.substr(1, token.size() - 2) : WStringView(); }

// The text between the first pair of quotes after "Category".
WString CategoryOf(WStringView token) {
    const WStringView rest = token.substr(8);
    const std::size_t open = rest.find(u'"');
    if (open == WStringView::npos) return {};
    const std::size_t close = rest.find(u'"', open + 1);
    if (close == WStringView::npos) return {};
    return WString(rest.substr(open + 1, close - open - 1));
}

bool IsGroupCode(WStringView code) {
    for (WStringView known : {u"1,1", u"0,1", u"0,n", u"0,1,f", u"1,1,f", u"0,n,f"}) {
        if (code == known) return true;
    }
    return false;
}

}  // namespace

template <class... Args>
void CRelkeyFile::TraceFormatted(WStringView format, const Args&... args) {
    m_message = Format(format, args...);
    Trace(u"RelkeyFile", m_message);
}

CRelkeyFile::Search CRelkeyFile::FindCommand(WStringView path, const char* command, bool valueMayBeEmpty,
                                             std::string& value) {
    SealedFile* file = Read(path);
    if (!file) return Search::OpenFailed;
    const std::string_view name(command);
    char buffer[kLineBuffer + 1];
    while (file->ReadLine(buffer, kLineBuffer)) {
        const std::string_view line(buffer);
        if (!StartsWith(line, name)) continue;
        std::size_t start = name.size();
        while (start < line.size() && IsBlank(line[start])) ++start;
        std::string_view text = line.substr(start);
        if (valueMayBeEmpty) {
            if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
        } else {
            while (!text.empty() && (IsBlank(text.back()) || text.back() == '\n')) text.remove_suffix(1);
            if (text.empty()) continue;
        }
        value.assign(text);
        return Search::Found;
    }
    return Search::Missing;
}

HRESULT CRelkeyFile::GetTitle(WStringView path, WString& title) {
    std::string value;
    switch (FindCommand(path, "title", true, value)) {
        case Search::OpenFailed:
            TraceFormatted(u"CRelkeyFile::GetTitle, Failure open%s\n", path);
            return E_FAIL;
        case Search::Missing:
            TraceFormatted(u"CRelkeyFile::GetTitle, Missing command '%s' in %s\n", u"title", path);
            return E_FAIL;
        case Search::Found:
            break;
    }
    title = FromAnsi(value);
    return S_OK;
}

// Owner and type are two-valued commands: zero (also when missing) or one.
// E_UNEXPECTED leaves the unknown value in text for the caller's trace.
HRESULT CRelkeyFile::GetSwitch(WStringView path, const char* command, WStringView zero, WStringView one, int& value,
                               WStringView openFailure, WString& text) {
    value = 0;
    std::string raw;
    switch (FindCommand(path, command, false, raw)) {
        case Search::OpenFailed:
            TraceFormatted(openFailure, path);
            return E_FAIL;
        case Search::Missing:
            return S_OK;
        case Search::Found:
            break;
    }
    text = FromAnsi(raw);
    if (EqualsNoCase(text, zero)) return S_OK;
    if (EqualsNoCase(text, one)) {
        value = 1;
        return S_OK;
    }
    return E_UNEXPECTED;
}

HRESULT CRelkeyFile::GetOwner(WStringView path, int& owner) {
    WString text;
    const HRESULT hr = GetSwitch(path, "owner", u"SEROP", u"NOFAC", owner, u"CRelkeyFile::GetOwner, Failure open%s\n", text);
    if (hr == E_UNEXPECTED) TraceFormatted(u"CRelkeyFile::GetOwner: Unkown owner detected in file %s", path);
    return hr;
}

HRESULT CRelkeyFile::GetType(WStringView path, int& type) {
    WString text;
    const HRESULT hr = GetSwitch(path, "type", u"single", u"multiple", type, u"CRelkeyFile::GetType, Failure open%s\n", text);
    if (hr == E_UNEXPECTED) TraceFormatted(u"CRelkeyFile::GetOwner: Unkown type %s detected in file %s", text, path);
    return hr;
}

CRelkeyFile::CRelkeyFile() = default;
CRelkeyFile::~CRelkeyFile() = default;

SealedFile* CRelkeyFile::Read(WStringView path) {
    const WString narrowed = NarrowedPath(path);
    if (!m_read || narrowed != m_readPath) {
        auto file = std::make_unique<SealedFile>();
        if (!file->OpenForRead(narrowed)) {
            m_read.reset();
            return nullptr;
        }
        m_read = std::move(file);
        m_readPath = narrowed;
    }
    m_read->Rewind();
    return m_read.get();
}

bool CRelkeyFile::ReadGroupText(WStringView path) {
    m_groupText.clear();
    m_position = 0;
    m_chunkIndex = 0;
    m_source.reset();
    if (!Read(path)) return false;
    m_source = std::move(m_read);
    return true;
}

bool CRelkeyFile::KeepsPiece(std::string_view piece) {
    // The first two lines hold commands, "#" lines are comments.
    return m_chunkIndex++ >= 2 && (piece.empty() || piece.front() != '#');
}

bool CRelkeyFile::ReadChunk() {
    char buffer[kLineBuffer + 1];
    while (m_source && m_source->ReadLine(buffer, kLineBuffer)) {
        if (!KeepsPiece(buffer)) continue;
        m_groupText += buffer;
        return true;
    }
    m_source.reset();
    return false;
}

bool CRelkeyFile::TakeLine(std::string& line) {
    std::size_t newline = m_groupText.find('\n', m_position);
    while (newline == std::string::npos) {
        if (!ReadChunk()) {
            m_groupText.clear();
            m_position = 0;
            return false;
        }
        newline = m_groupText.find('\n', m_position);
    }
    std::size_t length = newline - m_position + 1;
    if (length > kMaxLine) length = kMaxLine;
    line.assign(m_groupText, m_position, length);
    m_position += length;
    if (m_position == m_groupText.size()) {
        m_groupText.clear();
        m_position = 0;
    }
    return true;
}

bool CRelkeyFile::SplitOff(CRelkeyFile& rest) {
    if (m_endFlag) return false;
    if (m_source) {
        m_source->AppendPieces(kLineBuffer, m_groupText, [this](std::string_view piece) { return KeepsPiece(piece); });
        m_source.reset();
    }
    const std::string_view text = std::string_view(m_groupText).substr(m_position);
    if (text.size() < kMinSplit) return false;
    // Lines are walked in the pieces TakeLine takes. After a blank piece no
    // group is open, so a reader starting at the next piece reads as this
    // one would; a piece that starts with "end" (blanks aside) ends the
    // stretch where that holds.
    const auto blank = [](char c) { return IsWhite(static_cast<unsigned char>(c)); };
    std::size_t split = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t newline = text.find('\n', at);
        if (newline == std::string_view::npos) break;
        const std::size_t end = at + std::min(newline - at + 1, kMaxLine);
        std::size_t first = at;
        while (first < end && blank(text[first])) ++first;
        if (text.substr(first, 3) == "end" && first + 3 <= end) break;
        if (first == end && text[end - 1] == '\n' && end < text.size()) {
            split = end;
            if (split >= text.size() / 2) break;
        }
        at = end;
    }
    // Too little before "end" to share the work.
    if (split < text.size() / 4) return false;
    rest.m_groupText.assign(text.substr(split));
    rest.m_type = m_type;
    rest.m_substitution = m_substitution;
    m_groupText.resize(m_position + split);
    return true;
}

WStringView CRelkeyFile::Substitute(WStringView text, WString& scratch) const {
    text = text.substr(0, kMaxPath);
    const std::size_t percent = text.find(u'%');
    if (percent == WStringView::npos) return text;
    scratch = text;
    scratch[percent] = static_cast<char16_t>(u'0' + m_substitution);
    return scratch;
}

CRelkeyFile::LineResult CRelkeyFile::ParseLine(const std::string& narrowLine) {
    m_wide.resize(narrowLine.size());
    if (WidenAscii(narrowLine, m_wide.data()) < narrowLine.size()) m_wide = FromAnsi(narrowLine);
    WStringView line = m_wide;
    while (!line.empty() && IsWhite(line.front())) line.remove_prefix(1);
    if (line.empty()) return LineResult::Complete;
    if (StartsWith(line, u"end")) {
        m_endFlag = true;
        return LineResult::Complete;
    }
    // The line feed ends the line; a remark does not take it.
    if (line.back() == u'\n') line.remove_suffix(1);

    std::vector<WStringView>& tokens = m_tokens;
    Tokenize(line, tokens);
    WString scratch;
    if (tokens[0][0] == u'&') {
        m_head[kSubTitle] = tokens[0];
        return LineResult::Continue;
    }
    if (!StartsWith(tokens[0], u"grp")) return LineResult::Malformed;
    m_head[kLabel] = tokens[0];

    if (tokens.size() < 2) return LineResult::Malformed;
    if (tokens[1][0] == u'"') {
        m_head[kTitle] = Substitute(Unquote(tokens[1]), scratch);
        m_head[kCategory] = tokens.size() > 2 && StartsWith(tokens[2], u"Category") ? CategoryOf(tokens[2]) : WString();
        return LineResult::Continue;
    }
    if (!IsGroupCode(tokens[1])) return LineResult::Malformed;
    m_head[kCode] = tokens[1];

    if (tokens.size() < 3 || tokens[2][0] != u'"') return LineResult::Malformed;
    WString descriptionScratch;
    const WStringView description = Substitute(Unquote(tokens[2]), descriptionScratch);
    if (tokens.size() < 4) return LineResult::Malformed;
    WStringView datFile;
    if (EndsWith(tokens[3], u"dat")) {
        datFile = Substitute(tokens[3], scratch);
    } else if (tokens[3] != u"void") {
        return LineResult::Malformed;
    }
    std::size_t next = 4;
    WStringView subLabel;
    WStringView remark;
    if (next < tokens.size() && tokens[next][0] == u'&') subLabel = tokens[next++];
    if (next < tokens.size()) {
        if (!StartsWith(tokens[next], u"//")) return LineResult::Malformed;
        remark = tokens[next];
    }
    m_options.emplace_back().SetTexts(description, datFile, subLabel, {}, remark);
    return LineResult::Continue;
}

int CRelkeyFile::GetFirstGroup(WStringView path, CRelkeyGroup& group) {
    m_endFlag = false;
    GetType(path, m_type);
    if (!ReadGroupText(path)) return -2;
    m_position = 0;
    return GetNextGroup(group);
}

int CRelkeyFile::GetNextGroup(CRelkeyGroup& group) {
    std::string& line = m_line;
    // Main groups start at "grp" lines; after "end" only sub groups ("&") follow.
    for (;;) {
        if (!TakeLine(line)) return -1;
        if (StartsWith(line, "end")) m_endFlag = true;
        if (m_endFlag ? StartsWith(line, "&") : StartsWith(line, "grp")) break;
    }
    for (WString& text : m_head) text.clear();
    m_options.clear();
    for (;;) {
        switch (ParseLine(line)) {
            case LineResult::Complete:
                group.SetTexts(m_head[kTitle], m_head[kLabel], m_head[kCode], m_head[kSubTitle], {}, m_head[kCategory]);
                group.ReserveOptions(group.Options().size() + m_options.size());
                for (CRelkeyOption& option : m_options) group.AddOption(std::move(option));
                return 0;
            case LineResult::Malformed:
                return -2;
            case LineResult::Continue:
                break;
        }
        if (!TakeLine(line)) return -1;
    }
}

int CRelkeyFile::GetRelkeyName(int32_t signature, WString& name) {
    if (signature >= 1 && signature <= 999) {
        const char16_t digits[] = {static_cast<char16_t>(u'0' + signature / 100),
                                   static_cast<char16_t>(u'0' + signature / 10 % 10),
                                   static_cast<char16_t>(u'0' + signature % 10), 0};
        name = Format(u"%s.%s", u"relkey", digits);
        return 1;
    }
    if (signature == 1001 || signature == 1002) {
        name = u"relkey.txt";
        return 1;
    }
    TraceFormatted(u"CRelkeyFile::GetRelkeyName, Error signature nr %d\n", signature);
    return 0;
}

int CRelkeyFile::GetRelkeyFilePath(WStringView programPath, int32_t signature, WString& path) {
    WString name;
    if (signature >= 1 && signature <= 999) {
        GetRelkeyName(signature, name);
    } else if (signature == 1001 || signature == 1002) {
        name = u"relkey.opt";
    } else {
        TraceFormatted(u"CRelkeyFile::GetRelkeyFilePath, Error signature nr %d\n", signature);
        return -1;
    }
    path = Format(u"%s\\%s\\%s", programPath, u"syskey", name).substr(0, kMaxPath);
    return 0;
}

}  // namespace kel
