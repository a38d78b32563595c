// Helpers shared by the unit tests of both platforms.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "options/relkey_group.h"
#include "options/selection_group.h"
#include "platform/text.h"
#include "platform/trace.h"

namespace kel::test {

// A fresh directory under the temporary directory, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const WString& path() const { return path_; }
    WString operator/(WStringView name) const { return path_ + u"\\" + WString(name); }

private:
    WString path_;
};

// Collects trace records while alive.
class TraceCapture {
public:
    struct Record {
        std::string module;
        std::string message;
    };
    TraceCapture();
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    const std::vector<std::u16string>& pieces() const { return pieces_; }
    // Five-piece records, parsed; short records are left in pieces().
    std::vector<Record> records() const;
    // Whether any record's message equals text (UTF-8).
    bool Has(const std::string& message) const;
    void Clear() { pieces_.clear(); }

private:
    static void Sink(const char16_t* piece, void* self);
    std::vector<std::u16string> pieces_;
};

// The repository's source and build directories in Windows form.
WString SourceDir();
WString BinaryDir();

// Whole-file helpers for fixtures and assertions.
std::string ReadAll(WStringView path);
bool WriteAll(WStringView path, std::string_view bytes);
bool Exists(WStringView path);
bool IsDirectory(WStringView path);

std::u16string U(std::string_view utf8);
std::string N(WStringView text);

// A group on one line, to compare with one expectation:
// "label|title|code|category|subtitle|subguid", then per option
// " / description|data file|sub label|remark" (a selection option: "state:" first).
std::string Line(const CRelkeyGroup& group);
std::string Line(const CSelectionGroup& group);

}  // namespace kel::test
