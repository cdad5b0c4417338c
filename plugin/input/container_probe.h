#pragma once
// What the container openers share: a transport stream's first packets read straight from the
// file, its program tables, its views and rate, and the container input they make.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "container_format.h"
#include "container_input.h"
#include "container_streams.h"
#include "disc_title.h"
#include "file_io.h"

namespace korvala {

// How far a transport stream is read for its program tables: an SSIF lists its base view only
// in the PMT of its first base extent.
inline constexpr size_t kTableSearchBytes = size_t{64} << 20;
inline constexpr size_t kTableBlock = size_t{192} * 188 * 2;  // whole packets of either size

// A transport stream's first blocks of whole packets, handed to `enough(block, bytes, packetSize)`
// until it says so or kTableSearchBytes are read. False when the file is no transport stream.
template <class Enough>
bool ReadPackets(const std::string& path, Enough enough) {
  const FilePtr f = OpenFile(path);
  if (!f) return false;
  // Never cleared: only the bytes read are looked at.
  std::unique_ptr<uint8_t[]> block(new uint8_t[kTableBlock]);
  size_t n = std::fread(block.get(), 1, kTableBlock, f.get());
  const int size = TransportPacketSize(block.get(), n);
  if (size == 0) return false;
  for (size_t read = n; n > 0; read += n) {
    if (enough(block.get(), n, size) || read >= kTableSearchBytes) break;
    n = std::fread(block.get(), 1, kTableBlock, f.get());
  }
  return true;
}

// The video streams a transport stream's program tables list, read until `enough` says so;
// empty when the file is no transport stream.
template <class Enough>
std::optional<ProgramTables> ReadTables(const std::string& path, Enough enough) {
  std::optional<ProgramTables> tables;
  ReadPackets(path, [&](const uint8_t* block, size_t n, int size) {
    if (!tables) tables.emplace(size);
    tables->Feed(block, n);
    return enough(*tables);
  });
  return tables;
}

// The base view's (or only) stream of a transport stream and, for stereo H.264, its dependent view.
struct TsViews {
  int base = -1, dependent = -1;
  uint8_t type = 0;
};

// The streams the tables list; with `stereo`, the dependent view in the same file too. False
// when the file is no transport stream.
bool FindTsViews(const std::string& path, bool stereo, TsViews& views);
// A file that holds a dependent view alone: its PID, -1 when it has none.
bool FindTsDependent(const std::string& path, int& pid);
// The rate a PID's first PES timestamps step at, 0/0 when unclear.
void TsRate(const std::string& path, int pid, uint32_t& num, uint32_t& den);
ContainerCodec CodecOfType(uint8_t type);
std::string ParentFolder(const std::string& path);

extern const uint8_t kStandInUnit[ContainerPlan::kStandInSize];  // a dependent unit with no slices

// The input over `plan` (its constants laid out already). `kept`: its index is kept between
// runs. `title`: the disc's description of it, when it has one.
std::unique_ptr<ContainerInput> MakeContainer(std::shared_ptr<ContainerPlan> plan, ContainerCodec codec, uint32_t num,
                                              uint32_t den, bool kept, std::shared_ptr<const DiscTitle> title);

ContainerOpen OpenPlaylist(const std::string& path, std::unique_ptr<ContainerInput>& input, const char** message);

}  // namespace korvala
