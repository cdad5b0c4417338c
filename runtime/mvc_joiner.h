// Joins the two views of a stereo (MVC) stream into one single-view AVC stream that an
// ordinary H.264 decoder decodes exactly as an MVC decoder decodes both views: each view
// component becomes a picture of its own, with a continuous frame_num, the original picture
// order counts written out, reference lists written out entry for entry (inter-view entries
// included) and adaptive marking that keeps exactly the references the two views hold.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "mvc_dpb.h"
#include "mvc_splitter.h"
#include "parameter_sets.h"
#include "slice_header.h"

namespace swrt {

// One picture of the joined stream: Annex-B NAL units (parameter sets it needs first).
struct JoinedPicture {
  std::vector<std::uint8_t> bytes;
  int view = 0;             // 0 base view, 1 dependent view
  std::uint64_t serial = 0;  // increasing in joined decoding order
  std::uint64_t stamp = AccessUnit::kNoStamp;  // of the access unit it came from
  // No bytes: the view component could not be joined; show the picture of `stand_in` instead.
  bool concealed = false;
  std::uint64_t standIn = 0;
};

class MvcJoiner {
 public:
  // The view ids to keep: the base view and one dependent view (by default the first non-base
  // view of the first subset SPS).
  void SetDependentView(std::uint32_t viewId) {
    dependentViewId_ = viewId;
    dependentViewSet_ = true;
  }
  // Pictures held back by the joined stream's decoder for display order.
  void SetReorderDepth(std::uint32_t depth) { reorderDepth_ = depth; }

  void Push(const AccessUnit& unit);
  // The end of the stream: anything held goes out.
  void Flush();
  bool Next(JoinedPicture& out);
  void Reset();
  // A new start inside the same stream (a seek): the parameter sets seen stay, everything the
  // pictures built is gone. The stream may go on at an I picture that is no IDR picture.
  void Restart();

  std::uint32_t DependentViewId() const { return dependentViewId_; }
  std::uint32_t BaseViewId() const { return baseViewId_; }

 private:
  struct Slice {
    std::vector<std::uint8_t> rbsp;  // behind the NAL header (and the extension bytes)
    h264::SliceHeader header;
  };
  struct ParamSet {
    bool valid = false;
    std::uint64_t version = 0;
    std::vector<std::uint8_t> rbsp;
  };
  // A PPS as it stood when a view component's slices were read, kept with the component until
  // it is written.
  struct PpsCopy {
    std::uint32_t id = 0;
    ParamSet set;
    h264::Pps parsed;
  };
  struct Component {
    int view = 0;
    bool present = false;
    bool idr = false;
    std::uint32_t refIdc = 0;
    bool anchor = false;
    bool interView = true;
    std::uint32_t spsId = 0;  // of the SPS (base) or subset SPS (dependent) its slices use
    std::uint64_t stamp = AccessUnit::kNoStamp;
    std::vector<Slice> slices;
    StoredPicture* basePicture = nullptr;  // dependent: the base view's picture of its unit
    std::uint8_t baseFields = kBothFields;
    bool broken = false;
    std::vector<PpsCopy> pps;
    const PpsCopy* Pps(std::uint32_t id) const {
      for (const PpsCopy& p : pps)
        if (p.id == id) return &p;
      return nullptr;
    }
  };
  struct JoinedId {
    bool used = false;
    int view = 0;
    std::uint32_t origId = 0;
    std::uint64_t versions[3] = {};  // what the emitted copy was built from
  };

  void Store(ParamSet& p, const std::vector<std::uint8_t>& rbsp);
  bool ParseComponent(Component& c);
  bool SecondFieldOfHeld(const Component& base) const;
  bool InterViewUsed() const;
  const h264::MvcView* DependentViewOf(std::uint32_t subsetId) const;
  const h264::Sps* SpsOf(int view, std::uint32_t spsId) const;
  void Emit(Component& c, bool expectDependent = false);
  void Conceal(const Component& c);
  bool WriteParameterSets(const Component& c, std::uint32_t origPpsId, std::uint32_t& joinedPpsId,
                          std::vector<std::uint8_t>& out);
  bool JoinedLists(const h264::SliceHeader& h, const std::vector<RefEntry> lists[2],
                   std::vector<h264::ListModification> out[2]) const;
  void JoinedMarking(StoredPicture& current, bool secondField, bool idr, std::vector<h264::Mmco>& mmcos);
  void WriteSlice(const Slice& s, const std::vector<h264::ListModification> mods[2],
                  const std::vector<h264::Mmco>& mmcos, const h264::Sps& sps, const h264::Pps& origPps,
                  std::uint8_t nalHeader, bool joinedIdr, std::uint32_t ppsId, std::vector<std::uint8_t>& out);
  std::int64_t JoinedFrameNumWrap(const StoredPicture& p) const;
  std::int64_t JoinedPicNum(const StoredPicture& p, std::uint8_t field) const;
  std::int64_t JoinedLongPicNum(const StoredPicture& p, std::uint8_t field) const;
  std::uint32_t AllocateLongIdx();

  // Parameter sets as received.
  std::array<ParamSet, 32> sps_, subsetSps_;
  std::array<h264::Sps, 32> parsedSps_;
  std::array<h264::SubsetSps, 32> parsedSubset_;
  std::array<ParamSet, 256> pps_[2];  // by view: see Push
  std::array<h264::Pps, 256> parsedPps_[2];
  std::uint64_t nextVersion_ = 1;
  std::array<JoinedId, 32> joinedSps_;
  std::array<JoinedId, 256> joinedPps_;

  std::uint32_t baseViewId_ = 0, dependentViewId_ = 1;
  bool dependentViewSet_ = false;
  std::uint32_t reorderDepth_ = 16;

  MvcDpb dpb_;
  // The joined stream's own state.
  std::uint32_t frameNum_ = 0;  // of the picture being written
  std::uint8_t currentFields_ = kBothFields;
  std::uint32_t pocLsb_ = 0;
  std::int32_t deltaPocBottom_ = 0;
  std::uint32_t prevRefFrameNum_ = 0;
  std::int64_t prevPocMsb_ = 0;
  std::int64_t prevPocLsb_ = 0;
  std::int32_t maxLongIdx_ = -1;
  std::uint32_t longIdxUsed_ = 0;  // long-term indices taken, one bit each
  bool joinedIdrLong_ = false;     // the joined IDR picture is long-term
  bool started_ = false;
  bool dependentLost_ = false;  // until its next IDR picture
  const StoredPicture* lastJoined_ = nullptr;  // picture of the last joined field, for pairing
  int lastBaseSpsId_ = -1;
  bool baseWasSecond_ = false;

  Component held_;  // a dependent first field waiting for the base view's second field
  std::uint64_t serial_ = 0;
  std::uint64_t lastBaseSerial_ = 0;
  std::deque<JoinedPicture> out_;
  h264::BitWriter writer_;
  std::vector<std::uint8_t> scratch_;
};

}  // namespace swrt
