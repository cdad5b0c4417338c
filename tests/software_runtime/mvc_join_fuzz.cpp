// Stereo streams built from fuzz bytes (parameter sets, reference counts, picture structures,
// list modifications, marking operations, view ids), cut and joined into one view. Whatever the
// input, the joined stream must be one an ordinary decoder can follow: it parses against its
// own parameter sets, frame_num never leaves a gap, and every list entry and marking operation
// names a picture its decoder holds.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bits.h"
#include "mvc_dpb.h"
#include "mvc_joiner.h"
#include "mvc_splitter.h"
#include "parameter_sets.h"
#include "slice_header.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class Input {
 public:
  Input(const std::uint8_t* d, std::size_t n) : d_(d), n_(n) {}
  std::uint32_t Byte() { return pos_ < n_ ? d_[pos_++] : 0; }
  std::uint32_t Below(std::uint32_t limit) { return limit ? Byte() % limit : 0; }
  bool Bit() { return Byte() & 1; }
  bool Done() const { return pos_ >= n_; }

 private:
  const std::uint8_t* d_;
  std::size_t n_, pos_ = 0;
};

void Nal(std::uint8_t header, const Bytes& prefix, h264::BitWriter& w, Bytes& out) {
  w.TrailingBits();
  const Bytes& rbsp = w.Bytes();
  out.insert(out.end(), {0, 0, 0, 1, header});
  out.insert(out.end(), prefix.begin(), prefix.end());
  h264::AppendEscaped(rbsp.data(), rbsp.size(), out);
  w.Clear();
}

struct Layout {
  bool frameMbsOnly = true;
  std::uint32_t log2FrameNum = 4, pocType = 0, log2Lsb = 4;
  bool bottomPoc = false;
};

void WriteSpsData(Input& in, Layout& l, std::uint32_t profile, h264::BitWriter& w) {
  w.U(profile, 8);
  w.U(0, 8);
  w.U(30, 8);
  w.Ue(0);  // seq_parameter_set_id
  if (profile >= 100) {
    w.Ue(1);
    w.Ue(0);
    w.Ue(0);
    w.Flag(false);
    w.Flag(false);
  }
  w.Ue(l.log2FrameNum - 4);
  w.Ue(l.pocType);
  if (l.pocType == 0) {
    w.Ue(l.log2Lsb - 4);
  } else if (l.pocType == 1) {
    w.Flag(in.Bit());
    w.Se(static_cast<std::int32_t>(in.Below(5)) - 2);
    w.Se(static_cast<std::int32_t>(in.Below(5)) - 2);
    const std::uint32_t cycle = in.Below(4);
    w.Ue(cycle);
    for (std::uint32_t i = 0; i < cycle; ++i) w.Se(static_cast<std::int32_t>(in.Below(7)));
  }
  w.Ue(in.Below(17));  // max_num_ref_frames
  w.Flag(in.Bit());    // gaps allowed
  w.Ue(1);             // 32 x 32 (frames) or 32 x 64
  w.Ue(1);
  w.Flag(l.frameMbsOnly);
  if (!l.frameMbsOnly) w.Flag(in.Bit());
  w.Flag(true);
  w.Flag(false);  // no crop
  w.Flag(false);  // no VUI
}

void WriteSlice(Input& in, const Layout& l, bool idr, bool dependent, std::uint32_t refIdc, std::uint32_t firstMb,
                std::uint32_t frameNum, bool field, bool bottom, h264::BitWriter& w) {
  const std::uint32_t type = idr && !dependent ? 2 : in.Below(3);  // P, B, I
  w.Ue(firstMb);
  w.Ue(type);
  w.Ue(in.Below(2));  // pic_parameter_set_id
  w.U(frameNum, static_cast<int>(l.log2FrameNum));
  if (!l.frameMbsOnly) {
    w.Flag(field);
    if (field) w.Flag(bottom);
  }
  if (idr) w.Ue(in.Below(3));
  if (l.pocType == 0) {
    w.U(in.Byte(), static_cast<int>(l.log2Lsb));
    if (l.bottomPoc && !field) w.Se(static_cast<std::int32_t>(in.Below(5)) - 2);
  } else if (l.pocType == 1) {
    w.Se(static_cast<std::int32_t>(in.Below(9)) - 4);
    if (l.bottomPoc && !field) w.Se(static_cast<std::int32_t>(in.Below(5)) - 2);
  }
  if (type == 1) w.Flag(in.Bit());  // direct_spatial_mv_pred_flag
  std::uint32_t active[2] = {1, 1};
  if (type != 2) {
    const bool override = in.Bit();
    w.Flag(override);
    if (override) {
      active[0] = 1 + in.Below(field ? 32 : 16);
      w.Ue(active[0] - 1);
      if (type == 1) {
        active[1] = 1 + in.Below(field ? 32 : 16);
        w.Ue(active[1] - 1);
      }
    }
    for (int x = 0; x < (type == 1 ? 2 : 1); ++x) {
      const bool modify = in.Bit();
      w.Flag(modify);
      if (!modify) continue;
      const std::uint32_t n = in.Below(active[x] + 1);
      for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t idc = in.Below(dependent ? 6 : 3);
        w.Ue(idc == 3 ? 4 : idc);
        w.Ue(in.Below(idc >= 3 ? 3 : 40));
      }
      w.Ue(3);
    }
  }
  if (refIdc) {
    if (idr) {
      w.Flag(in.Bit());
      w.Flag(in.Bit());
    } else {
      const bool adaptive = in.Bit();
      w.Flag(adaptive);
      if (adaptive) {
        const std::uint32_t n = in.Below(4);
        for (std::uint32_t i = 0; i < n; ++i) {
          const std::uint32_t op = 1 + in.Below(6);
          w.Ue(op);
          if (op == 1 || op == 3) w.Ue(in.Below(40));
          if (op == 2) w.Ue(in.Below(20));
          if (op == 3 || op == 6) w.Ue(in.Below(16));
          if (op == 4) w.Ue(in.Below(17));
        }
        w.Ue(0);
      }
    }
  }
  if (type != 2) w.Ue(in.Below(3));  // cabac_init_idc
  w.Se(static_cast<std::int32_t>(in.Below(11)) - 5);  // slice_qp_delta
  w.U(0xA5, 8);                                        // a byte of "slice data"
  w.AlignWithOnes();
  w.U(in.Byte() | 1, 8);
}

// Builds a two-view stream: parameter sets, then access units of a base and a dependent view.
Bytes BuildStream(Input& in) {
  Bytes out;
  h264::BitWriter w;
  Layout l;
  l.frameMbsOnly = in.Bit();
  l.log2FrameNum = 4 + in.Below(13);
  l.pocType = in.Below(3);
  l.log2Lsb = 4 + in.Below(13);
  l.bottomPoc = in.Bit();
  WriteSpsData(in, l, 100, w);
  Nal(0x67, {}, w, out);
  WriteSpsData(in, l, 118 + 10 * in.Below(2), w);
  w.Flag(true);  // bit_equal_to_one
  w.Ue(1);       // two views
  const std::uint32_t dependentId = 1 + in.Below(3);
  w.Ue(0);
  w.Ue(dependentId);
  for (int i = 0; i < 4; ++i) {  // anchor l0, l1, non-anchor l0, l1
    const std::uint32_t n = in.Below(3);
    w.Ue(n);
    for (std::uint32_t k = 0; k < n; ++k) w.Ue(in.Below(3));
  }
  w.Ue(0);
  w.U(30, 8);
  w.Ue(0);
  w.U(0, 3);
  w.Ue(0);
  w.Ue(dependentId);
  w.Ue(1);
  w.Flag(false);  // mvc_vui_parameters_present_flag
  w.Flag(false);  // additional_extension2_flag
  Nal(0x6F, {}, w, out);
  for (std::uint32_t id = 0; id < 2; ++id) {
    w.Ue(id);
    w.Ue(0);
    w.Flag(true);  // CABAC: slice data starts aligned
    w.Flag(l.bottomPoc);
    w.Ue(0);
    w.Ue(in.Below(4));
    w.Ue(in.Below(4));
    w.Flag(false);
    w.U(in.Below(2) * 2, 2);  // weighted_bipred_idc 0 or 2: no table to write
    w.Se(0);
    w.Se(0);
    w.Se(0);
    w.Flag(false);
    w.Flag(false);
    w.Flag(false);
    Nal(0x68, {}, w, out);
  }
  std::uint32_t frameNum[2] = {0, 0};
  for (int unit = 0; unit < 64 && !in.Done(); ++unit) {
    const bool idr = unit == 0 || in.Below(16) == 0;
    const bool field = !l.frameMbsOnly && in.Bit();
    const bool bottom = field && in.Bit();
    const bool anchor = idr || in.Bit();
    for (int view = 0; view < 2; ++view) {
      const std::uint32_t refIdc = idr ? 3 : in.Below(4);
      if (idr) frameNum[view] = 0;
      else frameNum[view] = (frameNum[view] + in.Below(3)) & ((1u << l.log2FrameNum) - 1);
      const int slices = 1 + static_cast<int>(in.Below(2));
      for (int s = 0; s < slices; ++s) {
        WriteSlice(in, l, idr, view == 1, refIdc, s == 0 ? 0 : 1, frameNum[view], field, bottom, w);
        if (view == 0) {
          out.insert(out.end(), {0, 0, 0, 1, 0x0E, static_cast<std::uint8_t>(idr ? 0 : 0x40), 0,
                                 static_cast<std::uint8_t>((anchor ? 4 : 0) | 2 | 1)});
          Nal(static_cast<std::uint8_t>(refIdc << 5 | (idr ? 5 : 1)), {}, w, out);
        } else {
          const std::uint32_t viewId = in.Below(8) ? dependentId : in.Below(4);
          const Bytes ext = {static_cast<std::uint8_t>((idr ? 0 : 0x40)), static_cast<std::uint8_t>(viewId >> 2),
                             static_cast<std::uint8_t>((viewId & 3) << 6 | (anchor ? 4 : 0) | (in.Bit() ? 2 : 0) | 1)};
          Nal(static_cast<std::uint8_t>(refIdc << 5 | 20), ext, w, out);
        }
      }
    }
  }
  return out;
}

// Follows the joined stream as a plain single-view decoder would and checks that it can. A
// field turned long-term makes libavcodec hold its whole frame long-term, which the joined
// marking follows; from there on the stream is only parsed.
class JoinedChecker {
 public:
  void Picture(const Bytes& bytes) {
    bool started = false;
    for (const h264::NalUnit& u : h264::SplitUnits(bytes.data(), bytes.size())) {
      const std::uint8_t* nal = bytes.data() + u.header;
      const std::size_t len = u.end - u.header;
      if (len < 2) __builtin_trap();
      const std::uint8_t type = nal[0] & 0x1F;
      h264::Unescape(nal + 1, len - 1, rbsp_);
      if (type == h264::kNalSps) {
        h264::Sps s;
        if (!h264::ParseSps(rbsp_.data(), rbsp_.size(), s)) __builtin_trap();
        sps_[s.spsId] = s;
      } else if (type == h264::kNalPps) {
        h264::Pps p;
        if (!h264::ParsePps(rbsp_.data(), rbsp_.size(), p)) __builtin_trap();
        pps_[p.ppsId] = p;
      } else if (type == h264::kNalSlice || type == h264::kNalIdrSlice) {
        std::uint32_t ppsId = 0;
        if (!h264::ParseSlicePpsId(rbsp_.data(), rbsp_.size(), ppsId)) __builtin_trap();
        const h264::Pps& pps = pps_[ppsId];
        const h264::Sps& sps = sps_[pps.spsId];
        h264::SliceContext c;
        c.idr = type == h264::kNalIdrSlice;
        c.refIdc = nal[0] >> 5;
        h264::SliceHeader h;
        if (!h264::ParseSliceHeader(rbsp_.data(), rbsp_.size(), sps, pps, c, h)) __builtin_trap();
        for (const h264::Mmco& m : h.mmcos) strict_ = strict_ && !(h.fieldPic && (m.op == 3 || m.op == 6));
        if (!started) {
          swrt::PictureStart start;
          start.idr = c.idr;
          start.refIdc = c.refIdc;
          start.sps = &sps;
          start.header = &h;
          const bool second = dpb_.PairsWithLastField(start);
          // frame_num continues without gaps: the decoder would invent pictures otherwise.
          if (!c.idr && !second && any_ && h.frameNum != (prevRefFrameNum_ + 1) % 65536) __builtin_trap();
          if (!dpb_.Start(start)) __builtin_trap();
          first_ = h;
          refIdc_ = c.refIdc;
          started = true;
        }
        std::vector<swrt::RefEntry> lists[2];
        if (!dpb_.BuildLists(h, swrt::InterViewContext{}, lists) && strict_) __builtin_trap();
      }
    }
    if (!started) __builtin_trap();
    if (!dpb_.Finish() && strict_) __builtin_trap();
    if (refIdc_) prevRefFrameNum_ = first_.frameNum;
    any_ = true;
    dpb_.Collect();
  }

 private:
  h264::Sps sps_[32];
  h264::Pps pps_[256];
  swrt::MvcDpb dpb_;
  Bytes rbsp_;
  h264::SliceHeader first_;
  std::uint32_t refIdc_ = 0;
  std::uint32_t prevRefFrameNum_ = 0;
  bool any_ = false;
  bool strict_ = true;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const Bytes stream = BuildStream(in);
  swrt::MvcSplitter splitter;
  swrt::MvcJoiner joiner;
  JoinedChecker checker;
  swrt::AccessUnit unit;
  swrt::JoinedPicture picture;
  std::size_t pictures = 0;
  auto drain = [&]() {
    while (joiner.Next(picture)) {
      if (!picture.concealed) checker.Picture(picture.bytes);
      if (++pictures > 4 * 64 * 2) __builtin_trap();  // at most one per field of each view
    }
  };
  splitter.Push(stream.data(), stream.size());
  splitter.Flush();
  while (splitter.Next(unit)) {
    joiner.Push(unit);
    drain();
  }
  joiner.Flush();
  drain();
  return 0;
}
