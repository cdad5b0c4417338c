#include "index_store.h"

#include <cstring>
#include <utility>

namespace korvala {

namespace {

// Bumped whenever what the scan finds, or how it is written here, changes.
constexpr char kMagic[8] = {'K', 'V', 'L', 'I', 'N', 'D', 'E', 'X'};
constexpr uint32_t kVersion = 1;
constexpr size_t kUnitBytes = 8 + 8 + 4 + 4 + 4 + 1;
constexpr size_t kPieceBytes = 8 + 8 + 8 + 4 + 2 + 1;
constexpr uint32_t kMaxKeyBytes = 1 << 16;

class Writer {
 public:
  explicit Writer(std::vector<uint8_t>& out) : out_(out) {}
  void U8(uint8_t v) { out_.push_back(v); }
  void U16(uint16_t v) { Le(v, 2); }
  void U32(uint32_t v) { Le(v, 4); }
  void U64(uint64_t v) { Le(v, 8); }
  void Bytes(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    out_.insert(out_.end(), b, b + n);
  }

 private:
  void Le(uint64_t v, int n) {
    for (int i = 0; i < n; ++i) out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  std::vector<uint8_t>& out_;
};

// Every read is checked against the bytes left; a failed read leaves the reader failed.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : p_(data), left_(size) {}
  bool Ok() const { return ok_; }
  size_t Left() const { return left_; }
  uint8_t U8() { return static_cast<uint8_t>(Le(1)); }
  uint16_t U16() { return static_cast<uint16_t>(Le(2)); }
  uint32_t U32() { return static_cast<uint32_t>(Le(4)); }
  uint64_t U64() { return Le(8); }
  const uint8_t* Bytes(size_t n) {
    if (!ok_ || n > left_) return Fail();
    const uint8_t* at = p_;
    p_ += n;
    left_ -= n;
    return at;
  }
  // A count of records of `bytes` each that the bytes left can hold.
  bool Count(uint32_t& n, size_t bytes) {
    n = U32();
    if (ok_ && n > left_ / bytes) Fail();
    return ok_;
  }

 private:
  const uint8_t* Fail() {
    ok_ = false;
    left_ = 0;
    return nullptr;
  }
  uint64_t Le(int n) {
    const uint8_t* b = Bytes(static_cast<size_t>(n));
    uint64_t v = 0;
    if (b)
      for (int i = 0; i < n; ++i) v |= uint64_t{b[i]} << (8 * i);
    return v;
  }
  const uint8_t* p_;
  size_t left_;
  bool ok_ = true;
};

void WriteLayout(Writer& w, const Layout& layout) {
  for (const std::vector<Piece>& view : layout.pieces) {
    w.U32(static_cast<uint32_t>(view.size()));
    for (const Piece& p : view) {
      w.U64(p.offset);
      w.U64(static_cast<uint64_t>(p.pos));
      w.U64(static_cast<uint64_t>(p.pts));
      w.U32(p.size);
      w.U16(p.clip);
      w.U8(p.constant ? 1 : 0);
    }
  }
}

bool ReadLayout(Reader& r, Layout& layout) {
  for (std::vector<Piece>& view : layout.pieces) {
    uint32_t n = 0;
    if (!r.Count(n, kPieceBytes)) return false;
    view.resize(n);
    uint64_t end = 0;
    for (Piece& p : view) {
      p.offset = r.U64();
      p.pos = static_cast<int64_t>(r.U64());
      p.pts = static_cast<int64_t>(r.U64());
      p.size = r.U32();
      p.clip = r.U16();
      const uint8_t constant = r.U8();
      // Laid end to end, in order; the readers search them by offset.
      if (!r.Ok() || constant > 1 || p.offset < end || p.offset > UINT64_MAX - p.size || (constant && p.pos < 0))
        return false;
      p.constant = constant != 0;
      end = p.offset + p.size;
    }
  }
  return true;
}

}  // namespace

uint64_t HashBytes(const uint8_t* data, size_t n, uint64_t seed) {
  constexpr uint64_t kMul = 0x9FB21C651E98DF25ull;
  uint64_t h = seed ^ (n * kMul);
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, data + i, 8);
    h = (h ^ w) * kMul;
    h ^= h >> 29;
  }
  uint64_t tail = 0;
  for (size_t k = 0; i + k < n; ++k) tail |= uint64_t{data[i + k]} << (8 * k);
  h = (h ^ tail) * kMul;
  h ^= h >> 32;
  h *= kMul;
  return h ^ (h >> 29);
}

std::vector<uint8_t> SerializeIndex(const IndexKey& key, const UnitIndex& index, const Layout* layout) {
  std::vector<uint8_t> out;
  const std::vector<IndexedUnit>& units = index.FinishedUnits();
  out.reserve(64 + key.text.size() + units.size() * (kUnitBytes + 8) +
              (layout ? (layout->pieces[0].size() + layout->pieces[1].size()) * kPieceBytes : 0));
  Writer w(out);
  w.Bytes(kMagic, sizeof kMagic);
  w.U32(kVersion);
  w.U32(static_cast<uint32_t>(key.text.size()));
  w.Bytes(key.text.data(), key.text.size());
  w.U64(key.contentHash);
  w.U8(index.TwoStreams() ? 1 : 0);
  w.U8(static_cast<uint8_t>(index.StreamCodec()));
  w.U8(layout ? 1 : 0);
  w.U32(static_cast<uint32_t>(units.size()));
  for (const IndexedUnit& u : units) {
    w.U64(u.offset[0]);
    w.U64(u.offset[1]);
    w.U32(u.size[0]);
    w.U32(u.size[1]);
    w.U32(u.frame);
    w.U8(static_cast<uint8_t>(u.access));
  }
  for (const std::vector<uint32_t>* list : {&index.FrameUnits(), &index.RandomAccessUnits()}) {
    w.U32(static_cast<uint32_t>(list->size()));
    for (uint32_t v : *list) w.U32(v);
  }
  w.U32(static_cast<uint32_t>(index.ExactFrom().size()));
  for (const auto& e : index.ExactFrom()) {
    w.U32(e.first);
    w.U32(e.second);
  }
  if (layout) WriteLayout(w, *layout);
  w.U64(HashBytes(out.data(), out.size()));
  return out;
}

bool ParseIndex(const IndexKey& key, const uint8_t* data, size_t size, UnitIndex& index, Layout* layout) {
  if (size < sizeof kMagic + 8 || HashBytes(data, size - 8) != Reader(data + size - 8, 8).U64()) return false;
  Reader r(data, size - 8);
  const uint8_t* magic = r.Bytes(sizeof kMagic);
  if (!magic || std::memcmp(magic, kMagic, sizeof kMagic) != 0 || r.U32() != kVersion) return false;
  const uint32_t keyBytes = r.U32();
  const uint8_t* text = keyBytes <= kMaxKeyBytes ? r.Bytes(keyBytes) : nullptr;
  if (!text || keyBytes != key.text.size() || std::memcmp(text, key.text.data(), keyBytes) != 0 ||
      r.U64() != key.contentHash)
    return false;
  const bool two = r.U8() != 0;
  const uint8_t codec = r.U8();
  const uint8_t hasLayout = r.U8();
  if (!r.Ok() || two != index.TwoStreams() || codec != static_cast<uint8_t>(index.StreamCodec()) || hasLayout > 1)
    return false;

  uint32_t n = 0;
  if (!r.Count(n, kUnitBytes) || n == 0) return false;
  std::vector<IndexedUnit> units(n);
  size_t accessPoints = 0;
  for (IndexedUnit& u : units) {
    u.offset[0] = r.U64();
    u.offset[1] = r.U64();
    u.size[0] = r.U32();
    u.size[1] = r.U32();
    u.frame = r.U32();
    const uint8_t access = r.U8();
    if (!r.Ok() || access > static_cast<uint8_t>(AccessKind::kIntra)) return false;
    if (u.offset[0] > UINT64_MAX - u.size[0] || u.offset[1] > UINT64_MAX - u.size[1]) return false;
    if (!two && (u.offset[1] != 0 || u.size[1] != 0)) return false;
    u.access = static_cast<AccessKind>(access);
    accessPoints += u.access != AccessKind::kNone;
  }
  if (units[0].access == AccessKind::kNone) return false;

  // Frames: each names its unit, and that unit names the frame back.
  uint32_t frames = 0;
  if (!r.Count(frames, 4)) return false;
  std::vector<uint32_t> unitOfFrame(frames);
  for (uint32_t f = 0; f < frames; ++f) {
    unitOfFrame[f] = r.U32();
    if (!r.Ok() || unitOfFrame[f] >= n || units[unitOfFrame[f]].frame != f) return false;
  }
  // A place to start shows a picture of its own (the stream's first unit need not).
  for (const IndexedUnit& u : units)
    if ((u.frame != kNoFrame && u.frame >= frames) ||
        (u.frame == kNoFrame && u.access != AccessKind::kNone && u.access != AccessKind::kStart))
      return false;

  // Random access points: every unit marked as one, in order.
  uint32_t rapCount = 0;
  if (!r.Count(rapCount, 4) || rapCount != accessPoints) return false;
  std::vector<uint32_t> raps(rapCount);
  for (uint32_t i = 0; i < rapCount; ++i) {
    raps[i] = r.U32();
    if (!r.Ok() || raps[i] >= n || (i > 0 && raps[i] <= raps[i - 1]) || units[raps[i]].access == AccessKind::kNone)
      return false;
  }

  uint32_t exactCount = 0;
  if (!r.Count(exactCount, 8)) return false;
  std::vector<std::pair<uint32_t, uint32_t>> exact(exactCount);
  for (uint32_t i = 0; i < exactCount; ++i) {
    exact[i].first = r.U32();
    exact[i].second = r.U32();
    if (!r.Ok() || exact[i].first >= n || exact[i].second >= frames || (i > 0 && exact[i].first <= exact[i - 1].first) ||
        units[exact[i].first].access != AccessKind::kIntra)
      return false;
  }

  Layout read;
  if (hasLayout != (layout ? 1 : 0) || (layout && !ReadLayout(r, read))) return false;
  if (!r.Ok() || r.Left() != 0) return false;
  index.Adopt(std::move(units), std::move(unitOfFrame), std::move(raps), std::move(exact));
  if (layout) *layout = std::move(read);
  return true;
}

}  // namespace korvala
