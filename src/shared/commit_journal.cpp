#include "shared/commit_journal.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "platform/os.h"
#include "platform/raii.h"
#include "platform/trace.h"
#include "shared/file_operation.h"

namespace kel {

namespace {

constexpr char16_t kJournal[] = u"INTERNAL\\commit.journal";
constexpr char16_t kUndo[] = u"INTERNAL\\commit.undo";
// Names the files being staged before the change is decided, so that an open
// after a crash then removes them.
constexpr char16_t kStaging[] = u"INTERNAL\\commit.staging";
// A carried out journal whose entries moved aside are still to be deleted.
constexpr char16_t kDone[] = u"INTERNAL\\commit.done";
// A change starts only once no journal file of any letter case is left
// (IsPending), and holds the system's lock: the journal's own names are clear.
constexpr os::NewName kOwnNames = os::NewName::Cleared;
constexpr char kHeader[] = "kel-commit 2";
// Written by earlier versions; a pending one is still carried out.
constexpr char kHeader1[] = "kel-commit 1";
constexpr char kEnd[] = "end";
constexpr int kTries = 3;

// A journal names paths below its system only: it is read from the system's
// own folder, which may have come from anywhere.
bool IsBelow(WStringView relative) {
    if (relative.empty()) return false;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = std::min(relative.find(u'\\', start), relative.size());
        const WStringView part = relative.substr(start, end - start);
        if (part.empty() || part == u"." || part == u".." || part.find_first_of(u":/") != WStringView::npos) return false;
        if (end == relative.size()) return true;
        start = end + 1;
    }
}

void Split(const std::string& line, std::vector<std::string>& fields) {
    fields.clear();
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
        fields.push_back(line.substr(start, tab - start));
    }
    fields.push_back(line.substr(start));
}

WString Folder(WStringView relative) {
    const std::size_t slash = relative.rfind(u'\\');
    return slash == WStringView::npos ? WString() : WString(relative.substr(0, slash + 1));
}

void TraceJournal(WStringView format, WStringView path) { Trace(u"TempFileHandler", Format(format, path)); }

}  // namespace

WString CCommitJournal::Path(WStringView relative) const { return m_systemPath + u"\\" + WString(relative); }

void CCommitJournal::Replace(WStringView relative, WStringView source) {
    m_steps.push_back({Kind::Replace, WString(relative), WString(source)});
}

void CCommitJournal::Aside(WStringView relative) { m_steps.push_back({Kind::Aside, WString(relative), WString()}); }

void CCommitJournal::MakeFolder(WStringView relative) {
    m_steps.push_back({Kind::MakeFolder, WString(relative), WString()});
}

WString CCommitJournal::FreeName(WStringView relative, WStringView stem) {
    const WString folder = Folder(relative);
    for (int n = 0;; ++n) {
        WString name = folder + u"~" + WString(stem) + (n ? FromAscii(std::to_string(n)) : WString());
        const bool taken = std::any_of(m_steps.begin(), m_steps.end(), [&](const Step& step) {
            return step.kind != Kind::MakeFolder && EqualsNoCase(step.other, name);
        });
        if (!taken && !os::Exists(Path(name))) return name;
    }
}

bool CCommitJournal::Stage() {
    for (Step& step : m_steps) {
        if (step.kind == Kind::Aside) step.other = FreeName(step.relative, u"-");
        if (step.kind == Kind::Replace) m_sources.push_back(std::exchange(step.other, FreeName(step.relative, u"+")));
    }
    if (!WriteJournal(kStaging)) return false;
    std::vector<WString> folders;
    auto source = m_sources.begin();
    for (const Step& step : m_steps) {
        if (step.kind != Kind::Replace) continue;
        const WString staged = Path(step.other);
        // FreeName found no entry of that name in any letter case.
        const os::RenameResult moved = os::Rename(*source, staged, false, os::NewName::Cleared);
        const bool placed = moved == os::RenameResult::Ok ||
                            (moved == os::RenameResult::CrossDevice && os::CopyOneFile(*source, staged));
        if (!placed || !os::FlushFileAt(staged)) {
            TraceJournal(u"CTempFileHandler::MoveFile, Unable to move file %s.\n", *source);
            DropStaged();
            os::RemoveFile(Path(kStaging));
            return false;
        }
        ++source;
        const WString folder = Folder(step.relative);
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
    }
    for (const WString& folder : folders) os::FlushDirectory(Path(folder));
    // The change is decided by this one rename.
    if (os::Rename(Path(kStaging), Path(kJournal), false, kOwnNames) != os::RenameResult::Ok) {
        TraceJournal(u"CTempFileHandler::MoveFile, Unable to move file %s.\n", Path(kStaging));
        DropStaged();
        os::RemoveFile(Path(kStaging));
        return false;
    }
    os::FlushDirectory(Path(u"INTERNAL"));
    return true;
}

bool CCommitJournal::WriteJournal(WStringView name) {
    std::string text = std::string(kHeader) + "\n";
    for (const Step& step : m_steps) {
        switch (step.kind) {
            case Kind::Replace:
                text += "replace\t" + ToUtf8(step.relative) + "\t" + ToUtf8(step.other) + "\n";
                break;
            case Kind::Aside:
                text += "aside\t" + ToUtf8(step.relative) + "\t" + ToUtf8(step.other) + "\n";
                break;
            case Kind::MakeFolder:
                text += "mkdir\t" + ToUtf8(step.relative) + "\n";
                break;
            default:
                return false;
        }
    }
    text += std::string(kEnd) + "\n";
    // Files are staged only once it is complete; one cut short names nothing.
    File file(os::OpenFile(Path(name), "wb", kOwnNames));
    const bool written = file && os::WriteBytes(file.get(), text.data(), text.size()) && os::FlushFile(file.get()) &&
                         file.Close();
    if (!written) {
        file.Close();
        os::RemoveFile(Path(name));
        TraceJournal(u"CTempFileHandler::MoveFile, Unable to move file %s.\n", Path(name));
        return false;
    }
    os::FlushDirectory(Path(u"INTERNAL"));
    return true;
}

CCommitJournal::Outcome CCommitJournal::Apply() {
    Step failed;
    bool done = false;
    for (int attempt = 0; attempt < kTries && !done; ++attempt) {
        // A file held open for a moment (a scanner, an editor) may let go.
        if (attempt) std::this_thread::sleep_for(std::chrono::milliseconds(25 * attempt));
        done = Forward(failed);
    }
    if (!done) {
        TraceJournal(u"CCommitJournal::Apply, The change is decided but %s cannot be replaced now; the next open of "
                     u"the system finishes it.\n",
                     Path(failed.relative));
        return Outcome::Pending;
    }
    // Once the aside entries start to go, a replay must not move anything aside again.
    const bool aside = std::any_of(m_steps.begin(), m_steps.end(), [](const Step& step) { return step.kind == Kind::Aside; });
    if (!aside) {
        os::RemoveFile(Path(kJournal));
    } else if (os::Rename(Path(kJournal), Path(kDone), false, kOwnNames) == os::RenameResult::Ok) {
        DropAside();
        os::RemoveFile(Path(kDone));
    }
    return Outcome::Done;
}

bool CCommitJournal::Forward(Step& failed) {
    // Emptying (earlier versions' resets) spares the journal and the files
    // being replaced: after a crash some of them are new already.
    std::vector<WString> spared = {Path(kJournal)};
    for (const Step& step : m_steps) {
        if (step.kind == Kind::Replace) spared.insert(spared.end(), {Path(step.relative), Path(step.other)});
    }
    // Names moved aside above: nothing of another letter case is left there,
    // so what comes in their place takes the name as written.
    std::vector<WStringView> cleared;
    const auto nameFor = [&](const Step& step) {
        const bool wasCleared = std::any_of(cleared.begin(), cleared.end(),
                                            [&](WStringView name) { return EqualsNoCase(name, step.relative); });
        return wasCleared ? os::NewName::Cleared : os::NewName::Search;
    };
    for (const Step& step : m_steps) {
        failed = step;
        const WString target = Path(step.relative);
        switch (step.kind) {
            case Kind::Replace: {
                // Already renamed when a crash came after this step.
                const WString staged = Path(step.other);
                if (os::GetEntryKind(staged) == os::EntryKind::File &&
                    os::Rename(staged, target, true, nameFor(step)) != os::RenameResult::Ok) {
                    return false;
                }
                continue;
            }
            case Kind::Aside:
                if (!os::Exists(Path(step.other)) && os::Exists(target) &&
                    os::Rename(target, Path(step.other), false, os::NewName::Cleared) != os::RenameResult::Ok) {
                    return false;
                }
                cleared.push_back(step.relative);
                continue;
            case Kind::MakeFolder:
                if (!os::MakeDirectory(target, nameFor(step)) && os::GetEntryKind(target) != os::EntryKind::Directory) {
                    return false;
                }
                continue;
            case Kind::Empty:
            case Kind::EmptyFiles:
                break;
        }
        std::vector<os::DirEntry> entries;
        if (!os::ListDirectory(target, entries)) return false;
        for (const os::DirEntry& entry : entries) {
            const WString path = target + u"\\" + entry.name;
            if (entry.name == step.other || std::find(spared.begin(), spared.end(), path) != spared.end()) continue;
            if (step.kind == Kind::EmptyFiles) {
                if (!entry.isDirectory || entry.isLink) os::RemoveFile(path);
            } else if (!CFileOperation().Delete(path, kShellSilentFlags)) {
                return false;
            }
        }
    }
    return true;
}

bool CCommitJournal::Undo() {
    if (os::Rename(Path(kJournal), Path(kUndo)) != os::RenameResult::Ok) return false;
    os::FlushDirectory(Path(u"INTERNAL"));
    if (!Backward()) {
        TraceJournal(u"CCommitJournal::Undo, The system cannot be put back now; what was moved aside stays in it, "
                     u"and the next open of %s finishes putting it back.\n",
                     m_systemPath);
        return false;
    }
    return true;
}

bool CCommitJournal::Backward() {
    // Whether relative's old entry is aside now: only then does relative hold
    // something this journal made, and only then is there something to put back.
    const auto asideNow = [&](const WString& relative) {
        const auto aside = std::find_if(m_steps.begin(), m_steps.end(), [&](const Step& other) {
            return other.kind == Kind::Aside && other.relative == relative;
        });
        return aside != m_steps.end() && os::Exists(Path(aside->other));
    };
    for (auto step = m_steps.rbegin(); step != m_steps.rend(); ++step) {
        const WString target = Path(step->relative);
        switch (step->kind) {
            case Kind::Replace:
                if (asideNow(step->relative) && os::Exists(target) && !os::Exists(Path(step->other)) &&
                    os::Rename(target, Path(step->other)) != os::RenameResult::Ok) {
                    return false;
                }
                break;
            case Kind::Aside:
                if (os::Exists(Path(step->other)) && os::Rename(Path(step->other), target) != os::RenameResult::Ok) {
                    return false;
                }
                break;
            case Kind::MakeFolder:
                if (asideNow(step->relative) && os::GetEntryKind(target) == os::EntryKind::Directory &&
                    !os::RemoveEmptyDirectory(target)) {
                    return false;
                }
                break;
            default:
                return false;
        }
    }
    DropStaged();
    return os::RemoveFile(Path(kUndo));
}

void CCommitJournal::DropStaged() {
    for (const Step& step : m_steps) {
        if (step.kind == Kind::Replace && !step.other.empty() && IsBelow(step.other)) os::RemoveFile(Path(step.other));
    }
}

void CCommitJournal::DropAside() {
    for (const Step& step : m_steps) {
        if (step.kind != Kind::Aside) continue;
        // Gone already when a replay comes here a second time.
        const WString aside = Path(step.other);
        if (!CFileOperation().Delete(aside, kShellSilentFlags) && os::Exists(aside)) {
            TraceJournal(u"CCommitJournal::Apply, %s could not be deleted; it stays in the system.\n", aside);
        }
    }
}

bool CCommitJournal::Read(const WString& file, bool& version1) {
    std::string text;
    if (!os::ReadWholeFile(file, text)) return false;
    std::vector<std::string> fields;
    std::size_t start = 0;
    bool ended = false;
    for (std::size_t newline; !ended && (newline = text.find('\n', start)) != std::string::npos; start = newline + 1) {
        const std::string line = text.substr(start, newline - start);
        if (start == 0) {
            version1 = line == kHeader1;
            if (line != kHeader && !version1) return false;
            continue;
        }
        Split(line, fields);
        std::vector<WString> paths;
        for (std::size_t i = 1; i < fields.size(); ++i) paths.push_back(FromUtf8(fields[i]));
        const auto below = [&](std::size_t count) {
            return paths.size() == count && std::all_of(paths.begin(), paths.end(), [](const WString& p) { return IsBelow(p); });
        };
        const std::string& verb = fields[0];
        if (fields.size() == 1 && verb == kEnd) {
            ended = true;
        } else if (version1 && verb == "replace" && below(1)) {
            m_steps.push_back({Kind::Replace, paths[0], paths[0] + u".kel-new"});
        } else if (version1 && (verb == "empty" || verb == "empty-files") && paths.size() == 2 &&
                   IsBelow(paths[0])) {
            m_steps.push_back({verb == "empty" ? Kind::Empty : Kind::EmptyFiles, paths[0], paths[1]});
        } else if (!version1 && (verb == "replace" || verb == "aside") && below(2)) {
            m_steps.push_back({verb == "replace" ? Kind::Replace : Kind::Aside, paths[0], paths[1]});
        } else if (!version1 && verb == "mkdir" && below(1)) {
            m_steps.push_back({Kind::MakeFolder, paths[0], WString()});
        } else {
            return false;
        }
    }
    return ended;
}

bool CCommitJournal::IsJournal(WStringView relative) {
    for (const char16_t* journal : {kJournal, kUndo, kStaging, kDone}) {
        if (EqualsNoCase(relative, journal)) return true;
    }
    return false;
}

bool CCommitJournal::IsDecided(WStringView systemPath) { return os::Exists(WString(systemPath) + u"\\" + kJournal); }

bool CCommitJournal::IsPending(WStringView systemPath) {
    // Asked before every change: one listing instead of a look-up per name.
    std::vector<os::DirEntry> entries;
    if (!os::ListDirectory(WString(systemPath) + u"\\INTERNAL", entries)) return false;
    return std::any_of(entries.begin(), entries.end(),
                       [](const os::DirEntry& entry) { return IsJournal(u"INTERNAL\\" + entry.name); });
}

bool CCommitJournal::Recover(WStringView systemPath) {
    CCommitJournal journal(systemPath);
    const WString* file = nullptr;
    const WString candidates[] = {journal.Path(kStaging), journal.Path(kUndo), journal.Path(kDone), journal.Path(kJournal)};
    for (const WString& candidate : candidates) {
        if (!file && os::Exists(candidate)) file = &candidate;
    }
    if (!file) return true;
    bool version1 = false;
    const bool read = journal.Read(*file, version1);
    if (file == &candidates[0]) {
        // Never decided: the staged files go; one cut short staged nothing yet.
        if (read) journal.DropStaged();
        return os::RemoveFile(*file);
    }
    if (!read) {
        TraceJournal(u"CCommitJournal::Recover, Unreadable journal %s.\n", *file);
        return false;
    }
    if (file == &candidates[1]) {
        if (journal.Backward()) return true;
        TraceJournal(u"CCommitJournal::Recover, The system cannot be put back now: %s stays.\n", *file);
        return false;
    }
    if (file == &candidates[2]) {
        journal.DropAside();
        return os::RemoveFile(*file);
    }
    return journal.Apply() == Outcome::Done;
}

}  // namespace kel
