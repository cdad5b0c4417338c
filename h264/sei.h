#pragma once
// Supplemental enhancement information: only what tells a decoder where it may start.
#include <cstddef>
#include <cstdint>

namespace h264 {

// The recovery point SEI among the messages of an SEI RBSP: true with its recovery_frame_cnt
// (how many frames, in frame_num, until the pictures are exact) when one is there and reads.
bool FindRecoveryPoint(const std::uint8_t* rbsp, std::size_t len, std::uint32_t& recoveryFrameCnt);

}  // namespace h264
