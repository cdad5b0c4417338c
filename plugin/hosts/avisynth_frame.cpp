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
  struct Sink final : PropertySink {
    IScriptEnvironment* env;
    AVSMap* map;
    void Int(const char* key, int64_t value) override { env->propSetInt(map, key, value, PROPAPPENDMODE_REPLACE); }
    void Float(const char* key, double value) override { env->propSetFloat(map, key, value, PROPAPPENDMODE_REPLACE); }
    void Text(const char* key, const char* value, int size) override {
      env->propSetData(map, key, value, size, PROPAPPENDMODE_REPLACE);
    }
  } sink;
  sink.env = env_;
  sink.map = env_->getFramePropsRW(frame_);
  WriteProperties(p, sink);
}

}  // namespace korvala::avs
