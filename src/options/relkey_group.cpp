#include "options/relkey_group.h"

#include <utility>

namespace kel {

int CRelkeyGroup::GetOption(int index, CRelkeyOption& option) const {
    if (index < 0 || index >= GetOptionCount()) return -1;
    option = m_options[static_cast<std::size_t>(index)];
    return 0;
}

int CRelkeyGroup::AddOption(const CRelkeyOption& option) {
    m_options.push_back(option);
    return 0;
}

int CRelkeyGroup::AddOption(CRelkeyOption&& option) {
    m_options.push_back(std::move(option));
    return 0;
}

}  // namespace kel
