// What the benchmarks share: generated releases, peak memory, and the floor
// primitives (the least file-system work an operation could do, with the
// fastest calls Linux has), on native paths.
#pragma once

#include <string>
#include <vector>

#include "platform/text.h"

namespace kel::bench {

// A fresh directory under the temporary directory, removed with its contents.
class Scratch {
public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const std::string& native() const { return m_native; }
    std::string operator/(const std::string& name) const { return m_native + "/" + name; }
    // The component's (Windows) form of a native path.
    static WString Component(const std::string& native);

private:
    std::string m_native;
};

// A main release of `groups` generated groups in directory (media.id,
// version.xml, syskey/relkey.007 and the selection files its options name):
// groups of three single-choice options, every tenth opening a sub group of
// two multiple-choice options. Returns a keystring for it.
WString WriteRelease(const std::string& directory, int groups);
// A drive module key for that release; variants choose differently.
WString DriveModuleKey(int variant);
// An additional option program `name` (relkey.opt) of the same shape. Returns its key.
WString WriteAdditionalRelease(const std::string& directory, const std::string& name, int groups);

// Peak resident memory since the last reset, in MB.
void ResetPeakMemory();
double PeakMemoryMB();

// Floor primitives; each throws on failure.
void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);
// Reads the whole file and drops it: what an input costs at least.
void ReadThrough(const std::string& path);
// fsync of a file, and of a folder (the names in it).
void Flush(const std::string& path);
void FlushDirectory(const std::string& path);
// Clone when the file system can, else an in-kernel copy.
void FastCopy(const std::string& from, const std::string& to);
// Every file below from, copied to the same place below to (directories made).
void CopyTree(const std::string& from, const std::string& to);
// Every file below from renamed over its place below to, then from removed.
void MoveTreeBack(const std::string& from, const std::string& to);
void RemoveTree(const std::string& path);
void MakeDirectories(const std::string& path);
// Names of the files (not directories) directly in directory.
std::vector<std::string> FileNames(const std::string& directory);

// A directory's files as paths below it and their bytes.
struct TreeImage {
    std::vector<std::string> directories;  // parents before children
    std::vector<std::pair<std::string, std::string>> files;
    static TreeImage Of(const std::string& root, const std::vector<std::string>& only = {});
    void WriteTo(const std::string& root) const;
};

// n files of size bytes each in directory.
void FillDirectory(const std::string& directory, int files, std::size_t size);

}  // namespace kel::bench
