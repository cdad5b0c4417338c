// Which source each frame property comes from: the runtime's answers first, the SPS where it gave
// none, and what a picture's report maps to. End to end the software runtime answers everything,
// so the other paths are held here.
#include <gtest/gtest.h>

#include "frame_properties.h"

namespace {

using korvala::StreamFacts;

h264::Sps FullRangeSps() {
  h264::Sps sps;
  sps.videoFullRange = true;
  sps.colourPrimaries = sps.transferCharacteristics = sps.matrixCoefficients = 6;
  sps.chromaLocInfo = true;
  sps.chromaLocTop = 1;
  sps.sarWidth = 10;
  sps.sarHeight = 11;
  sps.timingInfo = true;
  return sps;
}

struct Answers {
  mfxFrameInfo header{};
  mfxExtVideoSignalInfo signal;
  mfxExtChromaLocInfo location;
  Answers() {
    korvala::MarkUnanswered(signal, location);
    header.FrameRateExtN = 30000;
    header.FrameRateExtD = 1001;
  }
};

TEST(PropertyRules, TheRuntimesAnswerComesFirstAndTheSpsFillsWhatItLeftOut) {
  const h264::Sps sps = FullRangeSps();
  Answers a;
  StreamFacts f = korvala::ReadStreamFacts(a.header, a.signal, a.location, &sps);
  EXPECT_TRUE(f.colorRange == 0 && f.matrix == 6 && f.primaries == 6 && f.transfer == 6 && f.chromaLocation == 1);
  EXPECT_TRUE(f.sarNum == 10 && f.sarDen == 11 && f.rateNum == 30000 && f.rateDen == 1001);

  a.signal.VideoFormat = 5;  // answered: limited, BT.709, chroma location 2, 16:11
  a.signal.ColourDescriptionPresent = 1;
  a.signal.ColourPrimaries = a.signal.TransferCharacteristics = a.signal.MatrixCoefficients = 1;
  a.location.ChromaLocInfoPresentFlag = 1;
  a.location.ChromaSampleLocTypeTopField = 2;
  a.header.AspectRatioW = 16;
  a.header.AspectRatioH = 11;
  f = korvala::ReadStreamFacts(a.header, a.signal, a.location, &sps);
  EXPECT_TRUE(f.colorRange == 1 && f.matrix == 1 && f.primaries == 1 && f.transfer == 1 && f.chromaLocation == 2);
  EXPECT_TRUE(f.sarNum == 16 && f.sarDen == 11);

  // A 1:1 answer may stand for "unsaid": the SPS decides; without one it is taken as it is.
  a.header.AspectRatioW = a.header.AspectRatioH = 1;
  h264::Sps unsaid = sps;
  unsaid.sarWidth = unsaid.sarHeight = 0;
  f = korvala::ReadStreamFacts(a.header, a.signal, a.location, &unsaid);
  EXPECT_TRUE(f.sarNum == 0 && f.sarDen == 0);
  f = korvala::ReadStreamFacts(a.header, a.signal, a.location, nullptr);
  EXPECT_TRUE(f.sarNum == 1 && f.sarDen == 1 && f.rateNum == 0) << "no SPS timing: the rate may be a stand-in";

  // Reserved codes are as good as unspecified; a silent runtime and no SPS leave the defaults.
  a.signal.MatrixCoefficients = 3;
  a.signal.ColourPrimaries = 0;
  a.signal.TransferCharacteristics = 19;
  f = korvala::ReadStreamFacts(a.header, a.signal, a.location, nullptr);
  EXPECT_TRUE(f.matrix == 2 && f.primaries == 2 && f.transfer == 2);
  Answers silent;
  f = korvala::ReadStreamFacts(silent.header, silent.signal, silent.location, nullptr);
  EXPECT_TRUE(f.matrix == 2 && f.colorRange == 1 && f.chromaLocation == -1 && f.sarNum == 0);
}

TEST(PropertyRules, PictureReportsAndPictureNumbers) {
  mfxExtDecodedFrameInfo report{};
  report.Header.BufferId = MFX_EXTBUFF_DECODED_FRAME_INFO;
  report.Header.BufferSz = sizeof report;
  mfxExtBuffer* link = &report.Header;
  mfxFrameSurface1 surface{};
  surface.Data.ExtParam = &link;
  surface.Data.NumExtParam = 1;
  StreamFacts interlaced, progressive;
  progressive.progressive = true;
  struct Case {
    mfxU16 picStruct, frameType;
    const StreamFacts& stream;
    int fieldBased;
    char type;
  } cases[] = {
      {MFX_PICSTRUCT_PROGRESSIVE, MFX_FRAMETYPE_I | MFX_FRAMETYPE_IDR, interlaced, 0, 'I'},
      {MFX_PICSTRUCT_FIELD_TFF, MFX_FRAMETYPE_I | MFX_FRAMETYPE_xP, interlaced, 2, 'I'},  // the first field's
      {MFX_PICSTRUCT_FIELD_BFF, MFX_FRAMETYPE_B, interlaced, 1, 'B'},
      {MFX_PICSTRUCT_PROGRESSIVE | MFX_PICSTRUCT_FIELD_TFF | MFX_PICSTRUCT_FIELD_REPEATED, MFX_FRAMETYPE_P, interlaced, 0, 'P'},
      {MFX_PICSTRUCT_UNKNOWN, MFX_FRAMETYPE_UNKNOWN, progressive, 0, 0},
      {MFX_PICSTRUCT_UNKNOWN, MFX_FRAMETYPE_UNKNOWN, interlaced, -1, 0},
  };
  for (const Case& c : cases) {
    surface.Info.PicStruct = c.picStruct;
    report.FrameType = c.frameType;
    const korvala::PictureFacts p = korvala::ReadPictureFacts(surface, c.stream);
    EXPECT_TRUE(p.fieldBased == c.fieldBased && p.type == c.type) << c.picStruct << " " << c.frameType;
  }

  // The dependent picture of the third unit, both views alternating at 60000/1001.
  StreamFacts stream;
  stream.rateNum = 30000;
  stream.rateDen = 1001;
  korvala::PictureFacts picture;
  picture.view = 1;
  korvala::FrameProperties f = korvala::DescribeFrame(stream, &picture, 120000, 2002, 2);
  EXPECT_TRUE(f.view == 1 && f.durationNum == 1001 && f.durationDen == 60000 && f.hasAbsoluteTime);
  EXPECT_DOUBLE_EQ(f.absoluteTime, 2 * 1001 / 30000.0);
  // A blank frame carries what holds for the whole stream only.
  f = korvala::DescribeFrame(stream, nullptr, 60000, 1001, -1);
  EXPECT_TRUE(f.view == -1 && f.pictType == 0 && !f.hasAbsoluteTime && f.fieldBased == 0 && f.durationDen == 60000);
}

}  // namespace
