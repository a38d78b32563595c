// POSIX primitives. Paths arrive in Windows form and are mapped here.
#include "platform/os.h"

#include "platform/fault_injection.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <thread>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <locale.h>
#include <utility>

#include "platform/posix/path_map.h"

namespace kel::os {

using posix::MapPath;
using posix::UnmapPath;

namespace {

// Whether the mapped path is there, st its lstat, asking only what the mapping did not see.
bool Looked(const std::string& native, struct stat& st, posix::Seen seen) {
    return seen == posix::Seen::Present || (seen == posix::Seen::Unknown && lstat(native.c_str(), &st) == 0);
}

// Acts where the entry most likely is, and on the path resolved ignoring
// case only when nothing is there: the look-up that resolving starts with
// is saved. act returns false with errno set.
template <class Act>
bool OnExisting(WStringView path, Act act) {
    const auto likely = posix::MapLikely(path);
    if (!likely) return false;
    if (act(*likely)) return true;
    if (errno != ENOENT && errno != ENOTDIR) return false;
    const auto resolved = posix::MapPathBeyond(path, *likely);
    return resolved && *resolved != *likely && act(*resolved);
}

}  // namespace

EntryKind GetEntryKind(WStringView path, bool& isLink) {
    isLink = false;
    struct stat st;
    posix::Seen seen = posix::Seen::Unknown;
    const auto native = MapPath(path, st, seen);
    if (!native || !Looked(*native, st, seen)) return EntryKind::None;
    isLink = S_ISLNK(st.st_mode);
    // A link counts as what it leads to.
    if (isLink && stat(native->c_str(), &st) != 0) return EntryKind::None;
    return S_ISDIR(st.st_mode) ? EntryKind::Directory : EntryKind::File;
}

EntryKind GetEntryKind(WStringView path) {
    bool isLink = false;
    return GetEntryKind(path, isLink);
}

bool ListDirectory(WStringView directory, std::vector<DirEntry>& entries) {
    DIR* dir = nullptr;
    std::string native;
    if (!OnExisting(directory, [&](const std::string& path) {
            native = path;
            return (dir = opendir(path.c_str())) != nullptr;
        })) {
        return false;
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        bool isDirectory = entry->d_type == DT_DIR;
        bool isLink = entry->d_type == DT_LNK;
        if (entry->d_type == DT_UNKNOWN || isLink) {
            struct stat st;
            const std::string full = native + "/" + name;
            if (!isLink) isLink = lstat(full.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
            isDirectory = stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        entries.push_back({FromUtf8(name), isDirectory, isLink});
    }
    closedir(dir);
    return true;
}

bool IsLink(WStringView path) {
    struct stat st;
    posix::Seen seen = posix::Seen::Unknown;
    const auto native = MapPath(path, st, seen);
    return native && Looked(*native, st, seen) && S_ISLNK(st.st_mode);
}

bool Exists(WStringView path) {
    struct stat st;
    posix::Seen seen = posix::Seen::Unknown;
    const auto native = MapPath(path, st, seen);
    return native && Looked(*native, st, seen);
}

bool MakeDirectory(WStringView path, NewName name) {
    if (Faulted(Primitive::MakeDirectory)) return false;
    const auto native = name == NewName::Cleared ? posix::MapInExactFolder(path) : MapPath(path);
    return native && mkdir(native->c_str(), 0777) == 0;
}

bool RemoveEmptyDirectory(WStringView path) {
    if (Faulted(Primitive::RemoveEmptyDirectory)) return false;
    return OnExisting(path, [](const std::string& native) { return rmdir(native.c_str()) == 0; });
}

bool RemoveFile(WStringView path) {
    if (Faulted(Primitive::RemoveFile)) return false;
    return OnExisting(path, [](const std::string& native) { return unlink(native.c_str()) == 0; });
}

bool RemoveLink(WStringView path) {
    if (Faulted(Primitive::RemoveFile)) return false;
    const auto native = MapPath(path);
    struct stat st;
    // unlink takes a link to a folder as it takes any other link.
    return native && lstat(native->c_str(), &st) == 0 && S_ISLNK(st.st_mode) && unlink(native->c_str()) == 0;
}

RenameResult Rename(WStringView from, WStringView to, bool replaceFile, NewName name) {
    if (Faulted(Primitive::Rename)) return RenameResult::Failed;
    struct stat st;
    posix::Seen seen = posix::Seen::Unknown;
    const auto target = name == NewName::Cleared ? posix::MapInExactFolder(to) : MapPath(to, st, seen);
    if (!target) return RenameResult::Failed;
    RenameResult result = RenameResult::Failed;
    const auto move = [&](const std::string& source) {
        result = RenameResult::Failed;
        if (!replaceFile) {
            // Atomically exclusive where the file system can say so.
            if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target->c_str(), RENAME_NOREPLACE) == 0) {
                result = RenameResult::Ok;
                return true;
            }
            if (errno == EXDEV) result = RenameResult::CrossDevice;
            if (errno != EINVAL && errno != ENOSYS) return false;
        }
        // What the mapping saw of the target serves, once.
        const bool there = seen == posix::Seen::Unknown ? lstat(target->c_str(), &st) == 0 : seen == posix::Seen::Present;
        seen = posix::Seen::Unknown;
        if (there && !(replaceFile && S_ISREG(st.st_mode))) {
            errno = EEXIST;
            return false;
        }
        if (rename(source.c_str(), target->c_str()) == 0) {
            result = RenameResult::Ok;
            return true;
        }
        if (errno == EXDEV) result = RenameResult::CrossDevice;
        return false;
    };
    OnExisting(from, move);
    return result;
}

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    bool Close() { return close(std::exchange(fd_, -1)) == 0; }

private:
    int fd_;
};

bool CopyWithReadWrite(int in, int out) {
    std::array<char, 1 << 16> buffer;
    for (;;) {
        const ssize_t got = read(in, buffer.data(), buffer.size());
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = write(out, buffer.data() + done, static_cast<size_t>(got - done));
            if (put < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            done += put;
        }
    }
}

bool CopyContents(int in, const struct stat& st, Descriptor& out) {
    // Where the file system shares extents (btrfs, XFS) the copy costs no data at all.
    if (st.st_size > 0 && ioctl(out.get(), FICLONE, in) == 0) return out.Close();
    off_t remaining = st.st_size;
    while (remaining > 0) {
        const ssize_t copied = copy_file_range(in, nullptr, out.get(), nullptr, static_cast<size_t>(remaining), 0);
        if (copied > 0) {
            remaining -= copied;
            continue;
        }
        if (copied < 0 && errno == EINTR) continue;
        if (copied == 0 || errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) {
            // Not supported between these file systems (or the file shrank): plain copy of the rest.
            if (!CopyWithReadWrite(in, out.get())) return false;
            break;
        }
        return false;
    }
    return out.Close();
}

}  // namespace

bool CopyOneFile(WStringView from, WStringView to, CopyTo mode) {
    if (Faulted(Primitive::CopyOneFile)) return false;
    const auto source = MapPath(from);
    const auto target = mode == CopyTo::NewFolder ? posix::MapInExactFolder(to) : MapPath(to);
    if (!source || !target) return false;
    Descriptor in(open(source->c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (in.get() < 0 || fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const int create = mode == CopyTo::NewName ? O_EXCL : O_TRUNC;
    Descriptor out(open(target->c_str(), O_WRONLY | O_CREAT | create | O_CLOEXEC, st.st_mode & 0777));
    if (out.get() < 0) return false;
    if (CopyContents(in.get(), st, out)) return true;
    // The name was made for this copy alone, so nobody else's file goes.
    if (mode == CopyTo::NewName) unlink(target->c_str());
    return false;
}

std::FILE* OpenFile(WStringView path, const char* mode, NewName name) {
    const bool writes = mode[0] == 'w' || mode[0] == 'a';
    if (writes && Faulted(Primitive::OpenForWrite)) return nullptr;
    std::FILE* file = nullptr;
    const auto open = [&](const std::string& native) { return (file = std::fopen(native.c_str(), mode)) != nullptr; };
    if (!writes) return OnExisting(path, open) ? file : nullptr;
    // A new name must not stand beside one that differs only in case.
    const auto native = name == NewName::Cleared ? posix::MapInExactFolder(path) : MapPath(path);
    return native && open(*native) ? file : nullptr;
}

bool WriteBytes(std::FILE* file, const void* data, std::size_t size) {
    if (Faulted(Primitive::Write)) return false;
    return std::fwrite(data, 1, size, file) == size;
}

bool FlushFile(std::FILE* file) { return std::fflush(file) == 0 && fsync(fileno(file)) == 0; }

bool FlushFileAt(WStringView path) {
    if (Faulted(Primitive::OpenForWrite)) return false;
    // fsync needs no write access here, nor the seek an append would make.
    return OnExisting(path, [](const std::string& native) {
        Descriptor file(open(native.c_str(), O_RDONLY | O_CLOEXEC));
        return file.get() >= 0 && fsync(file.get()) == 0;
    });
}

bool FlushDirectory(WStringView directory) {
    return OnExisting(directory, [](const std::string& native) {
        Descriptor dir(open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        return dir.get() >= 0 && fsync(dir.get()) == 0;
    });
}

FileLock::Result FileLock::Lock(WStringView path, Mode mode, unsigned waitMilliseconds) {
    Unlock();
    const auto native = MapPath(path);
    if (!native) return Result::Failed;
    int fd = open(native->c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) fd = open(native->c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT || errno == EROFS || errno == EACCES ? Result::NoFile : Result::Failed;
    const int operation = (mode == Mode::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMilliseconds);
    for (;;) {
        if (flock(fd, operation) == 0) {
            handle_ = fd;
            return Result::Locked;
        }
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
            const bool busy = errno == EWOULDBLOCK;
            close(fd);
            return busy ? Result::Busy : Result::Failed;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool FileLock::CreateLocked(WStringView path) {
    Unlock();
    const auto native = MapPath(path);
    if (!native) return false;
    const std::string folder = native->substr(0, native->rfind('/'));
    // An unnamed file, locked, then given its name: never seen unlocked.
    int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            linkat(AT_FDCWD, ("/proc/self/fd/" + std::to_string(fd)).c_str(), AT_FDCWD, native->c_str(), AT_SYMLINK_FOLLOW) == 0) {
            handle_ = fd;
            return true;
        }
        close(fd);
        return false;
    }
    // No unnamed files here: a name of our own first, then the rename.
    const std::string staged = *native + ".~" + std::to_string(getpid());
    fd = open(staged.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, native->c_str(), RENAME_NOREPLACE) == 0) {
        handle_ = fd;
        return true;
    }
    unlink(staged.c_str());
    close(fd);
    return false;
}

void FileLock::Unlock() {
    if (handle_ != kNone) close(static_cast<int>(std::exchange(handle_, kNone)));
}

bool IsUnlocked(WStringView path) {
    const auto native = MapPath(path);
    if (!native) return false;
    Descriptor fd(open(native->c_str(), O_RDONLY | O_CLOEXEC));
    return fd.get() >= 0 && flock(fd.get(), LOCK_EX | LOCK_NB) == 0;
}

bool OwnedByCurrentUser(WStringView path) {
    const auto native = MapPath(path);
    struct stat st;
    return native && lstat(native->c_str(), &st) == 0 && st.st_uid == geteuid();
}

void MarkOwnFolder(WStringView path, bool own) {
    posix::MarkOwnFolder(path, own);
}

bool GetTempDirectory(WString& directory) {
    const char* tmp = std::getenv("TMPDIR");
    std::string native = tmp && *tmp ? tmp : "/tmp";
    if (native.size() > 1 && native.back() == '/') native.pop_back();
    directory = UnmapPath(native);
    return !directory.empty();
}

bool CreateUniqueTempFile(WStringView directory, WStringView prefix, WString& path) {
    if (Faulted(Primitive::TempName)) return false;
    for (unsigned i = 0; i < 0x10000; ++i) {
        WString candidate = TempNameCandidate(directory, prefix, NextTempNameNumber());
        // Made up to be unique: no name of another letter case is looked for.
        const auto native = posix::MapInExactFolder(candidate);
        if (!native) return false;
        // The umask decides, as for every file the component writes: a staged tag becomes info.txt.
        const int fd = open(native->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            path = std::move(candidate);
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

long OpenHandleCount() {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return -1;
    long count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
    return count - 1;  // the listing's own descriptor
}

namespace {

// A relkey load gives every sub group reference a GUID of its own: one system
// call per GUID cost a tenth of the load. Random bytes are drawn in batches,
// per thread; a child of fork drops what its parent had drawn, or both would
// hand out the same GUIDs.
struct RandomPool {
    uint8_t bytes[1024];
    std::size_t used = sizeof bytes;
};
thread_local RandomPool t_random;

bool TakeRandom(uint8_t* out, std::size_t count) {
    static const int registered = pthread_atfork(nullptr, nullptr, [] { t_random.used = sizeof t_random.bytes; });
    if (registered != 0) return getrandom(out, count, 0) == static_cast<ssize_t>(count);
    RandomPool& pool = t_random;
    if (sizeof pool.bytes - pool.used < count) {
        if (getrandom(pool.bytes, sizeof pool.bytes, 0) != static_cast<ssize_t>(sizeof pool.bytes)) return false;
        pool.used = 0;
    }
    std::memcpy(out, pool.bytes + pool.used, count);
    pool.used += count;
    return true;
}

}  // namespace

bool NewGuid(GUID& guid) {
    uint8_t bytes[16];
    if (!TakeRandom(bytes, sizeof bytes)) return false;
    guid.Data1 = (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) | bytes[3];
    guid.Data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
    guid.Data3 = static_cast<uint16_t>((((bytes[6] << 8) | bytes[7]) & 0x0FFF) | 0x4000);
    for (int i = 0; i < 8; ++i) guid.Data4[i] = bytes[8 + i];
    guid.Data4[0] = static_cast<uint8_t>((guid.Data4[0] & 0x3F) | 0x80);
    return true;
}

void DebugOutput(const char16_t*) {}

WString FromNativePath(const std::string& path) { return UnmapPath(path); }

std::vector<std::string> CommandLineArguments(int argc, char** argv) { return {argv, argv + argc}; }

namespace {

// Windows-1252 bytes 0x80-0x9F; the five unassigned ones map to themselves.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char ByteFor(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    for (int i = 0; i < 32; ++i) {
        if (kCp1252High[i] == c) return static_cast<char>(0x80 + i);
    }
    return '?';
}

// Freed when the library is unloaded, which a client may do long before its exit.
struct Utf8CType {
    Utf8CType() : locale(newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr)) {
        if (!locale) locale = newlocale(LC_CTYPE_MASK, "C", nullptr);
    }
    ~Utf8CType() {
        if (locale) freelocale(locale);
    }
    Utf8CType(const Utf8CType&) = delete;
    Utf8CType& operator=(const Utf8CType&) = delete;
    locale_t locale;
};

locale_t Utf8Locale() {
    static const Utf8CType ctype;
    return ctype.locale;
}

}  // namespace

std::string AnsiFromWide(WStringView text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) out.push_back(ByteFor(c));
    return out;
}

WString WideFromAnsi(std::string_view text) {
    WString out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        out.push_back(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : char16_t(b));
    }
    return out;
}

WString UpperCase(WStringView text) {
    WString out(text);
    for (char16_t& c : out) {
        if (c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - 0x20);
        } else if (c >= 0x80 && (c < 0xD800 || c > 0xDFFF)) {
            const wint_t upper = towupper_l(static_cast<wint_t>(c), Utf8Locale());
            if (upper <= 0xFFFF) c = static_cast<char16_t>(upper);
        }
    }
    return out;
}

DynamicLibrary::~DynamicLibrary() { Close(); }

std::string ExecutableDirectory() {
    char buffer[4096];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return {};
    const std::string path(buffer, static_cast<std::size_t>(length));
    return path.substr(0, path.rfind('/'));
}

bool DynamicLibrary::Open(const std::string& nativePath) {
    Close();
    handle_ = dlopen(nativePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    return handle_ != nullptr;
}

void* DynamicLibrary::Symbol(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }

void DynamicLibrary::Close() {
    if (handle_) dlclose(std::exchange(handle_, nullptr));
}

}  // namespace kel::os
