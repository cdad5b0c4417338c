#pragma once
// NAL units framed by length fields (MP4 and Matroska tracks) turned into start-code (Annex B)
// streams, which is what the index and the decoder read. Pure; every length is checked.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvala {

// The parameter sets of a track's codec private data (an avcC or hvcC record), each behind a
// start code, appended to `out`; `lengthSize` becomes the size of the length fields of the
// track's blocks (1, 2 or 4). False when the record is neither: the blocks then carry start
// codes themselves (lengthSize 0) and the private data, if it starts with one, is taken as is.
bool ParameterSetsFromRecord(const uint8_t* data, size_t n, bool hevc, std::vector<uint8_t>& out, int& lengthSize);

// Appends one block's NAL units, each behind 00 00 00 01, to `out`; returns the bytes appended.
// A length running past the block's end takes what is left.
size_t AppendAnnexB(const uint8_t* data, size_t n, int lengthSize, std::vector<uint8_t>& out);

}  // namespace korvala
