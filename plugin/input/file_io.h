#pragma once
// Files named by script strings, and read past 4 GiB: the one place in the data path that knows
// Windows' file calls. On Windows a script string is in the ANSI code page, or in UTF-8
// when its script was read as UTF-8: a name is kept in UTF-8 (what libavformat's file protocol
// takes there) and every file is opened through its UTF-16 form with the wide calls, so that
// any name opens. Elsewhere a name is bytes and passes through unchanged.
#include <cstdint>
#include <cstdio>
#include <string>

#include "aligned_buffer.h"

namespace korvala {

// The file a script string names, in UTF-8: read as UTF-8 where that is valid and names
// something, else in the ANSI code page.
std::string FileNameFromScript(const char* text);

// Opens a file by its UTF-8 name (`mode` as for fopen); null when it can't be opened.
FilePtr OpenFile(const std::string& name, const char* mode = "rb");

// True when the name is that of a file (not a folder) that exists.
bool IsRegularFile(const std::string& name);

// Moves to a 64-bit offset (a C runtime's fseek takes a long, 32 bits on Windows).
bool SeekFile(std::FILE* file, uint64_t offset);

}  // namespace korvala
