// What the decoder is fed: raw bytes of a stream, or its access units out of the index, which
// is scanned as far as the feeding needs and kept for the next run once finished. Serving calls
// down into here; nothing here calls back.
#include <algorithm>

#include "clip.h"
#include "file_io.h"

using korvala::Raise;

// From now on the decoder gets the stream's access units out of the index. The dependent view
// goes with them only when it is shown: the base view alone costs what the base file costs.
void Korvala::StartUnits(bool restart, korvala::Codec codec) {
  if (!m_units) {
    const bool pair = m_mvcMode != 0;
    m_feedDependent = pair && m_viewId != 0;
    if (codec == korvala::Codec::kH264 && !m_titleLied && (m_title = m_input->OpenTitle())) {
      // Nothing is scanned now: each stretch between two entry points is, when it is played.
      m_units = m_title.get();
      m_unitsAVC = m_title->OpenUnits(0);
      if (m_feedDependent) m_unitsMVC = m_title->OpenUnits(1);
    } else {
      // The dependent view is scanned even when it is not shown: its anchor pictures are what
      // proves that the base view's I pictures are places to start.
      m_index = std::make_unique<korvala::UnitIndex>(pair, codec);
      if (!LoadKeptIndex(pair, codec)) {
        // One pass lays both views out for the scan (a container's), the readers read the units
        // back by it. A kept index came with its layout: nothing is scanned.
        std::unique_ptr<korvala::ByteSource> base, dependent;
        m_input->OpenScan(pair, base, dependent);
        m_scanAVC = korvala::FileScan(std::move(base));
        if (pair) m_scanMVC = korvala::FileScan(std::move(dependent));
      }
      m_unitsAVC = m_input->OpenUnits(0);
      if (m_feedDependent) m_unitsMVC = m_input->OpenUnits(1);
      m_units = m_index.get();
    }
  }
  m_feed = Feed::kUnits;
  if (restart) RewindInput();
}

void Korvala::RewindInput(uint32_t unit) {
  m_bitstream.DataOffset = 0;
  m_bitstream.DataLength = 0;
  m_nextUnit = unit;
  m_inputEnded = false;
  if (m_feed == Feed::kRaw) m_rawOffset = 0;
}

bool Korvala::UnitsKnown() const { return m_title || (m_index && m_index->Finished()); }

// A stretch's stream disagreed with what the disc said of it: the title is scanned whole, as
// an input without clip information is, and the request that found it is decoded again.
void Korvala::ScanTitleInstead() {
  m_titleLied = true;
  m_unitsAVC.reset();
  m_unitsMVC.reset();
  m_title.reset();
  m_units = nullptr;
  StartUnits(false);
  IndexReady();
  RewindInput();
  // Pictures already numbered by the title's units are in the decoder: a request starts again.
  // While the header is read there are none, and the units go on from the start.
  if (m_serving) throw Rescanned{};
}

bool Korvala::IndexReady() {
  if (m_title) return true;
  if (!m_index) return false;
  if (!m_index->Finished()) {
    if (m_progress) ScanWithProgress();
    korvala::ScanToEnd(*m_index, m_scanAVC, DependentScan());
    if (m_input->Cut()) CutToPlayItems();
    KeepIndex();
  }
  return m_index->Finished();
}

// A playlist's items show the frames presented between their IN and OUT times.
void Korvala::CutToPlayItems() {
  const std::vector<uint32_t>& units = m_index->FrameUnits();
  std::vector<bool> shown(units.size());
  for (size_t f = 0; f < units.size(); ++f) shown[f] = m_input->Shows(m_index->Unit(units[f]).offset[0]);
  m_index->Cut(shown);
}

// Single inputs are kept (elementary files, a TS or M2TS or SSIF, the two clips of a title,
// Matroska); a playlist's title is not.
bool Korvala::LoadKeptIndex(bool pair, korvala::Codec codec) {
  const std::vector<std::string> files = m_input->KeptFiles();
  if (files.empty()) return false;
  const std::string form = std::string(m_elementary ? "elementary" : "container") + " codec " +
                           std::to_string(static_cast<int>(codec)) + (pair ? " both views" : " one view");
  if (!korvala::MakeIndexKey(files, form, m_keptKey)) return false;
  m_scanTotal = 0;
  for (const std::string& f : files) m_scanTotal += korvala::FileSize(f);
  const std::vector<uint8_t> bytes = korvala::ReadKeptIndex(m_keptKey);
  auto layout = m_elementary ? nullptr : std::make_shared<korvala::Layout>();
  if (!bytes.empty() && korvala::ParseIndex(m_keptKey, bytes.data(), bytes.size(), *m_index, layout.get())) {
    if (layout) m_input->UseLayout(std::move(layout));
    if (m_progress) m_progress->Loaded();
    return true;
  }
  // Missing, stale or damaged: scanned afresh, and kept once finished.
  m_keep = true;
  return false;
}

void Korvala::KeepIndex() {
  if (!m_keep || !m_index->Finished()) return;
  m_keep = false;
  std::shared_ptr<const korvala::Layout> layout = m_input->ScannedLayout();
  const bool kept = (m_elementary || layout) &&
                    korvala::WriteKeptIndex(m_keptKey, korvala::SerializeIndex(m_keptKey, *m_index, layout.get()));
  if (m_progress) m_progress->Stored(kept);
}

// The scan in steps, telling the bytes read after each. A container's are told by where its
// base view's last packet lay in the file.
void Korvala::ScanWithProgress() {
  constexpr size_t kStepUnits = 64;
  auto done = [&]() -> uint64_t {
    if (m_elementary) return m_scanAVC.Scanned() + m_scanMVC.Scanned();
    std::shared_ptr<const korvala::Layout> layout = m_input->ScannedLayout();
    if (!layout || layout->pieces[0].empty()) return 0;
    const korvala::Piece& last = layout->pieces[0].back();
    const uint64_t baseSize = korvala::FileSize(m_pathAVC);
    if (last.pos <= 0 || baseSize == 0) return 0;
    return static_cast<uint64_t>(static_cast<double>(last.pos) / static_cast<double>(baseSize) * static_cast<double>(m_scanTotal));
  };
  m_progress->Scanned(0, m_scanTotal);
  while (korvala::ScanUntil(*m_index, m_scanAVC, DependentScan(), m_index->KnownUnits() + kStepUnits))
    m_progress->Scanned(std::min(done(), m_scanTotal), m_scanTotal);
  m_progress->Scanned(m_scanTotal, m_scanTotal);
  m_progress->ScanDone();
}

mfxStatus Korvala::FillBitstream() {
  if (m_feed == Feed::kRaw) return korvala::FillRaw(*this, &m_bitstream);
  if (m_inputEnded) return MFX_ERR_MORE_DATA;
  if (m_title) {
    uint32_t unit = m_nextUnit;
    if (!m_title->Feedable(unit)) {
      if (!m_title->Lied()) {
        m_inputEnded = true;
        return MFX_ERR_MORE_DATA;
      }
      ScanTitleInstead();
      return FillBitstream();
    }
    m_nextUnit = unit;
  } else {
    if (!m_index->Finished()) korvala::ScanUntil(*m_index, m_scanAVC, DependentScan(), size_t{m_nextUnit} + 1);
    if (m_nextUnit >= m_index->KnownUnits()) {
      m_inputEnded = true;
      return MFX_ERR_MORE_DATA;
    }
  }
  const korvala::IndexedUnit unit = m_units->Unit(m_nextUnit);
  switch (korvala::AppendUnit(*this, unit, m_feedDependent, kStampBase + m_nextUnit, &m_bitstream)) {
    case korvala::AppendResult::kAppended:
      ++m_nextUnit;
      return MFX_ERR_NONE;
    case korvala::AppendResult::kNoRoom:
      return MFX_ERR_NONE;
    case korvala::AppendResult::kTooLarge:
      Raise(korvala::kOversizedUnitMessage);
      break;
    case korvala::AppendResult::kReadFailed:
      break;
  }
  m_inputEnded = true;
  return MFX_ERR_MORE_DATA;
}
