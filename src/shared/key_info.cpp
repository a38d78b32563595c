#include "shared/key_info.h"

#include <algorithm>
#include <stdexcept>

namespace kel {

void CKeyList::RemoveAt(std::size_t index) {
    if (index >= m_keys.size()) throw std::invalid_argument("key list index");
    m_keys.erase(m_keys.begin() + static_cast<std::ptrdiff_t>(index));
}

void CKeyList::SortAsRead() {
    std::stable_sort(m_keys.begin(), m_keys.end(), [](const CKeyInfo& a, const CKeyInfo& b) {
        return std::pair(a.GetDriveModuleNr() != 0, a.GetDriveModuleNr()) <
               std::pair(b.GetDriveModuleNr() != 0, b.GetDriveModuleNr());
    });
}

const CKeyInfo& CKeyList::At(std::size_t index) const {
    if (index >= m_keys.size()) throw std::invalid_argument("key list index");
    return m_keys[index];
}

CKeyInfo& CKeyList::At(std::size_t index) {
    if (index >= m_keys.size()) throw std::invalid_argument("key list index");
    return m_keys[index];
}

}  // namespace kel
