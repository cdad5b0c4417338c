#pragma once
// The plugin loaded into the host harness, with the scriptable runtime behind the real
// dispatcher, and the small streams the tests feed it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "avs_host.h"
#include "test_runtime_control.h"

namespace plugintest {

using Bytes = std::vector<uint8_t>;

inline void Append(Bytes& out, std::initializer_list<uint8_t> bytes) { out.insert(out.end(), bytes); }

// One NAL unit behind a four-byte start code, with a payload that holds no start code.
inline void Nal(Bytes& out, uint8_t header, uint32_t payload, uint8_t seed) {
  Append(out, {0, 0, 0, 1, header});
  for (uint32_t i = 0; i < payload; ++i) out.push_back(static_cast<uint8_t>(0x40 | ((seed + i) & 0x3F)));
}

// Base view: units opened by an access unit delimiter, each with a slice.
inline Bytes BaseView(int units, uint32_t payload = 40) {
  Bytes out;
  for (int u = 0; u < units; ++u) {
    Append(out, {0, 0, 0, 1, 0x09, 0xF0});
    Nal(out, u == 0 ? 0x65 : 0x41, payload, static_cast<uint8_t>(u));
  }
  return out;
}

// Dependent view: units opened by a type-24 unit, each with a slice extension (type 20).
inline Bytes DependentView(int units, uint32_t payload = 40) {
  Bytes out;
  for (int u = 0; u < units; ++u) {
    Append(out, {0, 0, 0, 1, 0x18, 0x40, 0x40, 0x43});
    Nal(out, 0x74, payload, static_cast<uint8_t>(u + 7));
  }
  return out;
}

class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime_ = &mfxtest::Load();
    dir_ = std::filesystem::path(KORVALA_BINARY_DIR) / "tests" / "plugin" / "scratch" /
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    cwd_ = std::filesystem::current_path();
    ASSERT_EQ(host_.LoadPlugin(KORVALA_PLUGIN_PATH), "Korvala plugin");
  }
  void TearDown() override { std::filesystem::current_path(cwd_); }

  std::string File(const std::string& name, const Bytes& bytes) {
    std::filesystem::path p = dir_ / name;
    std::filesystem::create_directories(p.parent_path());
    std::FILE* f = std::fopen(p.c_str(), "wb");
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return p.string();
  }

  // A runtime whose software kind opens at 1.3 and decodes the real input unit by unit.
  static mfxtest::Program Software(const mfxFrameInfo& info) {
    mfxtest::Program p;
    p.software = mfxtest::RuntimeKind::Opening(19);
    for (mfxU32 codec : {MFX_CODEC_AVC, MFX_CODEC_HEVC}) p.headers[codec] = mfxtest::HeaderAnswer::Found(info);
    return p;
  }

  avshost::Clip Korvala(const std::vector<avshost::Value>& args) { return host_.Invoke("Korvala", args); }

  std::string ErrorOf(const std::vector<avshost::Value>& args) {
    try {
      Korvala(args);
    } catch (const avshost::ScriptError& e) {
      return e.what();
    }
    return "(no error)";
  }

  std::vector<mfxtest::Call> CallsOf(const std::string& function) const {
    std::vector<mfxtest::Call> out;
    for (const mfxtest::Call& c : runtime_->Calls())
      if (c.function == function) out.push_back(c);
    return out;
  }

  mfxtest::Control* runtime_ = nullptr;
  avshost::Host host_;
  std::filesystem::path dir_;
  std::filesystem::path cwd_;
};

}  // namespace plugintest
