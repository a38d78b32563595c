// What the component server needs to know about the library it lives in.
#pragma once

#include "KelCom.h"
#include "platform/text.h"

namespace kel::os {

// Full path of the library holding this code (the executable when the code is
// linked statically), Windows form.
bool GetServerModulePath(WString& path);

// The registry script the library carries (resource REGISTRY 103 on Windows).
bool LoadRegistryScript(WString& script);

// Registers or removes the type library embedded in the library at modulePath.
// No-ops returning S_OK where the platform has no type library registry.
HRESULT RegisterServerTypeLibrary(WStringView modulePath);
HRESULT UnregisterServerTypeLibrary(WStringView modulePath);

}  // namespace kel::os
