// Arbitrary bytes through everything the runtime parses before libavcodec sees a byte: header
// search for each codec, parameter sets, the dependent-view rewriting and access-unit cutting.
#include <cstddef>
#include <cstdint>

#include "bits.h"
#include "h264.h"
#include "mvc.h"
#include "stream_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (mfxU32 codec : {MFX_CODEC_AVC, MFX_CODEC_HEVC, MFX_CODEC_MPEG2, MFX_CODEC_VC1}) {
    swrt::HeaderScan scan = swrt::ScanHeader(codec, data, size, codec == MFX_CODEC_AVC);
    if (scan.consumed > size) __builtin_trap();
    if (scan.status == MFX_ERR_NONE) {
      mfxVideoParam par{};
      swrt::FillFrameInfo(scan.info, par);
      if (scan.hasSubset) (void)swrt::ReorderDepth(scan.subset.sps);
    }
  }
  std::vector<std::uint8_t> out;
  for (const swrt::NalUnit& u : swrt::SplitUnits(data, size)) {
    if (u.end < u.header || u.end > size) __builtin_trap();
    if (u.end == u.header) continue;  // an empty unit: start code right after start code
    const std::uint8_t* nal = data + u.header;
    const std::size_t n = u.end - u.header;
    std::uint32_t viewId = 0;
    swrt::RewriteSubsetSps(nal, n, out);
    swrt::RewriteSliceExtension(nal, n, out, viewId);
    swrt::StreamInfo info;
    swrt::ParseHevcSps(nal, n, info);
  }
  // The demux fed in two pieces, then flushed.
  swrt::MvcDemux demux;
  swrt::MvcUnit unit;
  const std::size_t half = size / 2;
  demux.Push(data, half);
  while (demux.Next(unit)) {
  }
  demux.Push(data + half, size - half);
  demux.Flush();
  for (int i = 0; demux.Next(unit); ++i)
    if (i > static_cast<int>(size) + 1) __builtin_trap();  // every unit consumes input
  return 0;
}
