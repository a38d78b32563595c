// Additional option programs, drive modules and keystrings of an open system.
#include "config/configuration_files.h"
#include "options/relkey_parser.h"
#include "platform/os.h"
#include "platform/trace.h"
#include "shared/keystring.h"
#include "shared/file_operation.h"
#include "shared/temp_file_handler.h"
#include "system/system.h"

namespace kel {

namespace {

// The 0x00040540 success: no such drive module, nothing written.
constexpr HRESULT kDriveModuleNotLoaded = static_cast<HRESULT>(0x00040540);

const CSystem::CommitMessages kAddOption = {
    u"CSystem::AddAdditionalOption, Failure configurate configuration files\n",
    u"CSystem::AddAdditionalOption, Unable to save configuration files\n",
    u"CSystem::AddAdditionalOption, Error creating system.xml in %s\n"};
const CSystem::CommitMessages kRemoveOption = {
    u"CSystem::RemoveAdditionalOption: Failure configurate configuration files\n",
    u"CSystem::RemoveAdditionalOption: Unable to save configuration files\n",
    u"CSystem::RemoveAdditionalOption, Error creating system.xml in %s\n"};
const CSystem::CommitMessages kAddDrive = {
    u"CSystem::AddDriveModule, Failure configurate configuration files\n",
    u"CSystem::AddDriveModule, Unable to save configuration files\n",
    u"CSystem::AddDriveModule, Error creating system.xml in %s\n"};
const CSystem::CommitMessages kRemoveDrive = {
    u"CSystem::RemoveDriveModule: Failure configurate configuration files\n",
    u"CSystem::RemoveDriveModule: Unable to save configuration files\n",
    u"CSystem::RemoveDriveModule, Error creating system.xml in %s\n"};

}  // namespace

HRESULT CSystem::Reconfigure(const char16_t* operation, const CKeyList& before, const CommitMessages& messages,
                             BuildFailure failure) {
    // In the order an open reads the keys, so that the files and system.xml
    // do not depend on the order the keys came in.
    m_keyList.SortAsRead();
    const HRESULT fits = CheckOpens(m_keyList, operation);
    if (FAILED(fits)) {
        m_keyList = before;
        return fits;
    }
    const HRESULT built = BuildSystemOptions(m_systemPath);
    if (FAILED(built)) {
        if (messages.configure) TraceMessage(messages.configure);
        m_keyList = before;
        return failure == BuildFailure::Fail ? E_FAIL : built;
    }
    const HRESULT committed = Commit(BuiltOptions(), messages);
    if (FAILED(committed)) {
        m_keyList = before;
        DropOptions();  // built for the keys that did not come in
    }
    return committed;
}

HRESULT CSystem::AddAdditionalOption(WStringView keystring, WStringView programPath) {
    KeyDescription added;
    if (!DescribeKey(keystring, added)) return KELINSTALL_E_BAD_KEY;
    os::FileLock lock;
    const HRESULT locked = BeginWrite(lock, u"AddAdditionalOption", true);
    if (FAILED(locked)) return locked;
    for (std::size_t i = 1; i < m_keyList.Size(); ++i) {
        KeyDescription loaded;
        if (!DescribeKey(m_keyList.At(i).GetKeystring(), loaded)) {
            TraceMessage(u"CSystem::AddAdditionalOption, Unexpected error reading keystring\n");
            return E_UNEXPECTED;
        }
        if (EqualsNoCase(loaded.programName, added.programName)) {
            TraceFormatted(u"CSystem::AddAdditionalOption, Additional option %s is already loaded in this system\n",
                           added.programName);
            return KELINSTALL_E_ALREADY_LOADED;
        }
    }
    LONG type = 0;
    const HRESULT opened = OpenRelease(programPath, type, u"CSystem::AddAdditionalOption, Program path %s is not valid\n",
                                       KELINSTALL_E_BAD_PROGRAM_PATH);
    if (opened != S_OK) return opened;
    CKeyInfo key;
    key.SetKeystring(keystring);
    key.SetProgramPath(programPath);
    key.SetProgramType(static_cast<uint32_t>(type));
    const CKeyList before = m_keyList;
    m_keyList.Append(key);
    return Reconfigure(u"AddAdditionalOption", before, kAddOption, BuildFailure::Status);
}

HRESULT CSystem::RemoveAdditionalOption(WStringView programName) {
    os::FileLock lock;
    const HRESULT locked = BeginWrite(lock, u"RemoveAdditionalOption", true);
    if (FAILED(locked)) return locked;
    const CKeyList before = m_keyList;
    for (std::size_t i = 0; i < m_keyList.Size(); ++i) {
        KeyDescription description;
        if (!DescribeKey(m_keyList.At(i).GetKeystring(), description)) return S_OK;
        if (description.kind == KeyKind::AdditionalOptionKey && EqualsNoCase(description.programName, programName)) {
            m_keyList.RemoveAt(i);
            return Reconfigure(u"RemoveAdditionalOption", before, kRemoveOption, BuildFailure::Fail);
        }
    }
    TraceMessage(u"CSystem::RemoveAdditionalOption: Could not find specified additional option\n");
    return E_INVALIDARG;
}

HRESULT CSystem::AddDriveModule(WStringView keystring, uint16_t moduleNumber) {
    os::FileLock lock;
    const HRESULT locked = BeginWrite(lock, u"AddDriveModule", true);
    if (FAILED(locked)) return locked;
    for (std::size_t i = 1; i < m_keyList.Size(); ++i) {
        const CKeyInfo& key = m_keyList.At(i);
        if (key.GetProgramType() == Zendara && key.GetDriveModuleNr() == moduleNumber) {
            TraceFormatted(u"CSystem::AddDriveModule, Drive Module %d is already loaded in this system\n",
                           static_cast<int>(moduleNumber));
            return KELINSTALL_E_ALREADY_LOADED;
        }
    }
    CKeyInfo key;
    key.SetKeystring(keystring);
    key.SetProgramPath(m_keyList.At(0).GetProgramPath());
    key.SetProgramType(Zendara);
    key.SetDriveModuleNr(moduleNumber);
    const CKeyList before = m_keyList;
    m_keyList.Append(key);
    return Reconfigure(u"AddDriveModule", before, kAddDrive, BuildFailure::Status);
}

HRESULT CSystem::RemoveDriveModule(uint16_t moduleNumber) {
    os::FileLock lock;
    const HRESULT locked = BeginWrite(lock, u"RemoveDriveModule", true);
    if (FAILED(locked)) return locked;
    const CKeyList before = m_keyList;
    for (std::size_t i = 0; i < m_keyList.Size(); ++i) {
        const CKeyInfo& key = m_keyList.At(i);
        if (key.GetProgramType() == Zendara && key.GetDriveModuleNr() == moduleNumber) {
            m_keyList.RemoveAt(i);
            return Reconfigure(u"RemoveDriveModule", before, kRemoveDrive, BuildFailure::Fail);
        }
    }
    return kDriveModuleNotLoaded;
}

HRESULT CSystem::ReplaceKeystring(WStringView oldKeystring, WStringView newKeystring) {
    os::FileLock lock;
    const HRESULT locked = BeginWrite(lock, u"ReplaceKeystring", true);
    if (FAILED(locked)) return locked;
    const CKeyList before = m_keyList;
    for (std::size_t i = 0; i < m_keyList.Size(); ++i) {
        if (m_keyList.At(i).GetKeystring() == oldKeystring) {
            m_keyList.At(i).SetKeystring(newKeystring);
            // A new main key brings its serial number into system.xml.
            const uint32_t serialNumber = m_serialNumber;
            const WString serialText = m_serialText;
            KeyDescription description;
            if (i == 0 && DescribeKey(newKeystring, description)) {
                m_serialNumber = description.serialNumber;
                m_serialText = description.serialText;
            }
            const HRESULT hr = Reconfigure(u"ReplaceKeystring", before, kAddOption, BuildFailure::Status);
            if (FAILED(hr)) {
                m_serialNumber = serialNumber;
                m_serialText = serialText;
            }
            return hr;
        }
    }
    TraceFormatted(u"CSystem::ReplaceKeystring: Keystring %s is not loaded in this system", oldKeystring);
    return E_INVALIDARG;
}

HRESULT CSystem::AddKeystring(WStringView optionSelection) {
    os::FileLock lock;
    const HRESULT locked = BeginWrite(lock, u"AddKeystring", true);
    if (FAILED(locked)) return locked;
    // An object that holds no options to check against (the first change
    // after opening) builds them from the disk while the caller's document is
    // parsed. Such a text has a node every 30 characters or so.
    HeldTraces buildTraces;
    std::future<HRESULT> building;
    if (!m_options) {
        building = std::async(BesidePolicy(optionSelection.size() / 30), [&] {
            return buildTraces.Hold([&] { return BuildSystemOptions(m_systemPath); });
        });
    }
    xml::Document document = xml::Document::Create();
    const xml::Element options = document && document.Parse(optionSelection) ? document.Root() : xml::Element();
    if (building.valid()) {
        const HRESULT built = building.get();
        buildTraces.Release();
        if (FAILED(built)) {
            TraceMessage(u"CSystem::AddKeystring, Unable to build the system's options to check the selection against\n");
            return E_FAIL;
        }
    }
    const auto check = [&] { return CheckOptionSelection(options); };
    CTempFileHandler folder;
    WString work;
    if (!folder.GetWorkDirectory(work)) {
        // A selection that does not fit is still told as such.
        const HRESULT fits = check();
        if (FAILED(fits)) return fits;
        TraceMessage(u"CSystem::AddKeystring, Unable to make a work directory\n");
        return KELINSTALL_E_WORK_AREA;
    }
    // key.id's option strings come from the relkey files of the build checked
    // against; an old system.xml beside the new selection would describe another
    // system. The check runs while system.xml is built from the selection.
    const HRESULT written =
        WriteConfiguration(work, options,
                           {nullptr, u"CSystem::AddKeystring, Unable to remove non updated system",
                            u"CSystem::AddKeystring, Error creating system.xml in %s\n"},
                           work, check);
    if (FAILED(written)) return written;
    const HRESULT installed = InstallConfiguration(work, true);
    // The next request reads the selection back as the disk now holds it.
    if (SUCCEEDED(installed)) m_optionsStale = true;
    if (FAILED(installed)) {
        TraceFormatted(u"CSystem::AddKeystring, Unable to move updated system %s from temp directory to active systempool\n",
                       m_systemPath);
    }
    return installed;
}

HRESULT CSystem::KeysOf(bool driveModules, const char16_t* emptyMessage, WString& keys, uint32_t& count) const {
    keys.clear();
    count = 0;
    if (m_keyList.Empty()) {
        TraceMessage(emptyMessage);
        return E_FAIL;
    }
    for (std::size_t i = 1; i < m_keyList.Size(); ++i) {
        const CKeyInfo& key = m_keyList.At(i);
        if ((key.GetProgramType() == Zendara) != driveModules) continue;
        if (count++) keys += u',';
        keys += key.GetKeystring();
    }
    return S_OK;
}

HRESULT CSystem::GetUsedKeystring(ProgramType type, WString& keys, uint32_t& count) const {
    if (type == Zendara && !m_keyList.Empty()) {
        keys = m_keyList.At(0).GetKeystring();
        count = 1;
        return S_OK;
    }
    return KeysOf(false, u"CSystem::GetUsedKeystring: No Keystrings available.", keys, count);
}

HRESULT CSystem::GetDriveModuleKeys(WString& keys, uint32_t& count) const {
    return KeysOf(true, u"CSystem::GetDriveModuleKeys: No Keystrings available.", keys, count);
}

}  // namespace kel
