// File-system primitives of the system: one shell file operation per call.
#pragma once

#include "KelCom.h"
#include "platform/shell_file_op.h"
#include "platform/text.h"

namespace kel {

class CFileOperation {
public:
    virtual ~CFileOperation() = default;

    bool Move(WStringView source, WStringView destination, unsigned flags);
    bool Copy(WStringView source, WStringView destination, unsigned flags);
    bool Delete(WStringView path, unsigned flags);

    bool FileExists(WStringView path) const;
    bool DirectoryExists(WStringView path) const;
    static bool IsRootedPath(WStringView path);
    // Recursive creation makes missing parents; either way the final directory
    // must be new, so an existing one gives false.
    bool CreateDirectory(WStringView path, bool recursive) const;

    int LastResult() const { return m_lastResult; }
    const WString& Message() const { return m_message; }

private:
    bool Run(ShellOperation operation, WStringView source, WStringView destination, unsigned flags);

    WString m_message;
    int m_lastResult = 0;
};

// Deletes a directory with everything in it; failures are ignored.
void RemoveDirectoryTree(WStringView directory);

}  // namespace kel
