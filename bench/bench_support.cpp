#include "bench_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "platform/os.h"
#include "shared/keystring.h"

namespace kel::bench {

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path) {
    throw std::runtime_error(what + " " + path);
}

class Fd {
public:
    Fd(const std::string& path, int flags) : m_fd(open(path.c_str(), flags | O_CLOEXEC, 0644)) {
        if (m_fd < 0) Fail("cannot open", path);
    }
    ~Fd() { close(m_fd); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Groups of three single-choice options, every tenth opening a sub group of
// two multiple-choice options; options name small selection files.
std::string RelkeyText(const std::string& title, int groups) {
    std::string text = "title " + title + "\nowner NOFAC\ntype multiple\n";
    std::string subs;
    char line[160];
    for (int g = 0; g < groups; ++g) {
        const bool opens = g % 10 == 0;
        std::snprintf(line, sizeof line, "grp%d \"Group %d\" Category=\"Bench\"\n", g, g);
        text += line;
        for (int o = 0; o < 3; ++o) {
            const std::string sub = opens && o == 0 ? " &Sub" + std::to_string(g) : "";
            std::snprintf(line, sizeof line, "grp%d 1,1 \"Option %d.%d\" sel%d.dat%s\n", g, g, o, o, sub.c_str());
            text += line;
        }
        text += "\n";
        if (opens) {
            std::snprintf(line, sizeof line, "&Sub%d\ngrpsub%d \"Sub group %d\" Category=\"Bench\"\n", g, g, g);
            subs += line;
            for (int o = 0; o < 2; ++o) {
                std::snprintf(line, sizeof line, "grpsub%d 0,n \"Sub option %d.%d\" sub.dat\n", g, g, o);
                subs += line;
            }
            subs += "\n";
        }
    }
    return text + "end\n\n" + subs;
}

void WriteSelectionFiles(const std::string& syskey) {
    for (const char* name : {"sel0.dat", "sel1.dat", "sel2.dat", "sub.dat"}) {
        WriteBytes(syskey + "/" + name, std::string("-id Bench -key \"-id \"\"") + name + "\"\" \"\n");
    }
}

WString Key(const char16_t* program, int signature, KeyKind kind, int variant) {
    KeyDescription description;
    description.serialNumber = 1234567;
    description.signatureNumber = signature;
    description.programName = program;
    description.kind = kind;
    // One digit per option of the first groups: a choice in each, varied by variant.
    for (int i = 0; i < 198; ++i) description.selectionText += i % 3 == (i / 3 + variant) % 3 ? u'1' : u'0';
    WString keystring;
    if (!MakeKeystring(description, keystring)) throw std::runtime_error("cannot make a key");
    return keystring;
}

std::string Join(const std::string& a, const std::string& b) { return a.empty() ? b : a + "/" + b; }

template <class Visit>
void Walk(const std::string& root, const std::string& relative, Visit visit) {
    const std::string directory = Join(root, relative);
    DIR* dir = opendir(directory.c_str());
    if (!dir) Fail("cannot list", directory);
    std::vector<std::pair<std::string, bool>> entries;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") entries.emplace_back(name, entry->d_type == DT_DIR);
    }
    closedir(dir);
    for (const auto& [name, isDirectory] : entries) {
        const std::string path = relative.empty() ? name : relative + "/" + name;
        visit(path, isDirectory);
        if (isDirectory) Walk(root, path, visit);
    }
}

}  // namespace

Scratch::Scratch() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kelbenchXXXXXX";
    if (!mkdtemp(pattern.data())) Fail("cannot create", pattern);
    m_native = pattern;
}

Scratch::~Scratch() {
    try {
        RemoveTree(m_native);
    } catch (const std::exception&) {
    }
}

WString Scratch::Component(const std::string& native) { return os::FromNativePath(native); }

WString WriteRelease(const std::string& directory, int groups) {
    MakeDirectories(directory + "/syskey");
    WriteBytes(directory + "/media.id", "Name=Zendara\nType=1\n");
    WriteBytes(directory + "/version.xml",
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ReleaseVersion><Title>Zendara</Title><Major>6</Major>"
               "<Minor>0</Minor><Build>1</Build><Revision>1</Revision></ReleaseVersion>\n");
    WriteBytes(directory + "/syskey/relkey.007", RelkeyText("Bench release", groups));
    WriteSelectionFiles(directory + "/syskey");
    return Key(u"Zendara", 7, KeyKind::ReleaseKey, 0);
}

WString DriveModuleKey(int variant) { return Key(u"Zendara", 7, KeyKind::ReleaseKey, variant); }

WString WriteAdditionalRelease(const std::string& directory, const std::string& name, int groups) {
    MakeDirectories(directory + "/syskey");
    WriteBytes(directory + "/media.id", "Name=" + name + "\nType=2\n");
    WriteBytes(directory + "/syskey/relkey.opt", RelkeyText(name, groups));
    WriteSelectionFiles(directory + "/syskey");
    return Key(FromUtf8(name).c_str(), 1001, KeyKind::AdditionalOptionKey, 1);
}

void ResetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";  // resets the high-water mark
}

double PeakMemoryMB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    }
    return 0;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    Fd out(path, O_WRONLY | O_CREAT | O_TRUNC);
    if (write(out.get(), bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) Fail("cannot write", path);
}

std::string ReadBytes(const std::string& path) {
    Fd in(path, O_RDONLY);
    struct stat st;
    if (fstat(in.get(), &st) != 0) Fail("cannot stat", path);
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    if (read(in.get(), bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) Fail("cannot read", path);
    return bytes;
}

void ReadThrough(const std::string& path) {
    static char buffer[1 << 16];
    Fd in(path, O_RDONLY);
    ssize_t got;
    while ((got = read(in.get(), buffer, sizeof buffer)) > 0) {
    }
    if (got < 0) Fail("cannot read", path);
}

void Flush(const std::string& path) {
    Fd fd(path, O_RDONLY);
    if (fsync(fd.get()) != 0) Fail("cannot flush", path);
}

void FlushDirectory(const std::string& path) {
    Fd fd(path, O_RDONLY | O_DIRECTORY);
    if (fsync(fd.get()) != 0) Fail("cannot flush", path);
}

void FastCopy(const std::string& from, const std::string& to) {
    Fd in(from, O_RDONLY);
    Fd out(to, O_WRONLY | O_CREAT | O_TRUNC);
    if (ioctl(out.get(), FICLONE, in.get()) == 0) return;
    struct stat st;
    if (fstat(in.get(), &st) != 0) Fail("cannot stat", from);
    for (off_t left = st.st_size; left > 0;) {
        ssize_t done = copy_file_range(in.get(), nullptr, out.get(), nullptr, static_cast<size_t>(left), 0);
        if (done < 0 && (errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP || errno == ENOSYS)) {
            done = sendfile(out.get(), in.get(), nullptr, static_cast<size_t>(left));  // between file systems
        }
        if (done <= 0) Fail("cannot copy", from);
        left -= done;
    }
}

void CopyTree(const std::string& from, const std::string& to) {
    MakeDirectories(to);
    Walk(from, "", [&](const std::string& path, bool isDirectory) {
        if (isDirectory) {
            if (mkdir(Join(to, path).c_str(), 0777) != 0) Fail("cannot create", Join(to, path));
        } else {
            FastCopy(Join(from, path), Join(to, path));
        }
    });
}

void MoveTreeBack(const std::string& from, const std::string& to) {
    std::vector<std::string> directories;
    Walk(from, "", [&](const std::string& path, bool isDirectory) {
        if (isDirectory) {
            directories.push_back(path);
            mkdir(Join(to, path).c_str(), 0777);  // may exist
        } else if (rename(Join(from, path).c_str(), Join(to, path).c_str()) != 0) {
            Fail("cannot rename", Join(from, path));
        }
    });
    for (auto it = directories.rbegin(); it != directories.rend(); ++it) rmdir(Join(from, *it).c_str());
    rmdir(from.c_str());
}

void RemoveTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (!S_ISDIR(st.st_mode)) {
        unlink(path.c_str());
        return;
    }
    std::vector<std::string> directories;
    Walk(path, "", [&](const std::string& entry, bool isDirectory) {
        if (isDirectory) {
            directories.push_back(entry);
        } else {
            unlink(Join(path, entry).c_str());
        }
    });
    for (auto it = directories.rbegin(); it != directories.rend(); ++it) rmdir(Join(path, *it).c_str());
    if (rmdir(path.c_str()) != 0) Fail("cannot remove", path);
}

void MakeDirectories(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) Fail("cannot create", prefix);
        if (slash == std::string::npos) return;
    }
}

std::vector<std::string> FileNames(const std::string& directory) {
    std::vector<std::string> names;
    DIR* dir = opendir(directory.c_str());
    if (!dir) Fail("cannot list", directory);
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_type != DT_DIR) names.emplace_back(entry->d_name);
    }
    closedir(dir);
    return names;
}

TreeImage TreeImage::Of(const std::string& root, const std::vector<std::string>& only) {
    TreeImage image;
    if (!only.empty()) {
        for (const std::string& path : only) image.files.emplace_back(path, ReadBytes(Join(root, path)));
        return image;
    }
    Walk(root, "", [&](const std::string& path, bool isDirectory) {
        if (isDirectory) {
            image.directories.push_back(path);
        } else {
            image.files.emplace_back(path, ReadBytes(Join(root, path)));
        }
    });
    return image;
}

void TreeImage::WriteTo(const std::string& root) const {
    for (const std::string& directory : directories) {
        if (mkdir(Join(root, directory).c_str(), 0777) != 0 && errno != EEXIST) Fail("cannot create", directory);
    }
    for (const auto& [path, bytes] : files) WriteBytes(Join(root, path), bytes);
}

void FillDirectory(const std::string& directory, int files, std::size_t size) {
    const std::string bytes(size, 'x');
    for (int i = 0; i < files; ++i) WriteBytes(directory + "/file" + std::to_string(i) + ".mod", bytes);
}

}  // namespace kel::bench
