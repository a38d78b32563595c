// Registry scripts: the text form of the keys a component server writes on
// registration and removes on unregistration.
//
//   HKCR
//   {
//       NoRemove CLSID
//       {
//           ForceRemove {...} = s 'Description'
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'both'
//               }
//           }
//       }
//   }
//
// NoRemove keeps a key on unregistration, ForceRemove deletes it with its whole
// tree before writing it (and on unregistration), Delete removes a key on
// registration. Names and texts are bare words or 'quoted' ('' is a quote);
// %NAME% is replaced from the caller's variables and %% is a percent sign.
#pragma once

#include <utility>
#include <vector>

#include "KelCom.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace kel {

struct RegistryScriptValue {
    WString name;
    WString data;
};

struct RegistryScriptKey {
    enum class Mode { Normal, NoRemove, ForceRemove, Delete };
    Mode mode = Mode::Normal;
    WString name;
    bool hasDefault = false;
    WString defaultValue;
    std::vector<RegistryScriptValue> values;
    std::vector<RegistryScriptKey> subkeys;
};

struct RegistryScriptRoot {
    RegistryRoot root = RegistryRoot::ClassesRoot;
    std::vector<RegistryScriptKey> keys;
};

struct RegistryScript {
    std::vector<RegistryScriptRoot> roots;
};

enum class RegistrarAction { Register, Unregister };

using RegistrarVariables = std::vector<std::pair<WString, WString>>;

// Status of a script that does not follow the grammar (ERROR_INVALID_DATA).
inline constexpr HRESULT kRegistryScriptInvalid = static_cast<HRESULT>(0x8007000DL);

class CRegistrar {
public:
    // S_OK, or kRegistryScriptInvalid with a trace naming the line.
    static HRESULT Parse(WStringView text, const RegistrarVariables& variables, RegistryScript& script);

    // Stops at the first failing registry call and returns its status.
    static HRESULT Apply(const RegistryScript& script, RegistryStore& registry, RegistrarAction action);
};

}  // namespace kel
