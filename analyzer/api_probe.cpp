#include "api_probe.h"

#include <mfxvideo++.h>

#include <cstring>
#include <limits>
#include <memory>

namespace tessulor {
namespace {

// Versions up to 1.20 are always shown; above, probing goes on only while a target opens.
constexpr int kGuaranteedMinor = 20;

mfxVideoParam DecoderConfiguration() {
  mfxVideoParam p;
  std::memset(&p, 0, sizeof(p));
  p.mfx.CodecId = MFX_CODEC_AVC;
  p.mfx.CodecProfile = MFX_PROFILE_AVC_BASELINE;
  p.mfx.CodecLevel = MFX_LEVEL_AVC_3;
  p.mfx.FrameInfo.FourCC = MFX_FOURCC_NV12;
  p.mfx.FrameInfo.Width = 640;
  p.mfx.FrameInfo.Height = 480;
  p.mfx.FrameInfo.CropW = 640;
  p.mfx.FrameInfo.CropH = 480;
  p.mfx.FrameInfo.FrameRateExtN = 60;
  p.mfx.FrameInfo.FrameRateExtD = 2;
  p.mfx.FrameInfo.AspectRatioW = 1;
  p.mfx.FrameInfo.AspectRatioH = 1;
  p.mfx.FrameInfo.PicStruct = MFX_PICSTRUCT_PROGRESSIVE;
  p.mfx.FrameInfo.ChromaFormat = MFX_CHROMAFORMAT_YUV420;
  p.IOPattern = MFX_IOPATTERN_OUT_SYSTEM_MEMORY;
  return p;
}

mfxVideoParam EncoderConfiguration() {
  mfxVideoParam p = DecoderConfiguration();
  p.mfx.TargetUsage = MFX_TARGETUSAGE_BALANCED;
  p.mfx.RateControlMethod = MFX_RATECONTROL_CBR;
  p.mfx.TargetKbps = 2000;
  p.IOPattern = MFX_IOPATTERN_IN_SYSTEM_MEMORY;
  return p;
}

// Adapter index from the implementation the runtime reports; anything but the four hardware
// base types (or a failed query) counts as the first adapter, which carries no annotation.
int AdapterNumber(mfxStatus queryStatus, mfxIMPL impl) {
  if (queryStatus != MFX_ERR_NONE) return 0;
  const mfxIMPL base = MFX_IMPL_BASETYPE(impl);
  if (base >= MFX_IMPL_HARDWARE2 && base <= MFX_IMPL_HARDWARE4) return static_cast<int>(base) - 4;
  return 0;
}

}  // namespace

int ProbeApiSupport(bool& hwUsable, bool& swUsable, TextOut& out) {
  hwUsable = false;
  swUsable = false;

  const mfxVideoParam decoderConfig = DecoderConfiguration();
  const mfxVideoParam encoderConfig = EncoderConfiguration();

  out.Print(L"\nThe following versions of Media SDK API are supported by platform/driver\n");
  out.Print(L"[opportunistic detection of MSDK API > %d.%d]:\n\n", 1, kGuaranteedMinor);
  out.Print(L"\tVersion\tTarget\tSupported\tDec\tEnc\n");

  MFXVideoSession session;
  mfxVersion version;
  version.Major = 1;
  version.Minor = 0;
  for (;;) {
    wchar_t label[16];
    std::swprintf(label, 16, L"%d.%d", static_cast<int>(version.Major), static_cast<int>(version.Minor));
    bool hwOpened = false;
    bool swOpened = false;

    for (int target = 0; target < 2; ++target) {
      const bool hardware = target == 0;
      int adapter = 0;
      bool viaD3D11 = false;
      mfxVersion asked = version;  // MFXInit may write back what it opened
      mfxStatus status;
      if (hardware) {
        status = session.Init(MFX_IMPL_HARDWARE_ANY, &asked);
        if (status != MFX_ERR_NONE) {
          asked = version;
          status = session.Init(MFX_IMPL_HARDWARE_ANY | MFX_IMPL_VIA_D3D11, &asked);
          viaD3D11 = status == MFX_ERR_NONE;
        }
        if (status == MFX_ERR_NONE) {
          mfxIMPL impl = 0;
          const mfxStatus queried = session.QueryIMPL(&impl);
          adapter = AdapterNumber(queried, impl);
        }
      } else {
        status = session.Init(MFX_IMPL_SOFTWARE, &asked);
      }

      mfxStatus decoderStatus = MFX_ERR_UNKNOWN;
      mfxStatus encoderStatus = MFX_ERR_UNKNOWN;
      {
        // Created only on an open session; their destructors close both components before
        // the session closes.
        std::unique_ptr<MFXVideoDECODE> decoder;
        std::unique_ptr<MFXVideoENCODE> encoder;
        if (status == MFX_ERR_NONE) {
          (hardware ? hwOpened : swOpened) = true;
          (hardware ? hwUsable : swUsable) = true;
          decoder = std::make_unique<MFXVideoDECODE>(session);
          encoder = std::make_unique<MFXVideoENCODE>(session);
          mfxVideoParam decoderIn = decoderConfig;
          mfxVideoParam decoderOut = decoderConfig;
          decoderStatus = decoder->Query(&decoderIn, &decoderOut);
          mfxVideoParam encoderIn = encoderConfig;
          mfxVideoParam encoderOut = encoderConfig;
          encoderStatus = encoder->Query(&encoderIn, &encoderOut);
          if (decoderStatus != MFX_ERR_NONE && encoderStatus != MFX_ERR_NONE) status = MFX_ERR_UNKNOWN;
        }

        if (hwOpened || swOpened || version.Minor <= kGuaranteedMinor) {
          const bool ok = status == MFX_ERR_NONE;
          out.Print(L"\t%ls\t%ls\t%ls\t\t%ls\t%ls", label, hardware ? L"HW" : L"SW", ok ? L"Yes" : L"No",
                    ok && decoderStatus == MFX_ERR_NONE ? L"X" : L" ",
                    ok && encoderStatus == MFX_ERR_NONE ? L"X" : L" ");
          if (ok && adapter != 0) out.Print(L"\t[Adapter %d%ls]", adapter, viaD3D11 ? L" (via DX11)" : L"");
          out.Print(L"\n");
        }
        decoder.reset();
        encoder.reset();
      }
      session.Close();
    }

    const bool opened = hwOpened || swOpened;
    // A runtime that accepts every version would otherwise wrap the 16-bit counter forever.
    if (version.Minor == std::numeric_limits<mfxU16>::max()) break;
    ++version.Minor;
    if (!opened && version.Minor > kGuaranteedMinor) break;
  }
  return 0;
}

}  // namespace tessulor
