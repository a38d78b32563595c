#include "platform/trace.h"

#include <mutex>

#include "platform/os.h"

namespace kel {

namespace {

std::mutex g_sinkLock;
TraceSinkFn g_sink = nullptr;
void* g_context = nullptr;

void Emit(const char16_t* piece) {
    os::DebugOutput(piece);
    TraceSinkFn sink;
    void* context;
    {
        std::lock_guard<std::mutex> lock(g_sinkLock);
        sink = g_sink;
        context = g_context;
    }
    // Called outside the lock: a receiver may remove itself or call back in.
    if (sink) sink(piece, context);
}

}  // namespace

void SetTraceSink(TraceSinkFn sink, void* context) {
    std::lock_guard<std::mutex> lock(g_sinkLock);
    g_sink = sink;
    g_context = context;
}

void Trace(WStringView module, WStringView message) {
    const WString moduleText(module);
    const WString messageText(message);
    Emit(u"ReleaseErrorTrace: \nFile: ");
    Emit(moduleText.c_str());
    Emit(u"\nError: ");
    Emit(messageText.c_str());
    Emit(u"\n");
}

void TraceShort(WStringView module, WStringView message) {
    const WString moduleText(module);
    const WString messageText(message);
    Emit(moduleText.c_str());
    Emit(messageText.c_str());
}

}  // namespace kel

