#include "platform/trace.h"

#include <condition_variable>
#include <mutex>

#include "platform/os.h"

namespace kel {

namespace {

std::mutex g_sinkLock;
std::condition_variable g_sinkIdle;
TraceSinkFn g_sink = nullptr;
void* g_context = nullptr;
int g_sinkCalls = 0;              // receiver calls in progress, all threads
int g_waitingCalls = 0;           // those of threads waiting in SetTraceSink
thread_local int t_sinkCalls = 0;  // those of this thread
thread_local std::vector<WString>* t_held = nullptr;

void Emit(const char16_t* piece) {
    if (t_held) {
        t_held->emplace_back(piece);
        return;
    }
    os::DebugOutput(piece);
    TraceSinkFn sink;
    void* context;
    {
        std::lock_guard<std::mutex> lock(g_sinkLock);
        sink = g_sink;
        context = g_context;
        if (!sink) return;
        ++g_sinkCalls;
    }
    // Called outside the lock: a receiver may remove itself or call back in.
    ++t_sinkCalls;
    sink(piece, context);
    --t_sinkCalls;
    std::lock_guard<std::mutex> lock(g_sinkLock);
    --g_sinkCalls;
    g_sinkIdle.notify_all();
}

}  // namespace

void SetTraceSink(TraceSinkFn sink, void* context) {
    std::unique_lock<std::mutex> lock(g_sinkLock);
    g_sink = sink;
    g_context = context;
    // The old receiver may go once this returns: wait for its calls, except
    // those of threads (this one too) that replace it from inside a call.
    g_waitingCalls += t_sinkCalls;
    if (t_sinkCalls > 0) g_sinkIdle.notify_all();
    g_sinkIdle.wait(lock, [] { return g_sinkCalls == g_waitingCalls; });
    g_waitingCalls -= t_sinkCalls;
}

HeldTraces::Holding::Holding(std::vector<WString>& pieces) : outer(std::exchange(t_held, &pieces)) {}
HeldTraces::Holding::~Holding() { t_held = outer; }

void HeldTraces::Release() {
    for (const WString& piece : std::exchange(m_pieces, {})) Emit(piece.c_str());
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
