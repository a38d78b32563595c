// Linux has no class registry, resources or type library registry: the
// registry script is compiled in so that registration can still check it.
#include "platform/server_module.h"

#include <dlfcn.h>

#include "platform/posix/path_map.h"
#include "platform/registry.h"

namespace kel {

namespace {

const char kRegistryScript[] =
#include "registry_script.inc"
    ;

}  // namespace

std::unique_ptr<RegistryStore> os::OpenSystemRegistry() { return nullptr; }

bool os::GetServerModulePath(WString& path) {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&os::GetServerModulePath), &info) || !info.dli_fname) return false;
    path = posix::UnmapPath(info.dli_fname);
    return true;
}

bool os::LoadRegistryScript(WString& script) {
    script = FromUtf8(kRegistryScript);
    return true;
}

HRESULT os::RegisterServerTypeLibrary(WStringView) { return S_OK; }
HRESULT os::UnregisterServerTypeLibrary(WStringView) { return S_OK; }

}  // namespace kel
