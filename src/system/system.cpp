#include "system/system.h"

#include "shared/outside_factory.h"
#include "platform/os.h"
#include "platform/trace.h"

namespace kel {

CSystem::CSystem() {
    const HRESULT hr = CreateOutsideComponent(CLSID_KelInstallMedia, IID_IKelInstallMedia, m_media.PutVoid());
    if (FAILED(hr) || !m_media) {
        m_media.Reset();
        TraceFormatted(u"CSystem::CSystem, Could not initialize IKelInstallMedia, returned: %x\n", static_cast<unsigned>(hr));
    }
}
CSystem::~CSystem() = default;

void CSystem::TraceMessage(WStringView message) { Trace(u"System", message); }

bool CSystem::PopProgramNotice(WString& name) {
    if (m_notices.empty()) return false;
    name = std::move(m_notices.back());
    m_notices.pop_back();
    return true;
}

bool CSystem::NeedsBackupDirectory(ReleaseVersion v) {
    return v.major == 5 && (v.minor < 12 || (v.minor == 12 && v.third < 2));
}

HRESULT CSystem::CreateSystemSubDirectories(WStringView directory, ReleaseVersion version) {
    const WString root(directory);
    std::vector<WString> paths = {root + u"\\SYSPAR", root + u"\\HOME"};
    if (NeedsBackupDirectory(version)) paths.push_back(root + u"\\BACKUP");
    for (const char16_t* sub : {u"\\INTERNAL", u"\\INTERNAL\\OPTIONS", u"\\INTERNAL\\RAPID", u"\\INTERNAL\\REPORTS"}) {
        paths.push_back(root + sub);
    }
    for (const WString& path : paths) {
        // The new folder's INTERNAL, holding its owner marker, is there already.
        if (path.ends_with(u"\\INTERNAL") && os::GetEntryKind(path) == os::EntryKind::Directory) continue;
        if (!os::MakeDirectory(path)) {
            TraceFormatted(u"CSystem::CreateSystemSubDirectories, Could not create directory %s\n", path);
            return KELINSTALL_E_CREATE_DIRECTORY;
        }
    }
    return S_OK;
}

}  // namespace kel
