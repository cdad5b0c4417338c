// The VapourSynth front end (API 4): korvala.Source(source, dependent, num_frames, view), the
// same clip as Korvala(SourceFileAVC, SourceFileMVC, NumFrames, ViewId) in AviSynth+, with the
// frame properties in VapourSynth's conventions. Errors reach the script with the core's texts.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "VapourSynth4.h"

#include "clip.h"

namespace {

class Frame final : public korvala::HostFrame {
 public:
  Frame(VSFrame* frame, const VSAPI* api) : frame_(frame), api_(api) {}
  ~Frame() override { api_->freeFrame(frame_); }
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;

  uint8_t* Plane(int plane) override { return api_->getWritePtr(frame_, plane); }
  int Pitch(int plane) const override { return static_cast<int>(api_->getStride(frame_, plane)); }
  void Describe(const korvala::FrameProperties& p) override {
    struct Sink final : korvala::PropertySink {
      const VSAPI* api;
      VSMap* map;
      void Int(const char* key, int64_t value) override { api->mapSetInt(map, key, value, maReplace); }
      void Float(const char* key, double value) override { api->mapSetFloat(map, key, value, maReplace); }
      void Text(const char* key, const char* value, int size) override {
        api->mapSetData(map, key, value, size, dtUtf8, maReplace);
      }
    } sink;
    sink.api = api_;
    sink.map = api_->getFramePropertiesRW(frame_);
    korvala::WriteProperties(p, sink);
  }
  // A reference for the caller to own.
  const VSFrame* Share() const { return api_->addFrameRef(frame_); }

 private:
  VSFrame* frame_;
  const VSAPI* api_;
};

// Runs each piece of work on one thread of its own while the caller waits. VapourSynth runs an
// unordered filter on whichever of its threads is free, and a frame's memory comes from the
// malloc arena of the thread that makes it: frames made on alternating threads spread over
// arenas, and each arena hands back and faults in again the memory another thread's frames
// freed. Made on one thread, the frames reuse their memory as under one VapourSynth thread.
class OneThread {
 public:
  OneThread() = default;
  ~OneThread() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  OneThread(const OneThread&) = delete;
  OneThread& operator=(const OneThread&) = delete;

  // Throws std::system_error when the thread can't be started.
  void Run(const std::function<void()>& work) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!thread_.joinable()) thread_ = std::thread([this] { Loop(); });
    work_ = &work;
    wake_.notify_all();
    done_.wait(lock, [this] { return work_ == nullptr; });
  }

 private:
  void Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stop_ || work_; });
      if (stop_) return;
      lock.unlock();
      (*work_)();  // catches what it raises
      lock.lock();
      work_ = nullptr;
      done_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_, done_;
  const std::function<void()>* work_ = nullptr;
  bool stop_ = false;
  std::thread thread_;
};

struct Source {
  std::optional<Korvala> core;
  VSVideoInfo vi{};
  OneThread server;  // destroyed first: no work runs on the core once it goes
};

class FrameMaker final : public korvala::FrameMaker {
 public:
  FrameMaker(const VSVideoInfo& vi, VSCore* core, const VSAPI* api) : vi_(vi), core_(core), api_(api) {}
  korvala::FramePtr NewFrame() override {
    VSFrame* frame = api_->newVideoFrame(&vi_.format, vi_.width, vi_.height, nullptr, core_);
    if (!frame) throw std::bad_alloc();
    return std::make_shared<Frame>(frame, api_);
  }

 private:
  const VSVideoInfo& vi_;
  VSCore* core_;
  const VSAPI* api_;
};

const VSFrame* VS_CC GetFrame(int n, int activationReason, void* instanceData, void**, VSFrameContext* frameCtx,
                              VSCore* core, const VSAPI* api) {
  if (activationReason != arInitial) return nullptr;
  Source* source = static_cast<Source*>(instanceData);
  const VSFrame* frame = nullptr;
  std::string error;
  const std::function<void()> serve = [&] {
    try {
      FrameMaker maker(source->vi, core, api);
      frame = static_cast<Frame&>(*source->core->GetFrame(n, maker)).Share();
    } catch (const korvala::SourceError& e) {
      error = e.what();
    } catch (const std::bad_alloc&) {
      error = "Korvala: out of memory";
    }
  };
  try {
    source->server.Run(serve);
  } catch (const std::system_error&) {
    serve();  // no thread to be had: served on this one
  }
  if (!frame) api->setFilterError(error.c_str(), frameCtx);
  return frame;
}

void VS_CC Free(void* instanceData, VSCore*, const VSAPI*) { delete static_cast<Source*>(instanceData); }

void VS_CC Create(const VSMap* in, VSMap* out, void*, VSCore* core, const VSAPI* api) {
  int missing = 0;
  const char* source = api->mapGetData(in, "source", 0, &missing);
  if (missing) source = "";
  const char* dependent = api->mapGetData(in, "dependent", 0, &missing);
  if (missing) dependent = "";
  const int numFrames = api->mapGetIntSaturated(in, "num_frames", 0, &missing);
  const int frames = missing ? 0 : numFrames;
  const int viewId = api->mapGetIntSaturated(in, "view", 0, &missing);
  const int view = missing ? 0 : viewId;
  try {
    auto data = std::make_unique<Source>();
    data->core.emplace(source, dependent, frames, view, korvala::DetectPixelPaths());
    const korvala::ClipFormat& f = data->core->Format();
    if (!api->queryVideoFormat(&data->vi.format, cfYUV, stInteger, f.tenBit ? 10 : 8, 1, 1, core)) {
      api->mapSetError(out, "Korvala: Not supported pixel format");
      return;
    }
    data->vi.width = f.width;
    data->vi.height = f.height;
    data->vi.fpsNum = f.fpsNum;
    data->vi.fpsDen = f.fpsDen;
    data->vi.numFrames = f.numFrames;
    // A source's requests come one at a time: the decoder runs in one order.
    api->createVideoFilter(out, "Source", &data->vi, GetFrame, Free, fmUnordered, nullptr, 0, data.get(), core);
    if (!api->mapGetError(out)) data.release();  // refused (a clip of no frames): not the core's to free
  } catch (const korvala::SourceError& e) {
    api->mapSetError(out, e.what());
  } catch (const std::bad_alloc&) {
    api->mapSetError(out, "Korvala: out of memory");
  }
}

}  // namespace

VS_EXTERNAL_API(void) VapourSynthPluginInit2(VSPlugin* plugin, const VSPLUGINAPI* vspapi) {
  vspapi->configPlugin("org.korvala.source", "korvala", "Korvala: stereoscopic (MVC) H.264 through the Media SDK",
                       VS_MAKE_VERSION(0, 1), VAPOURSYNTH_API_VERSION, 0, plugin);
  vspapi->registerFunction("Source", "source:data;dependent:data:opt;num_frames:int:opt;view:int:opt;", "clip:vnode;",
                           Create, nullptr, plugin);
}
