// The stereo streams in ../shared/media/mvc with the reference decoder's MD5 of each view
// (../shared/media/mvc/README.md), the container forms of a set in ../shared/media/containers,
// and a frame's visible bytes. Every front end's tests use these; the Windows tests read the two
// tables too (tests/windows/avisynth_c_entry.cmake): one entry a line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "avs_host.h"
#include "media.h"

namespace swrt_test {

struct Stream {
  const char* name;
  int frames;  // per view
  const char* base;
  const char* dependent;
};

inline const Stream kStreams[] = {
    {"mvc_ipp_cavlc", 24, "8f7cba22d01cbfb4e04426b75915f7ba", "aa19893eafff58e34b9118e0ab52c709"},
    {"mvc_ibbp_cabac", 24, "d18884fae6452e03797ba4da919e9e87", "d0a0fa2a09744858aa687fec8d02f9eb"},
    {"mvc_hierb_spatial", 25, "64715dcd7a616c96fdbab1cf72a9c6be", "1774738febfff4734abd8f9a5faa085b"},
    {"mvc_field", 16, "0067af09904da49256cd6e3d7cfa40f2", "2e52049aa22b729561e919219a8620ac"},
    {"mvc_idr_periodic", 24, "686549ef67e93292ac0d33c37f5570d8", "6d6d4dda6e92281a3e1d955f178c9e57"},
    {"mvc_1080p", 48, "d8169ec55d4064fb2648078592b82909", "926af376de5ab104add71876e640888f"},
};

// A set's container forms in ../shared/media/containers/SET, as Korvala's first two arguments
// ("SET" stands for the set's name). The MKV holds a copy of the first unit at its end.
struct ContainerForm {
  const char* name;
  const char* avc;
  const char* mvc;
  int extraUnits;
};

inline const ContainerForm kContainerForms[] = {
    {"m2ts", "SET.m2ts", "", 0},
    {"clips", "BDMV/STREAM/00000.m2ts", "BDMV/STREAM/00001.m2ts", 0},
    {"ssif", "BDMV/STREAM/SSIF/00000.ssif", "", 0},
    {"mpls", "BDMV/PLAYLIST/00000.mpls", "", 0},
    {"mkv", "SET.mkv", "", 1},
};

// The container forms of a shared set, as Korvala's first two arguments.
struct Form {
  const char* name;
  std::string avc, mvc;
  int extraUnits;
};

inline std::vector<Form> FormsOf(const std::string& set) {
  const std::string dir = SharedMedia("containers/" + set);
  if (dir.empty()) return {};
  auto path = [&](std::string name) {
    if (name.empty()) return name;
    if (const size_t at = name.find("SET"); at != std::string::npos) name.replace(at, 3, set);
    return dir + "/" + name;
  };
  std::vector<Form> forms;
  for (const ContainerForm& f : kContainerForms) forms.push_back({f.name, path(f.avc), path(f.mvc), f.extraUnits});
  return forms;
}

inline void AppendFrame(const avshost::Frame& frame, std::vector<std::uint8_t>& out) {
  for (int plane : {PLANAR_Y, PLANAR_U, PLANAR_V}) {
    const avshost::PlaneView v = frame.Plane(plane);
    for (int y = 0; y < v.height; ++y) {
      const std::uint8_t* row = v.ptr + static_cast<std::ptrdiff_t>(y) * v.pitch;
      out.insert(out.end(), row, row + v.rowSize);
    }
  }
}

}  // namespace swrt_test
