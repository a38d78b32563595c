// Creates the outside components that are built into this library: the
// media, system options and internal components. They are never registered
// and never activated through COM.
#pragma once

#include "KelCom.h"
#include "shared/internal_component.h"
#include "shared/system_options_component.h"
#include "shared/media_component.h"

namespace kel {

// CLASS_E_CLASSNOTAVAILABLE for any other class.
HRESULT CreateOutsideComponent(REFCLSID clsid, REFIID iid, void** out);

// For tests: creation of clsid returns hr from now on. A success code makes
// creation report success but deliver no instance.
void SetOutsideCreationFailure(REFCLSID clsid, HRESULT hr);
void ClearOutsideCreationFailures();
// For tests: creation of clsid goes to creator from now on (null restores the
// built-in component); cleared with the failures.
using OutsideCreator = HRESULT (*)(REFIID iid, void** out);
void SetOutsideCreator(REFCLSID clsid, OutsideCreator creator);

}  // namespace kel
