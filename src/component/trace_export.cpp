// A client of the library installs a receiver of its traces (on Windows besides the debug output channel).
#include "KelInstallSystem.h"
#include "platform/export.h"
#include "platform/trace.h"

extern "C" KEL_EXPORT void KelInstallSetTraceSink(void (*sink)(const char16_t* piece, void* context), void* context) {
    kel::SetTraceSink(sink, context);
}
