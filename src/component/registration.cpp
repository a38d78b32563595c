#include "component/registration.h"

namespace kel {

// Replaced by the registrar; until then there is nothing to write.
HRESULT RegisterServer() { return E_NOTIMPL; }
HRESULT UnregisterServer() { return E_NOTIMPL; }

}  // namespace kel
