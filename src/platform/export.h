// Marks the few functions the shared library exports (the Windows DLL lists
// them in its .def file instead).
#pragma once

#if defined(_WIN32)
#define KEL_EXPORT
#else
#define KEL_EXPORT __attribute__((visibility("default")))
#endif
