#pragma once
// Frames in the front end's own memory: the core decodes into frames a host made, so an
// AviSynth+ or VapourSynth frame is filled in place and handed on without another copy.
#include <cstdint>
#include <memory>

#include "frame_properties.h"

namespace korvala {

// Planes 0 (Y), 1 (U) and 2 (V) of the clip's size and format.
class HostFrame {
 public:
  virtual ~HostFrame() = default;
  virtual uint8_t* Plane(int plane) = 0;
  virtual int Pitch(int plane) const = 0;
  // Puts the frame's properties on it, once, before it is shared.
  virtual void Describe(const FrameProperties& properties) = 0;
};
using FramePtr = std::shared_ptr<HostFrame>;

class FrameMaker {
 public:
  virtual ~FrameMaker() = default;
  // A new frame of the clip's format; throws when the host can't make one.
  virtual FramePtr NewFrame() = 0;
};

}  // namespace korvala
