// Child-process side of the environment-control test: opens each kind at each version given
// on the command line through the dispatcher and prints one line per attempt:
//   <impl hex> <minor> <init status> <queried impl hex> <decoder query> <encoder query>
#include <mfxvideo.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  const mfxIMPL impls[] = {MFX_IMPL_HARDWARE_ANY, MFX_IMPL_HARDWARE_ANY | MFX_IMPL_VIA_D3D11, MFX_IMPL_SOFTWARE};
  for (int a = 1; a < argc; ++a) {
    mfxVersion v{};
    v.Major = 1;
    v.Minor = static_cast<mfxU16>(std::atoi(argv[a]));
    for (mfxIMPL impl : impls) {
      mfxSession s = nullptr;
      mfxStatus st = MFXInit(impl, &v, &s);
      mfxIMPL got = 0;
      mfxStatus dec = MFX_ERR_NOT_INITIALIZED, enc = MFX_ERR_NOT_INITIALIZED;
      if (st == MFX_ERR_NONE) {
        MFXQueryIMPL(s, &got);
        mfxVideoParam in{}, out{};
        in.mfx.CodecId = MFX_CODEC_AVC;
        dec = MFXVideoDECODE_Query(s, &in, &out);
        enc = MFXVideoENCODE_Query(s, &in, &out);
        MFXClose(s);
      }
      std::printf("%#x %d %d %#x %d %d\n", impl, v.Minor, st, got, dec, enc);
    }
  }
  return 0;
}
