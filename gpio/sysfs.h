// Text access to sysfs attribute files. Every helper opens and closes its
// file; all return -1 on failure.
#pragma once

#include <cstddef>

#include "device_paths.h"

// Reads at most size - 1 bytes in one read and NUL-terminates them. Returns
// the byte count, or -1 (with "sysfs: Can not open %s" on stdout when the
// file cannot be opened). A size of 0 fails without touching the file.
int sysfsReadText(const char* path, char* buffer, size_t size);
// 0 if the file starts with '0', 1 for any other first character; -1 on
// failure or an empty file.
int sysfsReadBool(const char* path);
// The file's text as a base-10 number; -1 on failure or an empty file.
int sysfsReadInt(const char* path);
// Writes `length` bytes in one write: 0 if all were written, else -1.
int sysfsWriteText(const char* path, const char* bytes, size_t length);
// Writes the single character '1' or '0'.
int sysfsWriteBool(const char* path, bool value);
// Writes the decimal text of `value`, no newline.
int sysfsWriteInt(const char* path, int value);
// sysfsReadBool of the pin's value file; -1 when the path would need 128
// characters or more (no file is touched then).
int sysfsReadPin(const char* pin);
// sysfsWriteBool of the pin's value file, with the same path rule.
int sysfsWritePin(const char* pin, bool value);
