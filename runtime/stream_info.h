// What a stream's sequence header says about its pictures, for every codec, and how that
// becomes the Media SDK's frame description; plus the header search behind DecodeHeader.
#pragma once

#include <mfxvideo.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "parameter_sets.h"

namespace swrt {

struct StreamInfo {
  std::uint32_t width = 0, height = 0;  // coded size in samples (before alignment)
  std::uint32_t cropX = 0, cropY = 0, cropW = 0, cropH = 0;
  std::uint32_t frameRateN = 0, frameRateD = 0;  // 0: the stream does not say
  std::uint32_t sarW = 0, sarH = 0;              // 0: the stream does not say
  std::uint32_t bitDepthLuma = 8, bitDepthChroma = 8;
  std::uint32_t chromaFormat = 1;  // 0 monochrome, 1 4:2:0, 2 4:2:2, 3 4:4:4
  bool progressive = true;
  std::uint16_t profile = 0, level = 0;
  // The VUI's video signal type and chroma location (defaults: what their absence means).
  std::uint16_t videoFormat = 5;
  bool fullRange = false;
  bool colourDescription = false;
  std::uint16_t colourPrimaries = 2, transferCharacteristics = 2, matrixCoefficients = 2;
  bool chromaLocation = false;
  std::uint16_t chromaLocTop = 0, chromaLocBottom = 0;
};

// Parsers over one unit (payload after the start code, still escaped where the codec escapes).
bool ParseHevcSps(const std::uint8_t* nal, std::size_t len, StreamInfo& info);
bool ParseMpeg2Sequence(const std::uint8_t* unit, std::size_t len, StreamInfo& info);
// The sequence_extension (start code value B5, extension id 1) refines the sequence header.
bool ParseMpeg2SequenceExtension(const std::uint8_t* unit, std::size_t len, StreamInfo& info);
bool ParseVc1Sequence(const std::uint8_t* unit, std::size_t len, StreamInfo& info);
StreamInfo InfoFromSps(const h264::Sps& sps);

// Fills FrameInfo, CodecProfile and CodecLevel as the Media SDK does.
void FillFrameInfo(const StreamInfo& info, mfxVideoParam& par);
// Fills the mfxExtVideoSignalInfo and mfxExtChromaLocInfo buffers attached to par, if any.
void FillSignalInfo(const StreamInfo& info, mfxVideoParam& par);

struct HeaderScan {
  mfxStatus status = MFX_ERR_MORE_DATA;
  std::size_t consumed = 0;  // where the caller's DataOffset moves to
  StreamInfo info;
  h264::Sps sps;               // AVC: the sequence parameter set of the header
  bool hasSubset = false;    // AVC: a subset SPS (multiview) came with the header
  h264::SubsetSps subset;
  std::vector<std::uint8_t> sequenceBytes;  // VC-1: sequence header and entry point, start codes kept
};

// Looks for a complete sequence header of the codec in data. wantMvc: the caller attached a
// multiview description, so a subset SPS is looked for up to the first slice.
HeaderScan ScanHeader(mfxU32 codecId, const std::uint8_t* data, std::size_t len, bool wantMvc);

}  // namespace swrt
