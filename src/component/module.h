// The component server's module state: its lock count and the entry points.
#pragma once

#include "KelInstallSystem.h"
#include "component/registrar.h"

namespace kel {

// Every live object and every class-factory lock or reference holds the module.
void LockModule();
void UnlockModule();
long ModuleLockCount();

// Applies the library's registry script; the type library follows on registration
// and goes after it on unregistration. Where the platform has no class registry
// the script is only checked.
HRESULT UpdateServerRegistration(RegistrarAction action);

}  // namespace kel
