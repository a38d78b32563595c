// A Windows client of the registered KelInstallSystem.dll (regsvr32
// KelInstallSystem.dll first): creates a system, or opens it when it is there
// already, and prints its description.
//
//   windows_client <system path> <release path> <main key>
//
// Exit code 0 when the system is open and described.
#include <cstdio>
#include <cwchar>

#include "KelInstallSystem.h"

namespace {

// Each trace record arrives in five pieces; together they are its text.
void PrintTrace(const char16_t* piece, void*) { std::fwprintf(stderr, L"%ls", reinterpret_cast<const wchar_t*>(piece)); }

using SetTraceSinkFn = void (*)(void (*)(const char16_t*, void*), void*);

// Besides the debug output channel, the traces go to a receiver of ours. The
// DLL is loaded once an object exists; it exports the function by name only.
// These lines are docs/api.md's, and its test checks that they stay so.
SetTraceSinkFn TraceSinkSetter() {
    auto set = reinterpret_cast<SetTraceSinkFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"KelInstallSystem.dll"), "KelInstallSetTraceSink")));
    return set;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fwprintf(stderr, L"usage: %ls <system path> <release path> <main key>\n", argv[0]);
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    IKelInstallSystem* system = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_KelInstallSystem, nullptr, CLSCTX_INPROC_SERVER, IID_IKelInstallSystem,
                                  reinterpret_cast<void**>(&system));
    const SetTraceSinkFn setTraceSink = SUCCEEDED(hr) ? TraceSinkSetter() : nullptr;
    if (setTraceSink) setTraceSink(PrintTrace, nullptr);
    if (SUCCEEDED(hr)) {
        BSTR path = SysAllocString(argv[1]);
        BSTR release = SysAllocString(argv[2]);
        BSTR key = SysAllocString(argv[3]);
        hr = system->CreateSystem(path, key, release);
        // A failed create leaves no system open; the one already there is opened instead.
        if (hr == KELINSTALL_E_EXISTS) hr = system->InitSystem(path);
        BSTR info = nullptr;
        if (SUCCEEDED(hr)) hr = system->GetSystemInfo(&info);
        if (SUCCEEDED(hr)) std::wprintf(L"%ls\n", info);
        SysFreeString(info);
        SysFreeString(key);
        SysFreeString(release);
        SysFreeString(path);
        system->Release();
    }
    std::wprintf(L"0x%08lX\n", static_cast<unsigned long>(hr));
    if (setTraceSink) setTraceSink(nullptr, nullptr);
    CoUninitialize();
    return SUCCEEDED(hr) ? 0 : 1;
}
