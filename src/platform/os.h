// Operating-system primitives. Each backend (win32/, posix/) implements this
// header and nothing above the platform layer calls the OS directly. Paths are
// Windows-form everywhere; the POSIX backend maps them at the call.
#pragma once

#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

#include "KelCom.h"
#include "platform/text.h"

namespace kel::os {

enum class EntryKind { None, File, Directory };
EntryKind GetEntryKind(WStringView path);

struct DirEntry {
    WString name;
    bool isDirectory = false;  // what the entry leads to: a link to a folder counts
    bool isLink = false;       // a symbolic link, junction or other reparse point
};
// True when path itself is a link (symbolic link, junction, reparse point).
bool IsLink(WStringView path);
// GetEntryKind and IsLink in one look-up.
EntryKind GetEntryKind(WStringView path, bool& isLink);
// Whether anything is at path, a link that leads nowhere too.
bool Exists(WStringView path);
// Entries of a directory without "." and "..", in no particular order.
bool ListDirectory(WStringView directory, std::vector<DirEntry>& entries);

// How a name that is not there is made. Search first looks for one that
// differs only in letter case, as Windows would find it, on file systems
// that tell case apart; Cleared takes it as written, for a name the caller
// has just moved away itself or made up to be unique.
enum class NewName { Search, Cleared };

bool MakeDirectory(WStringView path, NewName name = NewName::Search);  // fails when anything exists there
bool RemoveEmptyDirectory(WStringView path);
bool RemoveFile(WStringView path);
// Removes the link at path itself, a folder's link too, never what it leads to.
bool RemoveLink(WStringView path);

enum class RenameResult { Ok, CrossDevice, Failed };
// Without replaceFile the rename never replaces anything, checked atomically:
// a name made this way is made exclusively. With it an existing file there is
// replaced in one step (never a directory), read-only or not.
RenameResult Rename(WStringView from, WStringView to, bool replaceFile = false, NewName name = NewName::Search);

enum class CopyTo {
    Replace,    // an existing file at to is overwritten
    NewFolder,  // the caller has just made to's folder, so no other spelling of
                // the name can be there and it is used as given (no search)
    NewName,    // fails when anything is at to, checked atomically: the name is
                // made exclusively; a failed copy leaves nothing there
};
// Copies one file's contents (a link's target's).
bool CopyOneFile(WStringView from, WStringView to, CopyTo mode = CopyTo::Replace);

// mode as for fopen ("rb", "wb", "ab"); null on failure.
std::FILE* OpenFile(WStringView path, const char* mode, NewName name = NewName::Search);
// Every byte of a file; false when it cannot be opened or read.
bool ReadWholeFile(WStringView path, std::string& bytes);
// Creates or replaces the file with bytes; false when any step failed.
bool WriteWholeFile(WStringView path, std::string_view bytes);
// fwrite, as a primitive the fault hook can fail: true when all was written.
bool WriteBytes(std::FILE* file, const void* data, std::size_t size);
// Puts what was written to the file, or the names a directory holds, on the
// disk before a step that depends on it. Directories: true on Windows, where
// the file system orders its own metadata.
bool FlushFile(std::FILE* file);
bool FlushDirectory(WStringView directory);
// FlushFile for a closed file; fails like an open for writing.
bool FlushFileAt(WStringView path);

// An advisory lock on a file, released by Unlock, the destructor or the
// process's death. Two FileLock objects exclude each other, in one process too.
class FileLock {
public:
    enum class Mode { Shared, Exclusive };
    enum class Result { Locked, Busy, NoFile, Failed };
    FileLock() = default;
    ~FileLock() { Unlock(); }
    FileLock(FileLock&& other) noexcept : handle_(other.handle_) { other.handle_ = kNone; }
    FileLock& operator=(FileLock&& other) noexcept {
        if (this != &other) {
            Unlock();
            handle_ = std::exchange(other.handle_, kNone);
        }
        return *this;
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Opens path (creating it when it is missing and the folder is writable)
    // and locks it, waiting up to waitMilliseconds for other holders.
    // NoFile: missing and cannot be made (read-only media).
    Result Lock(WStringView path, Mode mode, unsigned waitMilliseconds);
    // Makes a new file at path that appears already locked exclusively, so no
    // other process ever finds it unlocked while its maker lives. False when
    // anything is at path.
    bool CreateLocked(WStringView path);
    void Unlock();
    bool Held() const { return handle_ != kNone; }

private:
    static constexpr intptr_t kNone = -1;
    intptr_t handle_ = kNone;
};
// Whether the file at path carries no lock now (its owner is gone); false when
// it is locked or cannot be opened.
bool IsUnlocked(WStringView path);

// Whether the entry at path belongs to the user running this process
// (Windows: always true, the temporary folder being the user's own).
bool OwnedByCurrentUser(WStringView path);

// A folder this process made for itself alone and fills only with names
// it makes (a work folder). While it is marked, names made in it are taken
// as written: a file system that tells letter case apart is not searched
// for a name that differs only in case. Unmark it before it goes.
void MarkOwnFolder(WStringView path, bool own);

// The user's temporary directory, without a trailing backslash.
bool GetTempDirectory(WString& directory);
// Creates an empty file "<prefix>XXXX.tmp" (XXXX upper-case hex) in directory.
// No two calls in one process try the same XXXX before all 65536 are used, so
// a name reserved, deleted and reused by one thread is not handed to another.
bool CreateUniqueTempFile(WStringView directory, WStringView prefix, WString& path);
// Makes a new folder "<prefix>XXXX.tmp" in directory, trying the next
// number while one is taken.
bool CreateUniqueTempFolder(WStringView directory, WStringView prefix, WString& path);
// The next number for a temporary name (process-wide, random start); for the backends.
uint16_t NextTempNameNumber();
// "<directory>\<prefix>XXXX.tmp".
WString TempNameCandidate(WStringView directory, WStringView prefix, uint16_t number);

bool NewGuid(GUID& guid);

void DebugOutput(const char16_t* piece);

// A path as a user types it on this platform (UTF-8), in the component's Windows form.
WString FromNativePath(const std::string& path);
// A program's arguments in UTF-8: on Windows from the wide command line, since
// argv holds its ANSI copy, where a letter the code page lacks is lost.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

std::string AnsiFromWide(WStringView text);
WString WideFromAnsi(std::string_view text);
WString UpperCase(WStringView text);
// Case-sensitive equality as the user's locale compares texts. Windows asks
// the locale; elsewhere canonically equivalent texts are equal (a letter
// with its marks precomposed or not) and nothing else differing is.
bool LocaleEquals(WStringView a, WStringView b);

// Open handles (file descriptors) of the process, -1 when unknown: for leak checks.
long OpenHandleCount();

// The folder of the running program, native form (empty when unknown).
std::string ExecutableDirectory();

// A loaded shared library (for clients and tests of the exported entry points).
class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;
    bool Open(const std::string& nativePath);
    void* Symbol(const char* name) const;
    void Close();

private:
    void* handle_ = nullptr;
};

}  // namespace kel::os
