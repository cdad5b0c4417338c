// A Media SDK caller that drives the dispatcher the way the plugin does: a software session at
// API 1.3, header, surfaces in system memory, the decode loop with input refills and draining.
#pragma once

#include <mfxvideo.h>

#include <cstdint>
#include <string>
#include <vector>

namespace swrt_test {

struct DecodeRun {
  mfxStatus initSession = MFX_ERR_NONE;
  mfxStatus header = MFX_ERR_NONE;
  mfxStatus queryIOSurf = MFX_ERR_NONE;
  mfxStatus init = MFX_ERR_NONE;
  mfxStatus lastError = MFX_ERR_NONE;  // a negative DecodeFrameAsync status that ended the loop
  mfxVideoParam params{};
  mfxFrameAllocRequest request{};
  std::vector<std::uint16_t> viewIds;       // of every picture, in output order
  std::vector<std::uint8_t> planar[2];      // pictures of view index 0 and 1 as planar 4:2:0
  int pictures = 0;
  bool lockedWritten = false;               // the runtime wrote into a surface it had locked
};

struct DecodeOptions {
  mfxU32 codec = MFX_CODEC_AVC;
  bool mvc = false;          // attach an mfxExtMVCSeqDesc and run the header loop
  std::size_t chunk = 3840000;  // bytes per refill, as the plugin's bitstream
  int surfaces = 0;          // 0: the runtime's suggestion
};

// Decodes a whole file (or the given bytes) through the dispatcher. Pictures are copied out of
// the crop window into planar 4:2:0 (16-bit little endian samples for P010, shifted back down).
DecodeRun DecodeFile(const std::string& path, const DecodeOptions& options);
DecodeRun DecodeBytes(const std::vector<std::uint8_t>& stream, const DecodeOptions& options);

}  // namespace swrt_test
