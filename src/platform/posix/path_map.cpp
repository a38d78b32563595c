#include "platform/posix/path_map.h"

#include <dirent.h>
#include <sys/stat.h>

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

// The entry of directory that matches name ignoring case, first in byte order.
std::optional<std::string> FindNoCase(const std::string& directory, const std::string& name) {
    DIR* dir = opendir(directory.empty() ? "." : directory.c_str());
    if (!dir) return std::nullopt;
    const WString wanted = UpperCase(FromUtf8(name));
    std::optional<std::string> best;
    while (const dirent* entry = readdir(dir)) {
        const std::string candidate = entry->d_name;
        if (best && candidate >= *best) continue;
        if (UpperCase(FromUtf8(candidate)) == wanted) best = candidate;
    }
    closedir(dir);
    return best;
}

}  // namespace

std::optional<std::string> MapPath(WStringView path) {
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

    std::vector<std::string> components;
    while (pos <= path.size()) {
        std::size_t end = path.find(u'\\', pos);
        if (end == WStringView::npos) end = path.size();
        if (end > pos) {
            const WStringView component = path.substr(pos, end - pos);
            if (component.find(u'/') != WStringView::npos || component.find(u'\0') != WStringView::npos) {
                return std::nullopt;
            }
            components.push_back(ToUtf8(component));
        }
        pos = end + 1;
    }

    std::string direct = root;
    for (const std::string& component : components) direct = Join(direct, component);
    if (direct.empty()) direct = ".";
    if (Exists(direct)) return direct;

    std::string resolved = root;
    bool resolving = true;
    for (const std::string& component : components) {
        std::string next = Join(resolved, component);
        if (resolving && component != "." && component != ".." && !Exists(next)) {
            if (auto match = FindNoCase(resolved, component)) {
                next = Join(resolved, *match);
            } else {
                resolving = false;
            }
        }
        resolved = std::move(next);
    }
    if (resolved.empty()) resolved = ".";
    return resolved;
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
