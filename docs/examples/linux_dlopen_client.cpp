// A Linux client that loads libKelInstallSystem.so at run time, creates a
// system (or opens it, when it is there already) and prints its description.
//
//   linux_dlopen_client <libKelInstallSystem.so> <system dir> <release dir> <main key>
//
// The directories are absolute POSIX paths; the component takes them as
// "Z:\..." paths. Exit code 0 when the system is open and described.
#include <dlfcn.h>

#include <cstdio>
#include <string>

#include "KelInstallSystem.h"

namespace {

// A program that loads the library with dlopen does not link it, so the BSTR
// functions come from the library too: strings it returns are freed by it.
struct Library {
    HRESULT (*getClassObject)(REFCLSID, REFIID, void**);
    HRESULT (*canUnloadNow)();
    BSTR (*allocString)(const OLECHAR*);
    void (*freeString)(BSTR);
    void (*setTraceSink)(void (*)(const char16_t*, void*), void*);
};

template <class Fn>
bool Resolve(void* handle, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(dlsym(handle, name));
    return fn != nullptr;
}

// "/pool/Cell1" becomes "Z:\pool\Cell1" (UTF-8 in, UTF-16 out).
std::u16string WindowsPath(const std::string& posix) {
    std::u16string path = u"Z:";
    for (std::size_t i = 0; i < posix.size();) {
        const unsigned char lead = posix[i];
        const int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        char32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < posix.size(); ++k) c = (c << 6) | (posix[i + k] & 0x3F);
        i += 1 + extra;
        if (c == U'/') c = U'\\';
        if (c >= 0x10000) {
            path += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            path += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            path += static_cast<char16_t>(c);
        }
    }
    return path;
}

std::string Utf8(const char16_t* text) {
    std::string out;
    for (; text && *text; ++text) {
        char32_t c = *text;
        if (c >= 0xD800 && c < 0xDC00 && text[1] >= 0xDC00 && text[1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (*++text - 0xDC00);
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
        } else if (c < 0x10000) {
            out += {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                    static_cast<char>(0x80 | (c & 0x3F))};
        } else {
            out += {static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
                    static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
        }
    }
    return out;
}

// Each trace record arrives in five pieces; together they are its text.
void PrintTrace(const char16_t* piece, void*) { std::fputs(Utf8(piece).c_str(), stderr); }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s <library> <system dir> <release dir> <main key>\n", argv[0]);
        return 2;
    }
    void* handle = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    Library lib{};
    if (!handle || !Resolve(handle, "DllGetClassObject", lib.getClassObject) ||
        !Resolve(handle, "DllCanUnloadNow", lib.canUnloadNow) || !Resolve(handle, "SysAllocString", lib.allocString) ||
        !Resolve(handle, "SysFreeString", lib.freeString) ||
        !Resolve(handle, "KelInstallSetTraceSink", lib.setTraceSink)) {
        std::fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
        return 1;
    }
    lib.setTraceSink(PrintTrace, nullptr);

    IClassFactory* factory = nullptr;
    IKelInstallSystem* system = nullptr;
    HRESULT hr = lib.getClassObject(CLSID_KelInstallSystem, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (SUCCEEDED(hr)) {
        hr = factory->CreateInstance(nullptr, IID_IKelInstallSystem, reinterpret_cast<void**>(&system));
        factory->Release();
    }
    if (SUCCEEDED(hr)) {
        const std::u16string key(argv[4], argv[4] + std::char_traits<char>::length(argv[4]));  // keystrings are ASCII
        BSTR path = lib.allocString(WindowsPath(argv[2]).c_str());
        BSTR mainKey = lib.allocString(key.c_str());
        BSTR release = lib.allocString(WindowsPath(argv[3]).c_str());
        hr = system->CreateSystem(path, mainKey, release);
        // A failed create leaves no system open; the one already there is opened instead.
        if (hr == KELINSTALL_E_EXISTS) hr = system->InitSystem(path);
        BSTR info = nullptr;
        if (SUCCEEDED(hr)) hr = system->GetSystemInfo(&info);
        if (SUCCEEDED(hr)) std::printf("%s\n", Utf8(info).c_str());
        lib.freeString(info);
        lib.freeString(release);
        lib.freeString(mainKey);
        lib.freeString(path);
        system->Release();
    }
    std::printf("0x%08X\n", static_cast<unsigned>(hr));

    lib.setTraceSink(nullptr, nullptr);
    if (lib.canUnloadNow() == S_OK) dlclose(handle);
    return SUCCEEDED(hr) ? 0 : 1;
}
