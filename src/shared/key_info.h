// One keystring of a system with the program release it belongs to.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/text.h"

namespace kel {

class CKeyInfo {
public:
    virtual ~CKeyInfo() = default;

    WString GetKeystring() const { return m_keystring; }
    WString GetProgramPath() const { return m_programPath; }
    uint32_t GetProgramType() const { return m_programType; }
    uint16_t GetDriveModuleNr() const { return m_driveModuleNr; }

    void SetKeystring(WStringView keystring) { m_keystring = keystring; }
    void SetProgramPath(WStringView path) { m_programPath = path; }
    void SetProgramType(uint32_t type) { m_programType = type; }
    void SetDriveModuleNr(uint16_t number) { m_driveModuleNr = number; }
    void Reset() { *this = CKeyInfo(); }

private:
    WString m_keystring;
    WString m_programPath;  // absolute, or relative to the system when it starts with "."
    uint32_t m_programType = 0;
    uint16_t m_driveModuleNr = 0;
};

// Element 0 is the main keystring; the order is that of keystr.txt and key.id.
class CKeyList {
public:
    void Clear() { m_keys.clear(); }
    void Append(const CKeyInfo& key) { m_keys.push_back(key); }
    // Out-of-range indexes throw std::invalid_argument.
    void RemoveAt(std::size_t index);
    // The order keystr.txt reads back in: keys without a drive module number
    // as they stand, then drive modules by number.
    void SortAsRead();
    const CKeyInfo& At(std::size_t index) const;
    CKeyInfo& At(std::size_t index);
    std::size_t Size() const { return m_keys.size(); }
    bool Empty() const { return m_keys.empty(); }
    auto begin() const { return m_keys.begin(); }
    auto end() const { return m_keys.end(); }

private:
    std::vector<CKeyInfo> m_keys;
};

}  // namespace kel
