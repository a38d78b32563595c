// Failure traces: the only output of the component.
#pragma once

#include "platform/text.h"

namespace kel {

// One record in five pieces: "ReleaseErrorTrace: \nFile: ", module, "\nError: ", message, "\n".
void Trace(WStringView module, WStringView message);

// The short two-piece record (module, message) written by the GUID writer.
void TraceShort(WStringView module, WStringView message);

// Receives every piece in order; a null sink removes it. Process-wide.
using TraceSinkFn = void (*)(const char16_t* piece, void* context);
void SetTraceSink(TraceSinkFn sink, void* context);

}  // namespace kel
