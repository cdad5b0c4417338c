#pragma once
// Kept indexes on disk: one file per input in the user's cache folder ($XDG_CACHE_HOME/korvala
// or ~/.cache/korvala; %LOCALAPPDATA%\korvala on Windows), named by a hash of its key. Nothing
// here ever fails an open: a folder that can't be read or written just keeps nothing.
#include <string>
#include <vector>

#include "index_store.h"

namespace korvala {

// The key of an index over `files` (the base view's first) read as `form`: their names as
// given, sizes and modification times, and a hash of each one's first and last 64 KB. False
// when a file can't be looked at.
bool MakeIndexKey(const std::vector<std::string>& files, const std::string& form, IndexKey& key);

// The file's size in bytes; 0 when it can't be looked at.
uint64_t FileSize(const std::string& path);

// The cache folder, as text (UTF-8 on Windows); empty when the environment names none.
std::string IndexCacheFolder();

// The kept file's bytes for `key`; empty when there is none or it can't be read.
std::vector<uint8_t> ReadKeptIndex(const IndexKey& key);

// Keeps `bytes` as the file for `key`, written under a temporary name and renamed into place.
// False, leaving nothing behind, when the folder can't take it.
bool WriteKeptIndex(const IndexKey& key, const std::vector<uint8_t>& bytes);

}  // namespace korvala
