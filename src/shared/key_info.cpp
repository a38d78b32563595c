#include "shared/key_info.h"

#include <stdexcept>

namespace kel {

void CKeyList::RemoveAt(std::size_t index) {
    if (index >= m_keys.size()) throw std::invalid_argument("key list index");
    m_keys.erase(m_keys.begin() + static_cast<std::ptrdiff_t>(index));
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
