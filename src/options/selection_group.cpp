#include "options/selection_group.h"

#include <new>
#include <utility>

#include "platform/trace.h"

namespace kel {

int CSelectionGroup::GetOption(int index, CSelectionOption& option) const {
    if (index < 0 || index >= GetOptionCount()) return -1;
    option = m_options[static_cast<std::size_t>(index)];
    return 0;
}

int CSelectionGroup::AddOption(CSelectionOption option) {
    try {
        m_options.push_back(std::move(option));
    } catch (const std::bad_alloc&) {
        Trace(u"SelectionGroup", u"");
        throw;
    }
    return GetOptionCount() - 1;
}

}  // namespace kel
