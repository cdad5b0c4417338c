#include "avisynth_frame.h"

namespace korvala::avs {

bool HostKeepsProperties(IScriptEnvironment* env) {
  // Its own version check says which it is, raising its error on an older host.
  try {
    env->CheckVersion(8);
    return true;
  } catch (...) {
    return false;
  }
}

void Frame::Describe(const FrameProperties& p) {
  if (!properties_) return;
  AVSMap* map = env_->getFramePropsRW(frame_);
  auto setInt = [&](const char* key, int64_t value) { env_->propSetInt(map, key, value, PROPAPPENDMODE_REPLACE); };
  setInt("_Matrix", p.matrix);
  setInt("_Primaries", p.primaries);
  setInt("_Transfer", p.transfer);
  setInt("_ColorRange", p.colorRange);
  if (p.chromaLocation >= 0) setInt("_ChromaLocation", p.chromaLocation);
  if (p.sarNum && p.sarDen) {
    setInt("_SARNum", p.sarNum);
    setInt("_SARDen", p.sarDen);
  }
  if (p.fieldBased >= 0) setInt("_FieldBased", p.fieldBased);
  if (p.pictType) {
    const char type[2] = {p.pictType, '\0'};
    env_->propSetData(map, "_PictType", type, 1, PROPAPPENDMODE_REPLACE);
  }
  if (p.durationNum && p.durationDen) {
    setInt("_DurationNum", p.durationNum);
    setInt("_DurationDen", p.durationDen);
  }
  if (p.hasAbsoluteTime) env_->propSetFloat(map, "_AbsoluteTime", p.absoluteTime, PROPAPPENDMODE_REPLACE);
  if (p.view >= 0) setInt("KorvalaView", p.view);
}

}  // namespace korvala::avs
