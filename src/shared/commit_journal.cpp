#include "shared/commit_journal.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/os.h"
#include "platform/raii.h"
#include "platform/trace.h"
#include "shared/file_operation.h"

namespace kel {

namespace {

constexpr char16_t kJournal[] = u"INTERNAL\\commit.journal";
constexpr char16_t kStaged[] = u".kel-new";
constexpr char kHeader[] = "kel-commit 1";
constexpr char kEnd[] = "end";

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

}  // namespace

WString CCommitJournal::Path(WStringView relative) const { return m_systemPath + u"\\" + WString(relative); }

void CCommitJournal::Replace(WStringView relative, WStringView source) {
    m_steps.push_back({Kind::Replace, WString(relative), WString(source)});
}

void CCommitJournal::Empty(WStringView relative, bool filesOnly, WStringView keep) {
    m_steps.push_back({filesOnly ? Kind::EmptyFiles : Kind::Empty, WString(relative), WString(keep)});
}

bool CCommitJournal::Stage() {
    std::string text = std::string(kHeader) + "\n";
    for (const Step& step : m_steps) {
        if (step.kind == Kind::Replace) {
            if (!CFileOperation().Move(step.keepOrSource, Path(step.relative) + kStaged, kShellSilentFlags)) {
                Trace(u"TempFileHandler", Format(u"CTempFileHandler::MoveFile, Unable to move file %s.\n", step.keepOrSource));
                Discard();
                return false;
            }
            text += "replace\t" + ToUtf8(step.relative) + "\n";
        } else {
            text += (step.kind == Kind::Empty ? "empty\t" : "empty-files\t") + ToUtf8(step.relative) + "\t" +
                    ToUtf8(step.keepOrSource) + "\n";
        }
    }
    text += std::string(kEnd) + "\n";
    // Written whole under a staged name, then renamed: a journal is complete or absent.
    const WString staged = Path(kJournal) + kStaged;
    File file(os::OpenFile(staged, "wb"));
    const bool written = file && std::fwrite(text.data(), 1, text.size(), file.get()) == text.size() && file.Close();
    if (!written || os::Rename(staged, Path(kJournal), true) != os::RenameResult::Ok) {
        Trace(u"TempFileHandler", Format(u"CTempFileHandler::MoveFile, Unable to move file %s.\n", staged));
        Discard();
        return false;
    }
    return true;
}

bool CCommitJournal::Apply() {
    if (!ApplySteps()) return false;
    return os::RemoveFile(Path(kJournal));
}

bool CCommitJournal::ApplySteps() {
    // Emptying spares the journal and the files being replaced: after a crash
    // some of them are new already.
    std::vector<WString> spared = {Path(kJournal), Path(kJournal) + kStaged};
    for (const Step& step : m_steps) {
        if (step.kind == Kind::Replace) spared.insert(spared.end(), {Path(step.relative), Path(step.relative) + kStaged});
    }
    for (const Step& step : m_steps) {
        const WString target = Path(step.relative);
        if (step.kind == Kind::Replace) {
            // Already renamed when a crash came after this step.
            const WString staged = target + kStaged;
            if (os::GetEntryKind(staged) == os::EntryKind::File &&
                os::Rename(staged, target, true) != os::RenameResult::Ok) {
                return false;
            }
            continue;
        }
        std::vector<os::DirEntry> entries;
        if (!os::ListDirectory(target, entries)) return step.kind == Kind::EmptyFiles;
        for (const os::DirEntry& entry : entries) {
            const WString path = target + u"\\" + entry.name;
            if (entry.name == step.keepOrSource || std::find(spared.begin(), spared.end(), path) != spared.end()) {
                continue;
            }
            if (step.kind == Kind::EmptyFiles) {
                if (!entry.isDirectory) os::RemoveFile(path);
            } else if (!CFileOperation().Delete(path, kShellSilentFlags)) {
                return false;
            }
        }
    }
    return true;
}

void CCommitJournal::Discard() {
    os::RemoveFile(Path(kJournal));
    for (const WString& directory : {m_systemPath, Path(u"INTERNAL")}) {
        std::vector<os::DirEntry> entries;
        os::ListDirectory(directory, entries);
        for (const os::DirEntry& entry : entries) {
            if (!entry.isDirectory && WStringView(entry.name).ends_with(kStaged)) {
                os::RemoveFile(directory + u"\\" + entry.name);
            }
        }
    }
}

bool CCommitJournal::Read() {
    const File file(os::OpenFile(Path(kJournal), "rb"));
    if (!file) return false;
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;) text.append(buffer, n);
    std::vector<std::string> fields;
    std::size_t start = 0;
    bool ended = false;
    for (std::size_t newline; !ended && (newline = text.find('\n', start)) != std::string::npos; start = newline + 1) {
        const std::string line = text.substr(start, newline - start);
        if (start == 0) {
            if (line != kHeader) return false;
            continue;
        }
        Split(line, fields);
        if (fields.size() == 1 && fields[0] == kEnd) {
            ended = true;
        } else if (fields.size() == 2 && fields[0] == "replace" && IsBelow(FromUtf8(fields[1]))) {
            m_steps.push_back({Kind::Replace, FromUtf8(fields[1]), WString()});
        } else if (fields.size() == 3 && (fields[0] == "empty" || fields[0] == "empty-files") &&
                   IsBelow(FromUtf8(fields[1]))) {
            m_steps.push_back({fields[0] == "empty" ? Kind::Empty : Kind::EmptyFiles, FromUtf8(fields[1]),
                               FromUtf8(fields[2])});
        } else {
            return false;
        }
    }
    return ended;
}

bool CCommitJournal::Recover(WStringView systemPath) {
    CCommitJournal journal(systemPath);
    if (os::GetEntryKind(journal.Path(kJournal)) == os::EntryKind::File) {
        if (!journal.Read()) {
            Trace(u"TempFileHandler", Format(u"CCommitJournal::Recover, Unreadable journal %s.\n", journal.Path(kJournal)));
            return false;
        }
        if (!journal.Apply()) return false;
    }
    journal.Discard();
    return true;
}

}  // namespace kel
