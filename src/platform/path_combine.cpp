#include "platform/path_combine.h"

#include <vector>

namespace kel {

namespace {

constexpr std::size_t kMaxPath = 260;  // with the terminating NUL

bool HasDrive(WStringView path) { return path.size() >= 2 && path[1] == u':'; }
bool IsUnc(WStringView path) { return path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\'; }

// "X:\", "\\server\share\" or "\" (as far as the path has them), else empty.
std::size_t RootLength(WStringView path) {
    if (HasDrive(path)) return path.size() > 2 && path[2] == u'\\' ? 3 : 2;
    if (IsUnc(path)) {
        std::size_t end = path.find(u'\\', 2);
        if (end != WStringView::npos) end = path.find(u'\\', end + 1);
        return end == WStringView::npos ? path.size() : end + 1;
    }
    return !path.empty() && path[0] == u'\\' ? 1 : 0;
}

WString Canonical(WStringView path) {
    const std::size_t rootLength = RootLength(path);
    WString result(path.substr(0, rootLength));
    std::vector<WStringView> segments;
    WStringView rest = path.substr(rootLength);
    const bool trailingSlash = !rest.empty() && rest.back() == u'\\';
    while (!rest.empty()) {
        const std::size_t slash = rest.find(u'\\');
        const WStringView segment = rest.substr(0, slash);
        rest = slash == WStringView::npos ? WStringView() : rest.substr(slash + 1);
        if (segment == u"." || segment.empty()) continue;
        if (segment == u"..") {
            if (!segments.empty()) segments.pop_back();
            continue;
        }
        segments.push_back(segment);
    }
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (i) result += u'\\';
        result += segments[i];
    }
    if (trailingSlash && !segments.empty()) result += u'\\';
    // A bare drive becomes its root directory.
    if (result.size() == 2 && HasDrive(result)) result += u'\\';
    return result;
}

}  // namespace

bool PathCombine(WStringView directory, WStringView path, WString& out) {
    WString joined;
    if (path.empty()) {
        joined = directory;
    } else if (directory.empty() || HasDrive(path) || IsUnc(path)) {
        joined = path;
    } else if (path[0] == u'\\') {
        const std::size_t rootLength = RootLength(directory);
        joined = WString(directory.substr(0, rootLength));
        if (!joined.empty() && joined.back() == u'\\') joined.pop_back();
        joined += path;
    } else {
        joined = directory;
        if (joined.back() != u'\\') joined += u'\\';
        joined += path;
    }
    WString result = Canonical(joined);
    if (result.size() >= kMaxPath) return false;
    out = std::move(result);
    return true;
}

}  // namespace kel
