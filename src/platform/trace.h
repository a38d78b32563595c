// Failure traces: the only output of the component.
#pragma once

#include <utility>
#include <vector>

#include "platform/text.h"

namespace kel {

// One record in five pieces: "ReleaseErrorTrace: \nFile: ", module, "\nError: ", message, "\n".
void Trace(WStringView module, WStringView message);

// The short two-piece record (module, message) written by the GUID writer.
void TraceShort(WStringView module, WStringView message);

// Receives every piece in order; a null sink removes it. Process-wide.
using TraceSinkFn = void (*)(const char16_t* piece, void* context);
void SetTraceSink(TraceSinkFn sink, void* context);

// Work run beside a call on another thread traces into this, and the calling
// thread sends the pieces on afterwards: a receiver sees them on the thread
// it was called on, in the order of a call made step by step.
class HeldTraces {
public:
    template <class Work>
    auto Hold(Work&& work) {
        const Holding holding(m_pieces);
        return std::forward<Work>(work)();
    }
    void Release();

private:
    struct Holding {
        explicit Holding(std::vector<WString>& pieces);
        ~Holding();
        Holding(const Holding&) = delete;
        Holding& operator=(const Holding&) = delete;
        std::vector<WString>* outer;
    };
    std::vector<WString> m_pieces;
};

}  // namespace kel
