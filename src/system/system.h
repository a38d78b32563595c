// The system object behind the component: for now only its program notice queue.
#pragma once

#include <utility>
#include <vector>

#include "platform/text.h"

namespace kel {

class CSystem {
public:
    void PushProgramNotice(WString notice) { notices_.push_back(std::move(notice)); }

    // Newest first; false when the queue is empty.
    bool PopProgramNotice(WString& out) {
        if (notices_.empty()) return false;
        out = std::move(notices_.back());
        notices_.pop_back();
        return true;
    }

private:
    std::vector<WString> notices_;
};

}  // namespace kel
