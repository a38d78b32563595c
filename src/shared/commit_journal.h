// Puts a change into a system so that a process killed at any point leaves its
// configuration all old or all new. The new files are first moved beside their
// targets; then a journal naming every step appears in one rename. From then on
// the change is decided: this object or, after a crash, the next open of the
// system carries it out. Staged files without a journal are leftovers of a
// change that never happened and are dropped.
#pragma once

#include <vector>

#include "platform/text.h"

namespace kel {

class CCommitJournal {
public:
    explicit CCommitJournal(WStringView systemPath) : m_systemPath(systemPath) {}

    // The file at relative (a path below the system) is replaced by source, which is moved.
    void Replace(WStringView relative, WStringView source);
    // Everything in the directory goes, except keep; with filesOnly its
    // subdirectories stay and failures are ignored.
    void Empty(WStringView relative, bool filesOnly = false, WStringView keep = {});

    // Moves the new files beside their targets and writes the journal. False:
    // the system is as before (traced).
    bool Stage();
    // Carries out the journal and removes it. False: the journal stays for the next open.
    bool Apply();
    // Drops the journal, then the staged files: the change is off. Whatever
    // Apply already did must have been put back before.
    void Discard();

    // Finishes a decided change, or drops the staged files of one that was not.
    // False: a journal is there that cannot be carried out now.
    static bool Recover(WStringView systemPath);

private:
    enum class Kind { Replace, Empty, EmptyFiles };
    struct Step {
        Kind kind;
        WString relative;
        WString keepOrSource;
    };

    bool ApplySteps();
    bool Read();
    WString Path(WStringView relative) const;

    WString m_systemPath;
    std::vector<Step> m_steps;
};

}  // namespace kel
