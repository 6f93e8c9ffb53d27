#pragma once

#include "date_number.h"

// Sets only the last-modification time of the existing file at path to the
// given local date-time, converted to UTC with the offset in force now.
// Never creates the file. Returns the tool's exit code: 0 when set, 2 when
// the file cannot be opened or the system gives no error code, else the
// system's error code.
int SetModifiedTime(const char* path, const LocalDateTime& when);
