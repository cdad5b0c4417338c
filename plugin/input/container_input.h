#pragma once
// Container input for the clip: a transport stream (M2TS, TS, SSIF), the two clips of a Blu-ray
// 3D title, a Blu-ray playlist (MPLS) or a Matroska file becomes one or two streams of bytes
// that read like elementary files. A build without libavformat (MSVC's) recognises containers
// only, and can't read them.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "byte_source.h"
#include "container_format.h"
#include "stream_layout.h"
#include "unit_table.h"

namespace korvala {

extern const char* const kContainerUnreadableMessage;  // libavformat or the playlist parser gave up
extern const char* const kNoVideoMessage;              // nothing we decode in it
extern const char* const kClipMissingMessage;          // a playlist's clip file is not there
extern const char* const kClipSizeMessage;             // a playlist's clip has another picture size

enum class ContainerCodec : uint8_t { kH264, kHevc, kMpeg2, kVc1 };

class ContainerInput {
 public:
  virtual ~ContainerInput() = default;
  // The views come in two streams (a stereo TS, the two clips, an SSIF, a 3D playlist); else
  // one stream holds everything (Matroska's interleaved track, a 2D TS).
  virtual bool TwoStreams() const = 0;
  virtual ContainerCodec Codec() const = 0;
  // The container's frame rate, 0/0 when it gives none.
  virtual void FrameRate(uint32_t& numerator, uint32_t& denominator) const = 0;
  // The base (or only) stream read from its start, for probing and for raw feeding.
  virtual std::unique_ptr<ByteSource> OpenSequential() = 0;
  // The scan's sources: the base stream and, with `dependent`, the dependent one, laid out by
  // one pass that also records the layout the unit readers read by.
  virtual void OpenScan(bool dependent, std::unique_ptr<ByteSource>& base, std::unique_ptr<ByteSource>& dep) = 0;
  // A view's units, read at the offsets the scan found.
  virtual std::unique_ptr<ByteSource> OpenUnits(int view) = 0;
  // The files whose index is kept between runs, base view's first; empty when it is not kept
  // (a playlist's title).
  virtual std::vector<std::string> KeptFiles() const { return {}; }
  // The layout the scan recorded, and one kept from an earlier run to read the units by instead.
  virtual std::shared_ptr<const Layout> ScannedLayout() const { return nullptr; }
  virtual void UseLayout(std::shared_ptr<Layout>) {}
  // A playlist whose items show parts of their clips: the finished index keeps just the frames
  // the items present.
  virtual bool Cut() const { return false; }
  // Whether the play item of the base view's unit laid out at `offset` presents its picture.
  virtual bool Shows(uint64_t /*offset*/) const { return true; }
  // A Blu-ray title whose clip information describes it: its units, scanned stretch by
  // stretch as they are played; null for every other input.
  virtual std::unique_ptr<TitleUnits> OpenTitle() { return nullptr; }
};

enum class ContainerOpen { kNotContainer, kOpened, kFailed };

// For a base file whose form its caller has read: kNotContainer, elementary input, read as
// before; kFailed, `message` says why.
ContainerOpen OpenContainer(InputForm form, const std::string& sourceAVC, const std::string& sourceMVC,
                            std::unique_ptr<ContainerInput>& input, const char** message);

// Reads the first bytes of a file and tells its form; false when it can't be opened.
bool ReadInputForm(const std::string& path, InputForm& form);

// The same, looking at the content of the file (or the pair) first. Inline: the form is read
// by every build, the containers by the container library, which links after it.
inline ContainerOpen OpenContainer(const std::string& sourceAVC, const std::string& sourceMVC,
                                   std::unique_ptr<ContainerInput>& input, const char** message) {
  input.reset();
  InputForm form = InputForm::kElementary;
  if (!ReadInputForm(sourceAVC, form)) return ContainerOpen::kNotContainer;
  return OpenContainer(form, sourceAVC, sourceMVC, input, message);
}

}  // namespace korvala
