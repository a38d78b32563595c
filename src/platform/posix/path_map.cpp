#include "platform/posix/path_map.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/os.h"

namespace kel::os::posix {

namespace {

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::string Join(const std::string& base, const std::string& name) {
    if (base.empty()) return name;
    if (base.back() == '/') return base + name;
    return base + "/" + name;
}

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 0x20) : c; }

// No other name equals one without letters ignoring case ("~1", "~+2"), so
// whether it is there is one look-up, not a listing of its folder.
bool HasNoCase(std::string_view name) {
    return std::all_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x80 && !((byte | 0x20) >= 'a' && (byte | 0x20) <= 'z');
    });
}

// The entry of directory that matches name ignoring case, first in byte order.
std::optional<std::string> FindNoCase(const std::string& directory, const std::string& name) {
    DIR* dir = opendir(directory.empty() ? "." : directory.c_str());
    if (!dir) return std::nullopt;
    const WString wanted = UpperCase(FromUtf8(name));
    // A folder is searched on every new name made in it: plain ASCII entries
    // are compared in place, and only others are converted.
    const bool asciiWanted = IsAscii(name);
    std::optional<std::string> best;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view candidate = entry->d_name;
        if (best && candidate >= *best) continue;
        if (IsAscii(candidate)) {
            if (!asciiWanted || candidate.size() != name.size() ||
                !std::equal(candidate.begin(), candidate.end(), name.begin(),
                            [](char a, char b) { return AsciiUpper(a) == AsciiUpper(b); })) {
                continue;
            }
        } else if (UpperCase(FromUtf8(candidate)) != wanted) {
            continue;
        }
        best = std::string(candidate);
    }
    closedir(dir);
    return best;
}

// A folder as lstat saw it: its entries have not changed while this stays.
struct FolderState {
    dev_t device = 0;
    ino_t inode = 0;
    timespec modified{};
    timespec changed{};

    static FolderState Of(const struct stat& st) { return {st.st_dev, st.st_ino, st.st_mtim, st.st_ctim}; }
    bool operator==(const FolderState& other) const {
        return device == other.device && inode == other.inode && modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec && changed.tv_sec == other.changed.tv_sec &&
               changed.tv_nsec == other.changed.tv_nsec;
    }
    // A change within the same tick of the file system's clock leaves the
    // times as they were: only a folder that has stood still for a while
    // can be known unchanged by them. Two seconds cover the coarsest clocks.
    bool Settled() const {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        return now.tv_sec - std::max(modified.tv_sec, changed.tv_sec) >= 2;
    }
};

// Names searched for in a settled folder and not found, with the folder's
// state then: a release's top-level media.id, missing where sys_pack holds
// it, would list the release folder in every operation.
class Misses {
public:
    bool Known(const std::string& directory, const std::string& name, const FolderState& state) {
        const std::lock_guard lock(m_mutex);
        const auto found = m_misses.find({directory, name});
        return found != m_misses.end() && found->second == state;
    }
    void Keep(const std::string& directory, const std::string& name, const FolderState& state) {
        if (!state.Settled()) return;
        const std::lock_guard lock(m_mutex);
        if (m_misses.size() >= 4096) m_misses.clear();
        m_misses[{directory, name}] = state;
    }

private:
    std::mutex m_mutex;
    std::map<std::pair<std::string, std::string>, FolderState> m_misses;
};

Misses& Missed() {
    static Misses misses;
    return misses;
}

// Stored paths are upper case (program.id), so every open of a release file
// would search each folder on its way, "/" and "/home" too. A match found is
// kept while it is still there; a name that was not found is searched again,
// unless the folder, as state shows it, has not changed since.
std::optional<std::string> FindNoCaseKept(const std::string& directory, const std::string& name,
                                          const FolderState* state = nullptr) {
    if (HasNoCase(name)) return Exists(Join(directory, name)) ? std::optional(name) : std::nullopt;
    if (state && Missed().Known(directory, name, *state)) return std::nullopt;
    static std::mutex mutex;
    static std::map<std::pair<std::string, std::string>, std::string> kept;
    const auto key = std::make_pair(directory, name);
    {
        const std::lock_guard lock(mutex);
        const auto found = kept.find(key);
        if (found != kept.end() && Exists(Join(directory, found->second))) return found->second;
    }
    std::optional<std::string> match = FindNoCase(directory, name);
    if (match) {
        const std::lock_guard lock(mutex);
        if (kept.size() >= 4096) kept.clear();
        kept[key] = *match;
    } else if (state) {
        Missed().Keep(directory, name, *state);
    }
    return match;
}

// Releases are opened file by file through the same upper-case folders, so
// a folder's whole resolution is kept too, on the same terms: it is used
// while the folder it led to is still there.
class KeptFolders {
public:
    // The caller checks that it is still there.
    std::optional<std::string> Find(const std::string& written) {
        const std::lock_guard lock(m_mutex);
        const auto found = m_kept.find(written);
        if (found == m_kept.end()) return std::nullopt;
        return found->second;
    }
    void Keep(const std::string& written, const std::string& resolved) {
        const std::lock_guard lock(m_mutex);
        if (m_kept.size() >= 4096) m_kept.clear();
        m_kept[written] = resolved;
    }

private:
    std::mutex m_mutex;
    std::map<std::string, std::string> m_kept;
};

KeptFolders& Folders() {
    static KeptFolders folders;
    return folders;
}

// Folders made by this process for itself (os::MarkOwnFolder): a handful at a time.
class OwnFolders {
public:
    void Mark(const std::string& native, bool own) {
        const std::lock_guard lock(m_mutex);
        const auto found = std::find(m_folders.begin(), m_folders.end(), native);
        if (own && found == m_folders.end()) m_folders.push_back(native);
        if (!own && found != m_folders.end()) m_folders.erase(found);
    }
    // folder is one of them or lies inside one.
    bool Holds(const std::string& folder) {
        const std::lock_guard lock(m_mutex);
        return std::any_of(m_folders.begin(), m_folders.end(), [&](const std::string& own) {
            return folder.starts_with(own) && (folder.size() == own.size() || folder[own.size()] == '/');
        });
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_folders;
};

OwnFolders& Own() {
    static OwnFolders own;
    return own;
}

// The folders of path (below root, '/' between them), each found ignoring
// case where it is not there as written; from the first that is missing on,
// the rest keeps its case and complete is false.
std::string ResolveFolder(const std::string& root, std::string_view path, bool& complete) {
    std::string resolved = root;
    complete = true;
    while (!path.empty()) {
        const std::size_t slash = std::min(path.find('/'), path.size());
        const std::string component(path.substr(0, slash));
        path.remove_prefix(std::min(slash + 1, path.size()));
        std::string next = Join(resolved, component);
        if (complete && component != "." && component != ".." && !Exists(next)) {
            if (const auto match = FindNoCaseKept(resolved, component)) {
                next = Join(resolved, *match);
            } else {
                complete = false;
            }
        }
        resolved = std::move(next);
    }
    return resolved;
}

}  // namespace

std::optional<std::string> MapPath(WStringView path) {
    struct stat st;
    Seen seen = Seen::Unknown;
    return MapPath(path, st, seen);
}

namespace {

// The path as written, mapped with no look-up.
struct Written {
    std::string path;
    std::size_t rootSize = 0;
    std::size_t nameStart = std::string::npos;  // where the last component starts
};

std::optional<Written> AsWritten(WStringView path) {
    if (path.empty()) return std::nullopt;
    if (path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\') return std::nullopt;

    std::string root;
    std::size_t pos = 0;
    if (path.size() >= 2 && path[1] == u':') {
        const char16_t drive = path[0];
        const bool letter = (drive >= u'A' && drive <= u'Z') || (drive >= u'a' && drive <= u'z');
        if (!letter) return std::nullopt;
        const char lower = static_cast<char>(drive | 0x20);
        root = lower == 'z' ? "/" : std::string("/mnt/") + lower + "/";
        pos = 2;
    } else if (path[0] == u'\\') {
        root = "/";
    }

    // One conversion for the whole path, each run of backslashes one slash,
    // moved in pieces: this runs for every file an operation touches.
    std::string tail = ToUtf8(path.substr(pos));
    if (tail.find('/') != std::string::npos || tail.find('\0') != std::string::npos) return std::nullopt;
    std::size_t nameStart = std::string::npos;
    std::size_t out = 0;
    for (std::size_t in = 0; in < tail.size();) {
        if (tail[in] == '\\') {
            ++in;
            continue;
        }
        const std::size_t end = std::min(tail.find('\\', in), tail.size());
        if (nameStart != std::string::npos) tail[out++] = '/';
        nameStart = out;
        if (out != in) std::memmove(&tail[out], &tail[in], end - in);
        out += end - in;
        in = end;
    }
    tail.resize(out);
    Written written;
    written.rootSize = root.size();
    written.path = root.empty() ? std::move(tail) : root + tail;
    if (nameStart != std::string::npos) written.nameStart = nameStart + root.size();
    if (written.path.empty()) written.path = ".";
    return written;
}

// The folder a path's folder was resolved to before.
std::optional<std::string> KeptFolder(const Written& written) {
    if (written.nameStart == std::string::npos) return std::nullopt;
    const std::size_t end = written.nameStart > written.rootSize ? written.nameStart - 1 : written.nameStart;
    return Folders().Find(written.path.substr(0, end));
}

// The name of the path in the folder its folder was resolved to before.
std::optional<std::string> KeptPlace(const Written& written, const std::optional<std::string>& folder) {
    if (!folder) return std::nullopt;
    return Join(*folder, written.path.substr(written.nameStart));
}

// tried: a place the caller found nothing at, not to be looked at again.
std::optional<std::string> Resolve(WStringView path, struct stat& st, Seen& seen, const std::string* tried) {
    seen = Seen::Unknown;
    std::optional<Written> written = AsWritten(path);
    if (!written) return std::nullopt;
    const auto untried = [&](const std::string& place) { return !tried || place != *tried; };
    // Stored paths are upper case: the folder they were resolved to comes
    // first, so that a release file is not looked for as written every time.
    std::optional<std::string> folder = KeptFolder(*written);
    const std::optional<std::string> kept = KeptPlace(*written, folder);
    if (kept && untried(*kept) && lstat(kept->c_str(), &st) == 0) {
        seen = Seen::Present;
        return kept;
    }
    std::string& direct = written->path;
    const std::size_t nameStart = written->nameStart;
    if (untried(direct) && lstat(direct.c_str(), &st) == 0) {
        seen = Seen::Present;
        return std::move(direct);
    }
    const std::string root = direct.substr(0, written->rootSize);

    if (nameStart == std::string::npos) return direct;
    // Mostly a new name in a folder that is there as written, or was resolved
    // before: only the name needs a search, not every folder on the way.
    const std::string parent = direct.substr(0, nameStart > root.size() ? nameStart - 1 : nameStart);
    const std::string name = direct.substr(nameStart);
    // Whether the name was looked up in folder as written already.
    bool looked = false;
    // The folder's own lstat, when one was made: it tells whether the
    // folder changed since a name was last missed there.
    struct stat folderStat {};
    bool stated = false;
    if (folder) {
        if (lstat(folder->c_str(), &folderStat) == 0) {
            looked = stated = true;
        } else {
            folder.reset();
        }
    }
    // The process's own folders hold only what it made there, as written.
    if (!folder && Own().Holds(parent)) {
        seen = Seen::Missing;
        return direct;
    }
    if (!folder && (parent.empty() || (stated = lstat(parent.c_str(), &folderStat) == 0))) {
        folder = parent;
        looked = true;
    }
    if (!folder) {
        bool complete = false;
        folder = ResolveFolder(root, parent.substr(root.size()), complete);
        if (!complete) return Join(*folder, name);
        Folders().Keep(parent, *folder);
    }
    if (name == "." || name == "..") return Join(*folder, name);
    std::optional<std::string> match;
    if (!looked || !HasNoCase(name)) {
        const FolderState state = FolderState::Of(folderStat);
        match = FindNoCaseKept(*folder, name, stated ? &state : nullptr);
    }
    if (!match && looked) seen = Seen::Missing;
    return Join(*folder, match ? *match : name);
}

}  // namespace

std::optional<std::string> MapPath(WStringView path, struct stat& st, Seen& seen) {
    return Resolve(path, st, seen, nullptr);
}

std::optional<std::string> MapLikely(WStringView path) {
    std::optional<Written> written = AsWritten(path);
    if (!written) return std::nullopt;
    if (std::optional<std::string> kept = KeptPlace(*written, KeptFolder(*written))) return kept;
    return std::move(written->path);
}

std::optional<std::string> MapPathBeyond(WStringView path, const std::string& tried) {
    struct stat st;
    Seen seen = Seen::Unknown;
    return Resolve(path, st, seen, &tried);
}

void MarkOwnFolder(WStringView path, bool own) {
    if (const std::optional<Written> written = AsWritten(path)) Own().Mark(written->path, own);
}

std::optional<std::string> MapInExactFolder(WStringView path) {
    const std::size_t slash = path.rfind(u'\\');
    if (slash == WStringView::npos || slash == 0 || slash + 1 == path.size()) return MapPath(path);
    const WStringView name = path.substr(slash + 1);
    if (name == u"." || name == u".." || name.find_first_of(u"/") != WStringView::npos ||
        name.find(u'\0') != WStringView::npos) {
        return MapPath(path);
    }
    auto folder = MapPath(path.substr(0, slash + (slash == 2 && path[1] == u':' ? 1 : 0)));
    if (!folder) return std::nullopt;
    return Join(*folder, ToUtf8(name));
}

WString UnmapPath(std::string_view native) {
    WString out;
    if (!native.empty() && native[0] == '/') {
        out = u"Z:";
        if (native.size() == 1) return u"Z:\\";
    }
    for (char16_t c : FromUtf8(native)) out.push_back(c == u'/' ? u'\\' : c);
    while (out.size() > 3 && out.back() == u'\\') out.pop_back();
    return out;
}

}  // namespace kel::os::posix
