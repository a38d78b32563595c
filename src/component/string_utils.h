// Latin-1 string utilities exported for other modules of the process.
#pragma once

#include "platform/export.h"

extern "C" {
KEL_EXPORT int os_toupper(int c);
KEL_EXPORT int os_tolower(int c);
KEL_EXPORT int os_stricmp(const char* a, const char* b);
KEL_EXPORT int os_strnicmp(const char* a, const char* b, int n);
KEL_EXPORT int os_validate_identifier(const char* s);
KEL_EXPORT char* os_strtok_r(char* str, const char* delimiters, char** save);
}
