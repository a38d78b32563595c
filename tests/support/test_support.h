// Helpers shared by the unit tests of both platforms.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "KelInstallSystem.h"
#include "options/relkey_group.h"
#include "options/selection_group.h"
#include "platform/fault_injection.h"
#include "platform/raii.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "shared/key_info.h"
#include "shared/keystring.h"

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

std::string ReadAll(WStringView path);
bool WriteAll(WStringView path, std::string_view bytes);
bool Exists(WStringView path);
bool IsDirectory(WStringView path);
// A symbolic link at link to target (a folder or a file, or nothing). False
// where this system makes none: Windows without the right to, or Wine 8,
// whose CreateSymbolicLinkW answers TRUE and makes nothing.
bool MakeLink(WStringView link, WStringView target);
inline constexpr const char* kNoLinks =
    "this system makes no symbolic links (Wine 8: CreateSymbolicLinkW answers TRUE and makes none)";

// A sample release's directory, and the keys of samples/keys.txt in their order
// there, so that the keys a user is given are the ones every test uses.
WString SampleRelease(WStringView name);
const WString& SampleKey(std::size_t index);
inline const WString kMainKey = SampleKey(0);
inline const WString kVirtualKey = SampleKey(1);
inline const WString kDriveKey = SampleKey(2);
inline const WString kArcKey = SampleKey(3);
inline const WString kPickKey = SampleKey(4);
// The keystring with some of its fields changed, and signed anew.
WString Rekey(WStringView keystring, const std::function<void(KeyDescription&)>& change);
CKeyInfo Key(WStringView keystring, WStringView programPath, uint32_t type, uint16_t module = 0);

// A sealed file's plain text ("?" when the file is no sealed file).
std::string Unsealed(WStringView path);

// The "cct" entries of dir, by default the temporary directory: an operation
// leaves none behind.
std::set<WString> WorkDirectories(WStringView dir = {});
// Every file below dir (relative path -> bytes), to show a tree unchanged.
std::map<WString, std::string> Snapshot(WStringView dir);

// One file-system primitive made to fail at its nth call, and what the
// operation must then answer: its status and how its last trace record
// starts (null: no trace expected).
struct Fault {
    os::Primitive primitive;
    int nth;
    HRESULT status;
    const char* trace;
    int times = 1;  // a fault that lasts: this many calls in a row fail
};
// Runs the operation under the fault and checks status, trace, disk() and
// that no work directory is left behind.
void ExpectFault(const Fault& fault, const std::function<HRESULT()>& operation, const std::function<void()>& disk);

struct CommandResult {
    int code;
    std::string out;
};
// Runs a program of the build folder with these arguments, without a shell:
// its exit code (128 + the signal that ended it) and its output, standard and
// error together. A start that fails is tried again; -1 when none succeeded.
CommandResult RunProgram(const char* name, const std::vector<std::string>& arguments);
// A program of the build folder, as the shell of this platform names it (under
// Wine the tests run in the build folder).
std::string BuiltProgram(const char* name);
void SetEnvironment(const char* name, const std::string& value);
// A path as a user of this platform types it, and quoted for the shell.
std::string NativePath(WStringView path);
std::string ShellPath(WStringView path);
// A component object from the module's class factory, in process (null on failure).
ComPtr<IKelInstallSystem> NewSystemObject();
inline UniqueBstr B(WStringView text) { return UniqueBstr::From(text); }
// English and German swap places in the main program's language group of an
// option document (false when it has no such group).
bool SelectGerman(WString& options);
// What kelsys verify says of a system: "clean\n", or what it found wrong.
std::string Verify(WStringView system);

std::u16string U(std::string_view utf8);
std::string N(WStringView text);

// A group on one line, to compare with one expectation:
// "label|title|code|category|subtitle|subguid", then per option
// " / description|data file|sub label|remark" (a selection option: "state:" first).
std::string Line(const CRelkeyGroup& group);
std::string Line(const CSelectionGroup& group);

}  // namespace kel::test
