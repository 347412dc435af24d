#pragma once
// The one way the intro reads a data file: first from the resource archive, then from the loose-file directory.

namespace zorbrix {

// Opens the archive (when a name is given) and records the loose-file directory, which is prefixed to names as it
// is ("data/" carries its own slash). Fails, without recording the directory, when the archive cannot be opened.
bool file_init(const char* archive_name /* may be null */, const char* directory);

// The whole file as a new buffer from std::malloc, released by the caller with std::free; its length goes to *size.
// Null when the file is found nowhere; *size is then left untouched.
unsigned char* file_load(const char* name, int* size);

}  // namespace zorbrix
