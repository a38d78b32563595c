#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/path_map.h"
#endif

#include "platform/os.h"
#include "platform/raii.h"
#include "platform/sealed_file.h"
#include "shared/file_operation.h"

namespace kel::test {

namespace {

// Each test process works in a temporary directory of its own, so that checks
// of what an operation leaves there are not disturbed by other processes.
struct OwnTemporaryDirectory {
    std::filesystem::path path;

    OwnTemporaryDirectory() {
        std::error_code error;
        const std::filesystem::path base = std::filesystem::temp_directory_path(error);
        if (error) return;
        path = base / ("kel-tests-" + std::to_string(std::random_device()()));
        if (!std::filesystem::create_directory(path, error)) {
            path.clear();
            return;
        }
#if defined(_WIN32)
        _wputenv_s(L"TMP", path.c_str());
        _wputenv_s(L"TEMP", path.c_str());
#else
        setenv("TMPDIR", path.c_str(), 1);
#endif
    }
    ~OwnTemporaryDirectory() {
        std::error_code error;
        if (!path.empty()) std::filesystem::remove_all(path, error);
    }
} g_ownTemporaryDirectory;

}  // namespace

TempDir::TempDir() {
    WString base;
    if (!os::GetTempDirectory(base) || !os::CreateUniqueTempFile(base, u"kt", path_)) {
        throw std::runtime_error("no temporary directory");
    }
    os::RemoveFile(path_);
    path_ += u"d";
    if (!os::MakeDirectory(path_)) throw std::runtime_error("cannot create test directory");
}

TempDir::~TempDir() { RemoveDirectoryTree(path_); }

TraceCapture::TraceCapture() { SetTraceSink(&TraceCapture::Sink, this); }
TraceCapture::~TraceCapture() { SetTraceSink(nullptr, nullptr); }

void TraceCapture::Sink(const char16_t* piece, void* self) {
    static_cast<TraceCapture*>(self)->pieces_.emplace_back(piece);
}

std::vector<TraceCapture::Record> TraceCapture::records() const {
    std::vector<Record> out;
    for (std::size_t i = 0; i + 4 < pieces_.size(); ++i) {
        if (pieces_[i] == u"ReleaseErrorTrace: \nFile: " && pieces_[i + 2] == u"\nError: " && pieces_[i + 4] == u"\n") {
            out.push_back({ToUtf8(pieces_[i + 1]), ToUtf8(pieces_[i + 3])});
            i += 4;
        }
    }
    return out;
}

bool TraceCapture::Has(const std::string& message) const {
    const std::vector<Record> all = records();
    return std::any_of(all.begin(), all.end(), [&](const Record& record) { return record.message == message; });
}

namespace {

WString FromNative(std::string_view dir) {
    WString out = u"Z:";
    for (char16_t c : FromUtf8(dir)) out.push_back(c == u'/' ? u'\\' : c);
    return out;
}

}  // namespace

WString SourceDir() { return FromNative(KEL_SOURCE_DIR); }
WString BinaryDir() { return FromNative(KEL_BINARY_DIR); }

std::set<WString> WorkDirectories(WStringView dir) {
    WString temp(dir);
    std::vector<os::DirEntry> entries;
    if ((temp.empty() && !os::GetTempDirectory(temp)) || !os::ListDirectory(temp, entries)) throw std::runtime_error("no temporary directory");
    std::set<WString> names;
    for (const os::DirEntry& entry : entries) {
        if (entry.name.starts_with(u"cct")) names.insert(entry.name);
    }
    return names;
}

namespace {

#if defined(_WIN32)
// One argument as the child's runtime splits its command line again.
WString Quoted(WStringView argument) {
    if (!argument.empty() && argument.find_first_of(u" \t\"") == WStringView::npos) return WString(argument);
    WString out = u"\"";
    std::size_t slashes = 0;
    for (char16_t c : argument) {
        if (c == u'\\') {
            ++slashes;
            continue;
        }
        out.append(c == u'"' ? slashes * 2 + 1 : slashes, u'\\');
        out.push_back(c);
        slashes = 0;
    }
    out.append(slashes * 2, u'\\');
    return out + u"\"";
}

// One attempt: false when the program did not start.
bool StartAndWait(const std::string& program, const std::vector<std::string>& arguments, CommandResult& result) {
    const WString path = os::FromNativePath(program);
    WString line = Quoted(path);
    for (const std::string& argument : arguments) line += u" " + Quoted(U(argument));
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = writeEnd;
    PROCESS_INFORMATION process{};
    const bool started = CreateProcessW(reinterpret_cast<const wchar_t*>(path.c_str()),
                                        reinterpret_cast<wchar_t*>(line.data()), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (started) {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) result.out.append(buffer, got);
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        result.code = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(readEnd);
    // Line ends as a text stream reads them, as on the other platforms.
    for (std::size_t at = 0; (at = result.out.find("\r\n", at)) != std::string::npos;) result.out.erase(at, 1);
    // Its libraries failed to start: it never ran a line of its own.
    constexpr DWORD kDllInitFailed = 0xC0000142;
    return started && static_cast<DWORD>(result.code) != kDllInitFailed;
}
#else
bool StartAndWait(const std::string& program, const std::vector<std::string>& arguments, CommandResult& result) {
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    const bool started = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    if (started) {
        char buffer[4096];
        ssize_t got = 0;
        while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
            if (got > 0) result.out.append(buffer, static_cast<std::size_t>(got));
        }
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        result.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    close(pipeEnds[0]);
    return started;
}
#endif

}  // namespace

CommandResult RunProgram(const char* name, const std::vector<std::string>& arguments) {
#if defined(_WIN32)
    const std::string program = os::ExecutableDirectory() + "\\" + name + ".exe";
#else
    const std::string program = os::ExecutableDirectory() + "/" + name;
#endif
    // Wine, busy, now and then fails to start a process at all.
    for (int attempt = 0; attempt < 5; ++attempt) {
        CommandResult result{-1, {}};
        if (StartAndWait(program, arguments, result)) return result;
        std::this_thread::sleep_for(std::chrono::milliseconds(100 << attempt));
    }
    return {-1, {}};
}

std::string BuiltProgram(const char* name) {
#if defined(_WIN32)
    return std::string(name) + ".exe";
#else
    return std::string("\"" KEL_BINARY_DIR "/") + name + "\"";
#endif
}

void SetEnvironment(const char* name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

std::string NativePath(WStringView path) {
    std::string native = N(path);
#if !defined(_WIN32)
    if (native.rfind("Z:", 0) == 0) native.erase(0, 2);
    for (char& c : native) {
        if (c == '\\') c = '/';
    }
#endif
    return native;
}

std::string ShellPath(WStringView path) { return "\"" + NativePath(path) + "\""; }

std::map<WString, std::string> Snapshot(WStringView dir) {
    std::map<WString, std::string> files;
    std::vector<WString> pending = {u""};
    while (!pending.empty()) {
        const WString relative = pending.back();
        pending.pop_back();
        std::vector<os::DirEntry> entries;
        os::ListDirectory(relative.empty() ? WString(dir) : WString(dir) + u"\\" + relative, entries);
        for (const os::DirEntry& entry : entries) {
            const WString path = relative.empty() ? entry.name : relative + u"\\" + entry.name;
            if (entry.isDirectory) {
                files[path + u"\\"] = "";
                pending.push_back(path);
            } else {
                files[path] = ReadAll(WString(dir) + u"\\" + path);
            }
        }
    }
    return files;
}

std::string Unsealed(WStringView path) {
    SealedFile file;
    if (!file.OpenForRead(path) || !file.IsSealed()) return "?";
    std::string plain;
    char buffer[4096];
    while (std::size_t got = file.ReadBytes(buffer, 1, sizeof buffer)) plain.append(buffer, got);
    return plain;
}

WString SampleRelease(WStringView name) { return SourceDir() + u"\\samples\\releases\\" + WString(name); }

const WString& SampleKey(std::size_t index) {
    static const std::vector<WString> keys = [] {
        std::vector<WString> lines;
        std::istringstream text(ReadAll(SourceDir() + u"\\samples\\keys.txt"));
        for (std::string line; std::getline(text, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty() && !line.starts_with("#")) lines.push_back(FromUtf8(line));
        }
        return lines;
    }();
    if (index >= keys.size()) throw std::runtime_error("samples/keys.txt has too few keys");
    return keys[index];
}

WString Rekey(WStringView keystring, const std::function<void(KeyDescription&)>& change) {
    KeyDescription key;
    WString made;
    if (!DescribeKey(keystring, key)) throw std::runtime_error("not a keystring");
    change(key);
    if (!MakeKeystring(key, made)) throw std::runtime_error("the changed fields make no keystring");
    return made;
}

CKeyInfo Key(WStringView keystring, WStringView programPath, uint32_t type, uint16_t module) {
    CKeyInfo key;
    key.SetKeystring(keystring);
    key.SetProgramPath(programPath);
    key.SetProgramType(type);
    key.SetDriveModuleNr(module);
    return key;
}

std::string ReadAll(WStringView path) {
    std::string bytes;
    os::ReadWholeFile(path, bytes);
    return bytes;
}

bool WriteAll(WStringView path, std::string_view bytes) {
    File file(os::OpenFile(path, "wb"));
    if (!file) return false;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) return false;
    return file.Close();
}

bool Exists(WStringView path) { return os::GetEntryKind(path) != os::EntryKind::None; }
bool IsDirectory(WStringView path) { return os::GetEntryKind(path) == os::EntryKind::Directory; }

bool MakeLink(WStringView link, WStringView target) {
#if defined(_WIN32)
    constexpr DWORD kUnprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE, Windows 10 in developer mode
    const DWORD flags = (IsDirectory(target) ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | kUnprivileged;
    CreateSymbolicLinkW(reinterpret_cast<const wchar_t*>(WString(link).c_str()),
                        reinterpret_cast<const wchar_t*>(WString(target).c_str()), flags);
#else
    const auto from = os::posix::MapPath(link);
    const auto to = os::posix::MapPath(target);
    if (!from || !to || symlink(to->c_str(), from->c_str()) != 0) return false;
#endif
    return os::IsLink(link);
}

ComPtr<IKelInstallSystem> NewSystemObject() {
    ComPtr<IClassFactory> factory;
    ComPtr<IKelInstallSystem> object;
    if (SUCCEEDED(DllGetClassObject(CLSID_KelInstallSystem, IID_IClassFactory, factory.PutVoid()))) {
        factory->CreateInstance(nullptr, IID_IKelInstallSystem, object.PutVoid());
    }
    return object;
}

std::string Verify(WStringView system) { return RunProgram("kelsys", {"verify", NativePath(system)}).out; }

bool SelectGerman(WString& options) {
    for (const char16_t* swap : {u"1</Selected><LineSelectionDescription>English", u"0</Selected><LineSelectionDescription>German"}) {
        const std::size_t at = options.find(swap);
        if (at == WString::npos) return false;
        options[at] = options[at] == u'1' ? u'0' : u'1';
    }
    return true;
}

void ExpectFault(const Fault& fault, const std::function<HRESULT()>& operation, const std::function<void()>& disk) {
    SCOPED_TRACE(std::string("primitive ") + std::to_string(static_cast<int>(fault.primitive)) + " call " +
                 std::to_string(fault.nth));
    const std::set<WString> work = WorkDirectories();
    TraceCapture traces;
    os::FailNthCall(fault.primitive, fault.nth, fault.times);
    const HRESULT status = operation();
    EXPECT_FALSE(os::FaultPending()) << "the fault never fired";
    os::ClearFault();
    EXPECT_EQ(status, fault.status);
    if (fault.trace) {
        ASSERT_FALSE(traces.records().empty());
        EXPECT_EQ(traces.records().back().message.rfind(fault.trace, 0), 0u) << traces.records().back().message;
    }
    disk();
    EXPECT_EQ(WorkDirectories(), work);
}

std::u16string U(std::string_view utf8) { return FromUtf8(utf8); }
std::string N(WStringView text) { return ToUtf8(text); }

template <class Group>
std::string GroupLine(const Group& g) {
    std::string out = N(g.GetLabel()) + "|" + N(g.GetTitle()) + "|" + N(g.GetCode()) + "|" + N(g.GetCategory()) + "|" +
                      N(g.GetSubTitle()) + "|" + N(g.GetSubGUID());
    for (const auto& o : g.Options()) {
        out += " / ";
        if constexpr (std::is_same_v<Group, CSelectionGroup>) out += std::to_string(o.GetSelected()) + ":";
        out += N(o.GetLineSelectionDescription()) + "|" + N(o.GetDatFile()) + "|" + N(o.GetRefSubLabel());
        if constexpr (std::is_same_v<Group, CRelkeyGroup>) out += "|" + N(o.GetRemark());
    }
    return out;
}

std::string Line(const CRelkeyGroup& group) { return GroupLine(group); }
std::string Line(const CSelectionGroup& group) { return GroupLine(group); }

}  // namespace kel::test
