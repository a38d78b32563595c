// Linux has no debug-output channel: a client of the library installs a receiver.
#include "KelInstallSystem.h"
#include "platform/export.h"
#include "platform/trace.h"

extern "C" KEL_EXPORT void KelInstallSetTraceSink(void (*sink)(const char16_t* piece, void* context), void* context) {
    kel::SetTraceSink(sink, context);
}
