// Every method that needs an open system, each called with arguments that its
// own checks would also refuse, so that only the "no system" gate can answer.
#pragma once

#include <functional>
#include <vector>

#include "KelInstallSystem.h"

namespace kel::test {

// Out parameters primed with values that the component must leave alone.
struct OutSlots {
    OLECHAR sentinelText[2] = {'x', 0};
    BSTR text = sentinelText;
    ULONG count = 77;
    KelInstallCtrlType type = static_cast<KelInstallCtrlType>(3);

    bool Untouched() const { return text == sentinelText && count == 77 && type == 3; }
};

struct GatedCall {
    const char* method;
    std::function<HRESULT(IKelInstallSystem*)> call;
};

inline std::vector<GatedCall> GatedCalls(OutSlots& s) {
    return {
        {"ResetSystem", [](IKelInstallSystem* p) { return p->ResetSystem(); }},
        {"AddSystemParameterFile", [](IKelInstallSystem* p) { return p->AddSystemParameterFile(nullptr, VARIANT_TRUE); }},
        {"GetSystemParameterFileList", [&s](IKelInstallSystem* p) { return p->GetSystemParameterFileList(&s.text, &s.count); }},
        {"RemoveSystemParameterFile", [](IKelInstallSystem* p) { return p->RemoveSystemParameterFile(nullptr); }},
        {"AddHomeFile", [](IKelInstallSystem* p) { return p->AddHomeFile(nullptr, VARIANT_FALSE); }},
        {"GetHomeFileList", [&s](IKelInstallSystem* p) { return p->GetHomeFileList(&s.text, &s.count); }},
        {"RemoveHomeFile", [](IKelInstallSystem* p) { return p->RemoveHomeFile(nullptr); }},
        {"GetSystemOptions", [&s](IKelInstallSystem* p) { return p->GetSystemOptions(&s.text); }},
        {"SetSystemOptions", [](IKelInstallSystem* p) { return p->SetSystemOptions(nullptr); }},
        {"GetUsedKeystring", [&s](IKelInstallSystem* p) { return p->GetUsedKeystring(Zendara, &s.text, &s.count); }},
        {"ReplaceKeystring", [](IKelInstallSystem* p) { return p->ReplaceKeystring(nullptr, nullptr); }},
        {"GetSystemType", [&s](IKelInstallSystem* p) { return p->GetSystemType(&s.type); }},
        {"SetProgramPath", [](IKelInstallSystem* p) { return p->SetProgramPath(External, nullptr, nullptr); }},
        {"GetProgramPath", [&s](IKelInstallSystem* p) { return p->GetProgramPath(External, nullptr, &s.text); }},
        {"AddAdditionalOption", [](IKelInstallSystem* p) { return p->AddAdditionalOption(nullptr, nullptr); }},
        {"RemoveAdditionalOption", [](IKelInstallSystem* p) { return p->RemoveAdditionalOption(nullptr); }},
        {"SetSystemTag", [](IKelInstallSystem* p) { return p->SetSystemTag(nullptr); }},
        {"GetSystemTag", [&s](IKelInstallSystem* p) { return p->GetSystemTag(&s.text); }},
        {"GetSystemInfo", [&s](IKelInstallSystem* p) { return p->GetSystemInfo(&s.text); }},
        {"AddDriveModule", [](IKelInstallSystem* p) { return p->AddDriveModule(nullptr, 0); }},
        {"RemoveDriveModule", [](IKelInstallSystem* p) { return p->RemoveDriveModule(0); }},
        {"GetDriveModuleKeys", [&s](IKelInstallSystem* p) { return p->GetDriveModuleKeys(&s.text, &s.count); }},
    };
}

}  // namespace kel::test
