// Creates a system with the installed component: consumer <pool dir> <release dir> <main key>.
#include <cstdio>
#include <string>

#include "KelInstallSystem.h"

namespace {

// A BSTR from narrow text, freed at scope end.
struct Text {
    explicit Text(const std::string& text) : bstr(SysAllocStringLen(nullptr, static_cast<UINT>(text.size()))) {
        for (std::size_t i = 0; i < text.size(); ++i) bstr[i] = text[i] == '/' ? u'\\' : static_cast<char16_t>(text[i]);
    }
    ~Text() { SysFreeString(bstr); }
    BSTR bstr;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    IClassFactory* factory = nullptr;
    IKelInstallSystem* system = nullptr;
    if (DllGetClassObject(CLSID_KelInstallSystem, IID_IClassFactory, reinterpret_cast<void**>(&factory)) != S_OK ||
        factory->CreateInstance(nullptr, IID_IKelInstallSystem, reinterpret_cast<void**>(&system)) != S_OK) {
        return 1;
    }
    factory->Release();
    const HRESULT hr = system->CreateSystem(Text(std::string("Z:") + argv[1] + "/Cell").bstr, Text(argv[3]).bstr,
                                            Text(std::string("Z:") + argv[2]).bstr);
    system->Release();
    std::printf("0x%08X\n", static_cast<unsigned>(hr));
    return hr == S_OK ? 0 : 1;
}
