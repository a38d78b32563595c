// Registry entries and type library of the component server.
#pragma once

#include "KelCom.h"

namespace kel {

HRESULT RegisterServer();
HRESULT UnregisterServer();

}  // namespace kel
