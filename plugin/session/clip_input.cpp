#include "clip_input.h"

#include <cstdint>

#include "clip_description.h"
#include "container_format.h"
#include "file_io.h"
#include "index_scan.h"
#include "source_error.h"
#include "unit_index.h"

namespace korvala {
namespace {

// Where each file of a pair must show slices of its view (as its SPS).
constexpr uint64_t kStreamStartBytes = 1 << 20;

std::shared_ptr<FileSource> OpenShared(const std::string& path) {
#ifdef _WIN32
  FilePtr file = OpenFile(path, "rbS");
#else
  FilePtr file = OpenFile(path, "rb");  // "S" is a Windows-only hint
#endif
  return file ? std::make_shared<FileSource>(std::move(file)) : nullptr;
}

// One of the readers of a file opened once. Each read names its offset, so they can take turns.
class SharedFile final : public ByteSource {
 public:
  explicit SharedFile(std::shared_ptr<FileSource> file) : file_(std::move(file)) {}
  size_t ReadAt(uint64_t offset, uint8_t* to, size_t n) override { return file_->ReadAt(offset, to, n); }

 private:
  std::shared_ptr<FileSource> file_;
};

std::unique_ptr<ByteSource> Reader(const std::shared_ptr<FileSource>& file) {
  return file ? std::make_unique<SharedFile>(file) : nullptr;
}

// One elementary stream, or a pair's two: the probe, the index's scan and the unit readers share
// each file's one handle.
class ElementaryInput final : public ContainerInput {
 public:
  ElementaryInput(std::shared_ptr<FileSource> base, std::shared_ptr<FileSource> dependent, std::string pathAVC,
                  std::string pathMVC)
      : base_(std::move(base)), dependent_(std::move(dependent)), pathAVC_(std::move(pathAVC)),
        pathMVC_(std::move(pathMVC)) {}

  bool TwoStreams() const override { return dependent_ != nullptr; }
  ContainerCodec Codec() const override { return ContainerCodec::kH264; }  // the decoder's probe tells
  void FrameRate(uint32_t& numerator, uint32_t& denominator) const override { numerator = denominator = 0; }
  std::unique_ptr<ByteSource> OpenSequential() override { return Reader(base_); }
  void OpenScan(bool dependent, std::unique_ptr<ByteSource>& base, std::unique_ptr<ByteSource>& dep) override {
    base = Reader(base_);
    dep = dependent ? Reader(dependent_) : nullptr;
  }
  std::unique_ptr<ByteSource> OpenUnits(int view) override { return Reader(view ? dependent_ : base_); }
  std::vector<std::string> KeptFiles() const override {
    if (!dependent_) return {pathAVC_};
    return {pathAVC_, pathMVC_};
  }

 private:
  std::shared_ptr<FileSource> base_, dependent_;
  std::string pathAVC_, pathMVC_;
};

// Each file of a pair must be readable and begin with slices of its view.
void CheckPair(const std::shared_ptr<FileSource>& base, const std::shared_ptr<FileSource>& dependent) {
  UnitIndex probe(true);
  FileScan baseScan(Reader(base), kStreamStartBytes), dependentScan(Reader(dependent), kStreamStartBytes);
  baseScan.Step(probe.Base());
  dependentScan.Step(probe.Dependent());
  uint8_t first = 0;
  const bool baseRead = base->ReadAt(0, &first, 1) == 1;
  const bool dependentRead = dependent->ReadAt(0, &first, 1) == 1;
  auto hasSlices = [](const StreamScanner& s) {
    for (const ScannedUnit& u : s.Units())
      if (u.slices) return true;
    return false;
  };
  if (!baseRead) Raise("Korvala: Can't read Source File AVC");
  if (!dependentRead) Raise("Korvala: Can't read Source File MVC");
  if (!hasSlices(probe.Base())) Raise("Korvala: ERROR -> No access unit delimiter in Source File AVC");
  if (!hasSlices(probe.Dependent())) Raise("Korvala: ERROR -> No access unit delimiter in Source File MVC");
}

}  // namespace

ClipInput OpenClipInput(const std::string& sourceAVC, const std::string& sourceMVC) {
  ClipInput clip;
  std::shared_ptr<FileSource> base = OpenShared(sourceAVC);
  // A container is told by its content; its video is then read as the streams it holds.
  InputForm form = InputForm::kElementary;
  if (base) {
    uint8_t head[kFormProbeBytes];
    form = DetectInputForm(head, base->ReadAt(0, head, sizeof head));
  }
  if (form != InputForm::kElementary) {
    const char* message = "";
    if (OpenContainer(form, sourceAVC, sourceMVC, clip.input, &message) != ContainerOpen::kOpened) Raise(message);
    return clip;
  }
  clip.elementary = true;
  if (sourceMVC.empty()) {
    if (!base) Raise("Korvala: Can't open Source File");
    clip.hevc = IsHevcPath(sourceAVC.c_str());
    clip.input = std::make_unique<ElementaryInput>(std::move(base), nullptr, sourceAVC, sourceMVC);
    return clip;
  }
  if (!base) Raise("Korvala: Can't open Source File AVC");
  std::shared_ptr<FileSource> dependent = OpenShared(sourceMVC);
  if (!dependent) Raise("Korvala: Can't open Source File MVC");
  CheckPair(base, dependent);
  clip.input = std::make_unique<ElementaryInput>(std::move(base), std::move(dependent), sourceAVC, sourceMVC);
  return clip;
}

}  // namespace korvala
