// Puts a change into a system so that a process killed at any point, or a
// power cut after the change is decided, leaves it all old or all new. The new
// files are first moved beside their targets under names of their own, which a
// staging journal names; its rename to the journal decides the change:
// this object or, after a crash, the next open carries it out. A reset's steps
// are all renames, so until its last step it can also be undone: the journal
// is then renamed to the undo journal first, and an open that finds that one
// finishes the undoing. Nothing that no journal names is ever deleted.
#pragma once

#include <vector>

#include "platform/text.h"

namespace kel {

class CCommitJournal {
public:
    explicit CCommitJournal(WStringView systemPath) : m_systemPath(systemPath) {}

    // The file at relative (a path below the system) is replaced by source, which is moved in.
    void Replace(WStringView relative, WStringView source);
    // The entry at relative is moved aside under a new name in its folder (undone by moving it back).
    void Aside(WStringView relative);
    // An empty folder is made at relative.
    void MakeFolder(WStringView relative);

    // Moves the new files beside their targets and writes the journal. False:
    // the system is as before (traced).
    bool Stage();
    enum class Outcome { Done, Pending, Failed };
    // Carries out the journal and removes it, retrying a blocked step a few
    // times. Pending: decided, but a step is still blocked (traced with its
    // file); the journal stays for the next open. The entries moved aside are
    // deleted at the end; when one cannot be, it stays and the trace names it.
    Outcome Apply();
    // Undoes a staged journal that Apply has not finished: every step back,
    // then the new files go. False: the undo journal stays for the next open.
    bool Undo();

    // Finishes a decided change or undoing. False: one is there that cannot
    // be carried out now (traced).
    static bool Recover(WStringView systemPath);
    // Whether relative (below a system) names a journal or an undo journal.
    static bool IsJournal(WStringView relative);
    // Whether a decided journal waits to be carried out forward.
    static bool IsDecided(WStringView systemPath);
    // Whether a journal or an undo journal is waiting.
    static bool IsPending(WStringView systemPath);

private:
    enum class Kind { Replace, Aside, MakeFolder, Empty, EmptyFiles };
    struct Step {
        Kind kind;
        WString relative;
        WString other;  // Replace: the staged name (the source until staged); Aside: the new name; Empty: kept name
    };

    bool Forward(Step& failed);
    bool Backward();
    void DropStaged();
    void DropAside();
    bool Read(const WString& file, bool& version1);
    bool WriteJournal(WStringView name);
    // A name in the folder of relative that nothing has yet: "~<stem><n>",
    // "+" for a new file and "-" for an old entry. Without letters it is
    // found without searching its folder on a case-sensitive file system.
    WString FreeName(WStringView relative, WStringView stem);
    WString Path(WStringView relative) const;

    WString m_systemPath;
    std::vector<Step> m_steps;
    std::vector<WString> m_sources;  // where the new files are until staged
};

}  // namespace kel
