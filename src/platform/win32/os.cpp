// Win32 primitives.
#include "platform/os.h"

#include "platform/fault_injection.h"

#include <windows.h>
#include <shellapi.h>

#include <io.h>

#include <algorithm>
#include <utility>

namespace kel::os {

namespace {

const wchar_t* W(const WString& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

}  // namespace

EntryKind GetEntryKind(WStringView path) {
    bool isLink = false;
    return GetEntryKind(path, isLink);
}

bool ListDirectory(WStringView directory, std::vector<DirEntry>& entries) {
    WString pattern(directory);
    if (pattern.empty() || pattern.back() != u'\\') pattern.push_back(u'\\');
    pattern.push_back(u'*');
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(W(pattern), &data);
    if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        const WString name(reinterpret_cast<const char16_t*>(data.cFileName));
        if (name == u"." || name == u"..") continue;
        entries.push_back({name, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                           (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0});
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return true;
}

bool IsLink(WStringView path) {
    const DWORD attributes = GetFileAttributesW(W(WString(path)));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

EntryKind GetEntryKind(WStringView path, bool& isLink) {
    const DWORD attributes = GetFileAttributesW(W(WString(path)));
    isLink = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::None;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::Directory : EntryKind::File;
}

bool Exists(WStringView path) { return GetFileAttributesW(W(WString(path))) != INVALID_FILE_ATTRIBUTES; }

bool MakeDirectory(WStringView path, NewName) {
    if (Faulted(Primitive::MakeDirectory)) return false;
    return CreateDirectoryW(W(WString(path)), nullptr) != FALSE;
}

bool RemoveEmptyDirectory(WStringView path) {
    if (Faulted(Primitive::RemoveEmptyDirectory)) return false;
    const WString p(path);
    if (RemoveDirectoryW(W(p))) return true;
    SetFileAttributesW(W(p), FILE_ATTRIBUTE_NORMAL);
    return RemoveDirectoryW(W(p)) != FALSE;
}

bool RemoveFile(WStringView path) {
    if (Faulted(Primitive::RemoveFile)) return false;
    const WString p(path);
    if (DeleteFileW(W(p))) return true;
    // The shell deletes read-only files without asking; so do we.
    SetFileAttributesW(W(p), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(W(p)) != FALSE;
}

bool RemoveLink(WStringView path) {
    if (Faulted(Primitive::RemoveFile)) return false;
    const WString p(path);
    const DWORD attributes = GetFileAttributesW(W(p));
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
    // A folder's link (symbolic link, junction) goes as a folder: only the link
    // is removed, whatever its target holds.
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return RemoveDirectoryW(W(p)) != FALSE;
    return DeleteFileW(W(p)) != FALSE;
}

RenameResult Rename(WStringView from, WStringView to, bool replaceFile, NewName) {
    if (Faulted(Primitive::Rename)) return RenameResult::Failed;
    const WString target(to);
    if (replaceFile && GetEntryKind(to) == EntryKind::Directory) return RenameResult::Failed;
    const DWORD flags = replaceFile ? MOVEFILE_REPLACE_EXISTING : 0;
    if (MoveFileExW(W(WString(from)), W(target), flags)) return RenameResult::Ok;
    DWORD error = GetLastError();
    if (replaceFile && error == ERROR_ACCESS_DENIED) {
        // Windows refuses to replace a read-only file; the shell would overwrite it.
        const DWORD attributes = GetFileAttributesW(W(target));
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
            SetFileAttributesW(W(target), attributes & ~FILE_ATTRIBUTE_READONLY)) {
            if (MoveFileExW(W(WString(from)), W(target), flags)) return RenameResult::Ok;
            error = GetLastError();
            SetFileAttributesW(W(target), attributes);
        }
    }
    return error == ERROR_NOT_SAME_DEVICE ? RenameResult::CrossDevice : RenameResult::Failed;
}

// NewFolder needs nothing here: Windows matches names without a search of ours.
bool CopyOneFile(WStringView from, WStringView to, CopyTo mode) {
    if (Faulted(Primitive::CopyOneFile)) return false;
    const WString target(to);
    // A new name fails when taken, and nothing of what is there changes.
    if (mode == CopyTo::NewName) return CopyFileW(W(WString(from)), W(target), TRUE) != FALSE;
    if (CopyFileW(W(WString(from)), W(target), FALSE)) return true;
    SetFileAttributesW(W(target), FILE_ATTRIBUTE_NORMAL);
    return CopyFileW(W(WString(from)), W(target), FALSE) != FALSE;
}

std::FILE* OpenFile(WStringView path, const char* mode, NewName) {
    if ((mode[0] == 'w' || mode[0] == 'a') && Faulted(Primitive::OpenForWrite)) return nullptr;
    WString wideMode;
    for (const char* m = mode; *m; ++m) wideMode.push_back(static_cast<char16_t>(*m));
    return _wfopen(W(WString(path)), W(wideMode));
}

bool WriteBytes(std::FILE* file, const void* data, std::size_t size) {
    if (Faulted(Primitive::Write)) return false;
    return std::fwrite(data, 1, size, file) == size;
}

bool FlushFile(std::FILE* file) {
    if (std::fflush(file) != 0) return false;
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle);
}

bool FlushDirectory(WStringView) { return true; }

bool FlushFileAt(WStringView path) {
    if (Faulted(Primitive::OpenForWrite)) return false;
    constexpr DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE file =
        CreateFileW(W(WString(path)), GENERIC_WRITE, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool flushed = FlushFileBuffers(file) != FALSE;
    return CloseHandle(file) != FALSE && flushed;
}

namespace {

HANDLE OpenLockFile(const WString& path, DWORD disposition, DWORD& error) {
    constexpr DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE file = CreateFileW(W(path), GENERIC_READ | GENERIC_WRITE, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && disposition == OPEN_ALWAYS) {
        file = CreateFileW(W(path), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    error = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    return file;
}

bool LockHandle(HANDLE file, bool exclusive) {
    OVERLAPPED overlapped{};
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    return LockFileEx(file, flags, 0, 1, 0, &overlapped) != FALSE;
}

}  // namespace

FileLock::Result FileLock::Lock(WStringView path, Mode mode, unsigned waitMilliseconds) {
    Unlock();
    DWORD error = 0;
    const HANDLE file = OpenLockFile(WString(path), OPEN_ALWAYS, error);
    if (file == INVALID_HANDLE_VALUE) {
        const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                             error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT;
        return missing ? Result::NoFile : Result::Failed;
    }
    const ULONGLONG deadline = GetTickCount64() + waitMilliseconds;
    for (;;) {
        if (LockHandle(file, mode == Mode::Exclusive)) {
            handle_ = reinterpret_cast<intptr_t>(file);
            return Result::Locked;
        }
        const DWORD failure = GetLastError();
        if (failure != ERROR_LOCK_VIOLATION || GetTickCount64() >= deadline) {
            CloseHandle(file);
            return failure == ERROR_LOCK_VIOLATION ? Result::Busy : Result::Failed;
        }
        Sleep(2);
    }
}

bool FileLock::CreateLocked(WStringView path) {
    Unlock();
    // Opened without sharing until locked, so nobody finds it unlocked meanwhile.
    const HANDLE file = CreateFileW(W(WString(path)), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    if (!LockHandle(file, true)) {
        CloseHandle(file);
        DeleteFileW(W(WString(path)));
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(file);
    return true;
}

void FileLock::Unlock() {
    if (handle_ != kNone) CloseHandle(reinterpret_cast<HANDLE>(std::exchange(handle_, kNone)));
}

bool IsUnlocked(WStringView path) {
    DWORD error = 0;
    const HANDLE file = OpenLockFile(WString(path), OPEN_EXISTING, error);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool unlocked = LockHandle(file, true);
    CloseHandle(file);
    return unlocked;
}

bool OwnedByCurrentUser(WStringView) { return true; }

// Windows never tells names apart by letter case.
void MarkOwnFolder(WStringView, bool) {}

bool GetTempDirectory(WString& directory) {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) return false;
    directory.assign(reinterpret_cast<const char16_t*>(buffer), length);
    while (directory.size() > 3 && directory.back() == u'\\') directory.pop_back();
    return true;
}

bool CreateUniqueTempFile(WStringView directory, WStringView prefix, WString& path) {
    if (Faulted(Primitive::TempName)) return false;
    // GetTempFileName's own numbers start at the tick count: threads in one tick would share them.
    for (unsigned i = 0; i < 0x10000; ++i) {
        WString candidate = TempNameCandidate(directory, prefix, NextTempNameNumber());
        const HANDLE file = CreateFileW(W(candidate), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            path = std::move(candidate);
            return true;
        }
        const DWORD error = GetLastError();
        // A directory, or a file being deleted, of that name refuses access.
        const bool taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
                           (error == ERROR_ACCESS_DENIED && GetFileAttributesW(W(candidate)) != INVALID_FILE_ATTRIBUTES);
        if (!taken) return false;
    }
    return false;
}

long OpenHandleCount() {
    DWORD count = 0;
    if (!GetProcessHandleCount(GetCurrentProcess(), &count)) return -1;
    if (count > 0) return static_cast<long>(count);
    // Wine answers 0: ask every handle value (multiples of 4) of a small process instead.
    long probed = 0;
    for (uintptr_t value = 4; value < 0x10000; value += 4) {
        DWORD flags;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++probed;
    }
    return probed;
}

bool NewGuid(GUID& guid) { return SUCCEEDED(CoCreateGuid(&guid)); }

void DebugOutput(const char16_t* piece) { OutputDebugStringW(reinterpret_cast<const wchar_t*>(piece)); }

WString FromNativePath(const std::string& path) { return FromUtf8(path); }

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return {argv, argv + argc};
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(ToUtf8(reinterpret_cast<const char16_t*>(wide[i])));
    LocalFree(wide);
    return arguments;
}

std::string AnsiFromWide(WStringView text) {
    if (text.empty()) return {};
    const auto* source = reinterpret_cast<const wchar_t*>(text.data());
    // '?' rather than a look-alike letter, as on Linux: a path must not turn into another one.
    const DWORD flags = WC_NO_BEST_FIT_CHARS;
    const int size = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_ACP, flags, source, size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, flags, source, size, out.data(), length, nullptr, nullptr);
    return out;
}

WString WideFromAnsi(std::string_view text) {
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    WString out(static_cast<std::size_t>(length), u'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), reinterpret_cast<wchar_t*>(out.data()), length);
    return out;
}

WString UpperCase(WStringView text) {
    WString out(text);
    if (!out.empty()) CharUpperBuffW(reinterpret_cast<wchar_t*>(out.data()), static_cast<DWORD>(out.size()));
    return out;
}

bool LocaleEquals(WStringView a, WStringView b) {
    if (SameText(a, b)) return true;
    // Every printable ASCII character weighs in every locale's sort, so two such
    // texts that differ never compare equal; asking the locale costs a microsecond.
    const auto printable = [](WStringView text) {
        return std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= 0x20 && c < 0x7F; });
    };
    if (printable(a) && printable(b)) return false;
    // Lengths are passed so that a NUL inside a text is compared too.
    const auto data = [](WStringView text) { return text.empty() ? L"" : reinterpret_cast<const wchar_t*>(text.data()); };
    return CompareStringW(LOCALE_USER_DEFAULT, 0, data(a), static_cast<int>(a.size()), data(b),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

DynamicLibrary::~DynamicLibrary() { Close(); }

std::string ExecutableDirectory() {
    char buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    const std::string path(buffer, length);
    return path.substr(0, path.find_last_of("\\/"));
}

bool DynamicLibrary::Open(const std::string& nativePath) {
    Close();
    handle_ = reinterpret_cast<void*>(LoadLibraryA(nativePath.c_str()));
    return handle_ != nullptr;
}

void* DynamicLibrary::Symbol(const char* name) const {
    return handle_ ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name)) : nullptr;
}

void DynamicLibrary::Close() {
    if (handle_) FreeLibrary(static_cast<HMODULE>(std::exchange(handle_, nullptr)));
}

}  // namespace kel::os
