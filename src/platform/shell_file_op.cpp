#include "platform/shell_file_op.h"

#include <unordered_set>
#include <vector>

#include "platform/os.h"

namespace kel {

namespace {

// Non-zero results; only zero/non-zero is ever interpreted.
constexpr int kNoSource = 2;
constexpr int kFailed = 0x7C;

WString Join(WStringView directory, WStringView name) {
    WString out(directory);
    if (out.empty() || out.back() != u'\\') out.push_back(u'\\');
    out.append(name);
    return out;
}

WStringView LastComponent(WStringView path) {
    const auto slash = path.find_last_of(u'\\');
    return slash == WStringView::npos ? path : path.substr(slash + 1);
}

// Creates every missing directory of path.
bool EnsureDirectory(WStringView path) {
    if (os::GetEntryKind(path) == os::EntryKind::Directory) return true;
    const auto slash = path.find_last_of(u'\\');
    if (slash != WStringView::npos && slash > 0 && !(slash == 2 && path[1] == u':')) {
        if (!EnsureDirectory(path.substr(0, slash))) return false;
    }
    return os::MakeDirectory(path) || os::GetEntryKind(path) == os::EntryKind::Directory;
}

bool EnsureParent(WStringView path) {
    const auto slash = path.find_last_of(u'\\');
    if (slash == WStringView::npos || slash == 0 || (slash == 2 && path[1] == u':')) return true;
    return EnsureDirectory(path.substr(0, slash));
}

// A link goes itself: what it leads to is someone else's and stays whole.
bool DeleteTree(const WString& path, bool isDirectory, bool isLink) {
    if (isLink) return os::RemoveLink(path);
    if (!isDirectory) return os::RemoveFile(path);
    std::vector<os::DirEntry> entries;
    if (!os::ListDirectory(path, entries)) return false;
    bool ok = true;
    for (const auto& entry : entries) ok = DeleteTree(Join(path, entry.name), entry.isDirectory, entry.isLink) && ok;
    return os::RemoveEmptyDirectory(path) && ok;
}

// inNewFolder: the caller has just made to's folder, so nothing is there yet.
bool CopyEntry(const WString& from, bool fromIsDirectory, const WString& to, bool inNewFolder = false);

// Puts a copy of a file at to: the copy is made beside it and renamed there,
// so a failed or killed copy leaves the old file whole, or no file at all,
// never half a file. The copy's name is one nobody uses, made exclusively,
// and short: "~kel<n>". Without replace the rename never replaces anything.
bool CopyInOneStep(const WString& from, const WString& to, bool replace) {
    const WString folder = to.substr(0, to.find_last_of(u'\\') + 1);
    for (unsigned n = 0; n < 1000; ++n) {
        const WString staged = folder + u"~kel" + FromUtf8(std::to_string(n));
        if (os::Exists(staged)) continue;
        // Taken meanwhile, or failed: either way nothing of anyone else's is touched.
        if (!os::CopyOneFile(from, staged, os::CopyTo::NewName)) return false;
        if (os::Rename(staged, to, replace) == os::RenameResult::Ok) return true;
        os::RemoveFile(staged);
        return false;
    }
    return false;
}

bool CopyChildren(const WString& from, const WString& to, bool toIsNew) {
    std::vector<os::DirEntry> entries;
    if (!os::ListDirectory(from, entries)) return false;
    if (toIsNew) {
        // Names that differ only in case land on one file, as they always did.
        std::unordered_set<WString> names;
        for (const auto& entry : entries) toIsNew = toIsNew && names.insert(os::UpperCase(entry.name)).second;
    }
    for (const auto& entry : entries) {
        if (!CopyEntry(Join(from, entry.name), entry.isDirectory, Join(to, entry.name), toIsNew)) return false;
    }
    return true;
}

bool CopyEntry(const WString& from, bool fromIsDirectory, const WString& to, bool inNewFolder) {
    // In a folder just made nothing needs looking up: a copy of many files
    // would otherwise search the growing folder once for each.
    const os::EntryKind target = inNewFolder ? os::EntryKind::None : os::GetEntryKind(to);
    if (!fromIsDirectory) {
        if (target == os::EntryKind::File) return CopyInOneStep(from, to, true);
        // A folder just made is the caller's own until it is complete.
        if (inNewFolder) return os::CopyOneFile(from, to, os::CopyTo::NewFolder);
        return target == os::EntryKind::None && CopyInOneStep(from, to, false);
    }
    if (target == os::EntryKind::File) return false;
    if (target == os::EntryKind::None && !os::MakeDirectory(to)) return false;
    return CopyChildren(from, to, target == os::EntryKind::None);
}

bool MoveEntry(const WString& from, bool fromIsDirectory, bool fromIsLink, const WString& to) {
    const os::EntryKind target = os::GetEntryKind(to);
    if (target != os::EntryKind::None && fromIsDirectory) {
        if (target == os::EntryKind::File) return false;
        // Merging a link's folder would empty a folder that is not ours: its
        // files are copied in and only the link goes.
        if (fromIsLink) return CopyEntry(from, true, to) && os::RemoveLink(from);
        // Merge into the existing directory, then drop the emptied source.
        std::vector<os::DirEntry> entries;
        if (!os::ListDirectory(from, entries)) return false;
        for (const auto& entry : entries) {
            if (!MoveEntry(Join(from, entry.name), entry.isDirectory, entry.isLink, Join(to, entry.name))) return false;
        }
        return os::RemoveEmptyDirectory(from);
    }
    if (target == os::EntryKind::Directory) return false;
    // A file is replaced in one step: a failed move never leaves the destination missing.
    const bool replace = target == os::EntryKind::File;
    switch (os::Rename(from, to, replace)) {
        case os::RenameResult::Ok:
            return true;
        case os::RenameResult::Failed:
            return false;
        case os::RenameResult::CrossDevice:
            break;
    }
    // Another volume: copy, then delete the source.
    if (replace) return CopyInOneStep(from, to, true) && DeleteTree(from, false, fromIsLink);
    return CopyEntry(from, fromIsDirectory, to) && DeleteTree(from, fromIsDirectory, fromIsLink);
}

bool Transfer(ShellOperation operation, const WString& from, const os::DirEntry& kind, const WString& to) {
    if (!EnsureParent(to)) return false;
    return operation == ShellOperation::Copy ? CopyEntry(from, kind.isDirectory, to)
                                             : MoveEntry(from, kind.isDirectory, kind.isLink, to);
}

}  // namespace

int ShellFileOperation(ShellOperation operation, WStringView from, WStringView to, unsigned /*flags*/) {
    const bool needsTarget = operation != ShellOperation::Delete;
    if (from.empty() || (needsTarget && to.empty())) return kFailed;

    WStringView wildcardDirectory;
    if (from.ends_with(u"\\*.*")) {
        wildcardDirectory = from.substr(0, from.size() - 4);
    } else if (from.ends_with(u"\\*")) {
        wildcardDirectory = from.substr(0, from.size() - 2);
    }

    if (!wildcardDirectory.empty()) {
        const WString directory(wildcardDirectory);
        std::vector<os::DirEntry> entries;
        if (os::GetEntryKind(directory) != os::EntryKind::Directory || !os::ListDirectory(directory, entries)) {
            return kNoSource;
        }
        if (operation == ShellOperation::Delete) {
            bool ok = true;
            for (const auto& entry : entries) ok = DeleteTree(Join(directory, entry.name), entry.isDirectory, entry.isLink) && ok;
            return ok ? 0 : kFailed;
        }
        const WString target(to);
        if (!EnsureDirectory(target)) return kFailed;
        for (const auto& entry : entries) {
            if (!Transfer(operation, Join(directory, entry.name), entry, Join(target, entry.name))) return kFailed;
        }
        return 0;
    }

    const WString source(from);
    bool isLink = false;
    const os::EntryKind kind = os::GetEntryKind(source, isLink);
    const os::DirEntry what{{}, kind == os::EntryKind::Directory, isLink};
    if (kind == os::EntryKind::None && !what.isLink) return kNoSource;
    if (operation == ShellOperation::Delete) return DeleteTree(source, what.isDirectory, what.isLink) ? 0 : kFailed;

    WString target(to);
    if (os::GetEntryKind(target) == os::EntryKind::Directory && !EqualsNoCase(source, target)) {
        target = Join(target, LastComponent(source));
    }
    // Onto itself or into its own subtree would never finish.
    const WString prefix = source + u"\\";
    if (EqualsNoCase(source, target) ||
        (target.size() > prefix.size() && EqualsNoCase(WStringView(target).substr(0, prefix.size()), prefix))) {
        return kFailed;
    }
    return Transfer(operation, source, what, target) ? 0 : kFailed;
}

}  // namespace kel
