// Replacing a file so that a failure leaves the old one: the new bytes go to a
// file of their own beside the target, reach the disk, and are renamed over
// the target in one step.
#pragma once

#include <cstdio>
#include <string_view>

#include "platform/raii.h"
#include "platform/text.h"

namespace kel {

class StagedFile {
public:
    StagedFile() = default;
    ~StagedFile() { Discard(); }
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Makes a new file beside target ("~tXXXX.tmp", never a name that is
    // taken) and opens it for writing.
    bool Open(WStringView target);
    // Null when not open.
    std::FILE* get() const { return m_file.get(); }
    // Flushes and closes the file and renames it over the target. On failure
    // the staged file is gone and the target is as it was.
    bool Commit();
    // Removes the staged file, if one was made and not committed.
    void Discard();

private:
    WString m_target;
    WString m_staged;
    File m_file;
};

// Replaces target with bytes through a StagedFile.
bool WriteFileStaged(WStringView target, std::string_view bytes);

}  // namespace kel
