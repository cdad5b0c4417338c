// Arbitrary bytes through everything the runtime parses before libavcodec sees a byte: header
// search for each codec, parameter sets, access-unit cutting and the joining of two views.
#include <cstddef>
#include <cstdint>

#include "bits.h"
#include "mvc_joiner.h"
#include "mvc_splitter.h"
#include "stream_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (mfxU32 codec : {MFX_CODEC_AVC, MFX_CODEC_HEVC, MFX_CODEC_MPEG2, MFX_CODEC_VC1}) {
    swrt::HeaderScan scan = swrt::ScanHeader(codec, data, size, codec == MFX_CODEC_AVC);
    if (scan.consumed > size) __builtin_trap();
    if (scan.status == MFX_ERR_NONE) {
      mfxVideoParam par{};
      swrt::FillFrameInfo(scan.info, par);
      if (scan.hasSubset) (void)h264::ReorderDepth(scan.subset.sps);
    }
  }
  for (const h264::NalUnit& u : h264::SplitUnits(data, size)) {
    if (u.end < u.header || u.end > size) __builtin_trap();
    if (u.end == u.header) continue;  // an empty unit: start code right after start code
    const std::uint8_t* nal = data + u.header;
    const std::size_t n = u.end - u.header;
    swrt::StreamInfo info;
    swrt::ParseHevcSps(nal, n, info);
  }
  // The splitter fed in two pieces, then flushed; its units through the joiner.
  swrt::MvcSplitter splitter;
  swrt::MvcJoiner joiner;
  swrt::AccessUnit unit;
  swrt::JoinedPicture picture;
  const std::size_t half = size / 2;
  splitter.Push(data, half);
  while (splitter.Next(unit)) joiner.Push(unit);
  splitter.Push(data + half, size - half);
  splitter.Flush();
  for (int i = 0; splitter.Next(unit); ++i) {
    if (i > static_cast<int>(size) + 1) __builtin_trap();  // every unit consumes input
    joiner.Push(unit);
  }
  joiner.Flush();
  while (joiner.Next(picture)) {
  }
  return 0;
}
