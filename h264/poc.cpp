#include "poc.h"

#include <algorithm>

namespace h264 {

namespace {
std::int32_t Clamp(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN / 2, INT32_MAX / 2));
}
}  // namespace

void PocType1(const Sps& sps, const SliceHeader& h, std::int64_t frameNumOffset, bool reference, std::int64_t& top,
              std::int64_t& bottom) {
  const std::int64_t cycle = static_cast<std::int64_t>(sps.offsetForRefFrame.size());
  std::int64_t absFrameNum = cycle ? frameNumOffset + h.frameNum : 0;
  if (!reference && absFrameNum > 0) --absFrameNum;
  std::int64_t expected = 0;
  if (absFrameNum > 0) {
    std::int64_t perCycle = 0;
    for (std::int32_t o : sps.offsetForRefFrame) perCycle += o;
    const std::int64_t cycles = (absFrameNum - 1) / cycle, inCycle = (absFrameNum - 1) % cycle;
    expected = cycles * perCycle;
    for (std::int64_t i = 0; i <= inCycle; ++i) expected += sps.offsetForRefFrame[static_cast<std::size_t>(i)];
  }
  if (!reference) expected += sps.offsetForNonRefPic;
  if (!h.fieldPic) {
    top = expected + h.deltaPoc[0];
    bottom = top + sps.offsetForTopToBottomField + h.deltaPoc[1];
  } else if (!h.bottomField) {
    top = bottom = expected + h.deltaPoc[0];
  } else {
    top = bottom = expected + sps.offsetForTopToBottomField + h.deltaPoc[0];
  }
}

PocCounter::Result PocCounter::Next(const Sps& sps, const SliceHeader& h, bool idr, std::uint32_t refIdc) {
  const bool mmco5 = h.MmcoReset();
  const bool bottomField = h.fieldPic && h.bottomField;
  std::int64_t top = 0, bottom = 0;
  if (sps.pocType == 0) {
    if (idr) {
      prevMsb_ = prevLsb_ = 0;
    } else if (prevMmco5_) {
      prevMsb_ = 0;
      prevLsb_ = prevBottomField_ ? 0 : prevTop_;
    }
    const std::int64_t maxLsb = std::int64_t{1} << std::min<std::uint32_t>(sps.log2MaxPocLsb, 16);
    const std::int64_t lsb = h.pocLsb;
    std::int64_t msb = prevMsb_;
    if (lsb < prevLsb_ && prevLsb_ - lsb >= maxLsb / 2)
      msb += maxLsb;
    else if (lsb > prevLsb_ && lsb - prevLsb_ > maxLsb / 2)
      msb -= maxLsb;
    top = bottom = msb + lsb;
    if (!h.fieldPic) bottom = top + h.deltaPocBottom;
    if (refIdc != 0) {
      prevMsb_ = msb;
      prevLsb_ = lsb;
    }
  } else {
    const std::int64_t maxFrameNum = std::int64_t{1} << std::min<std::uint32_t>(sps.log2MaxFrameNum, 16);
    if (prevMmco5_) prevFrameNumOffset_ = 0;
    std::int64_t offset = 0;
    if (!idr) offset = prevFrameNum_ > h.frameNum ? prevFrameNumOffset_ + maxFrameNum : prevFrameNumOffset_;
    if (sps.pocType == 1) {
      PocType1(sps, h, offset, refIdc != 0, top, bottom);
    } else {
      const std::int64_t t = idr ? 0 : refIdc == 0 ? 2 * (offset + h.frameNum) - 1 : 2 * (offset + h.frameNum);
      top = bottom = t;
    }
    prevFrameNumOffset_ = offset;
    prevFrameNum_ = h.frameNum;
  }

  Result r;
  r.reset = idr || mmco5;
  std::int64_t own = h.fieldPic ? top : std::min(top, bottom);
  if (mmco5) {
    // The picture counts from zero once it is decoded, and so does what follows it.
    const std::int64_t temp = own;
    top -= temp;
    bottom -= temp;
    own = 0;
    prevFrameNum_ = 0;
  }
  prevMmco5_ = mmco5;
  prevBottomField_ = bottomField;
  prevTop_ = top;
  r.top = Clamp(top);
  r.bottom = Clamp(bottom);
  r.poc = Clamp(own);
  return r;
}

}  // namespace h264
