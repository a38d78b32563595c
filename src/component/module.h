// Module-wide state of the component server.
#pragma once

#include "KelCom.h"

namespace kel {

// Live objects and factory locks; the server can unload when this is zero.
void LockModule();
void UnlockModule();
long ModuleLockCount();

// The class factory of KelInstallSystem objects, created once.
HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
HRESULT CanUnloadNow();

}  // namespace kel
