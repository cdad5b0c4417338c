// The settings text of KORVALA_TEST_RUNTIME: parsed in-process through PlaySettings, and read
// by the runtime at load in a child process that finds it through LD_LIBRARY_PATH.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mfxvideo.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "test_runtime_control.h"

extern char** environ;

namespace {

mfxStatus Init(mfxIMPL impl, mfxU16 minor, mfxIMPL* got = nullptr) {
  mfxVersion v{};
  v.Major = 1;
  v.Minor = minor;
  mfxSession s = nullptr;
  mfxStatus st = MFXInit(impl, &v, &s);
  if (st == MFX_ERR_NONE) {
    if (got) MFXQueryIMPL(s, got);
    MFXClose(s);
  }
  return st;
}

TEST(EnvironmentSettings, DescribeKindsVersionsAdapterAndVia) {
  mfxtest::Control& rt = mfxtest::Load();
  std::string error;
  ASSERT_TRUE(rt.PlaySettings("hw=22;sw=none;adapter=4;via=d3d11", &error)) << error;
  EXPECT_EQ(Init(MFX_IMPL_SOFTWARE, 0), MFX_ERR_UNSUPPORTED);
  EXPECT_EQ(Init(MFX_IMPL_HARDWARE_ANY, 0), MFX_ERR_UNSUPPORTED);
  mfxIMPL got = 0;
  EXPECT_EQ(Init(MFX_IMPL_HARDWARE_ANY | MFX_IMPL_VIA_D3D11, 22, &got), MFX_ERR_NONE);
  EXPECT_EQ(got, static_cast<mfxIMPL>(MFX_IMPL_HARDWARE4 | MFX_IMPL_VIA_D3D11));
  EXPECT_EQ(Init(MFX_IMPL_HARDWARE_ANY | MFX_IMPL_VIA_D3D11, 23), MFX_ERR_UNSUPPORTED);

  ASSERT_TRUE(rt.PlaySettings("sw=3;;via=any;", &error)) << error;
  EXPECT_EQ(Init(MFX_IMPL_SOFTWARE, 3), MFX_ERR_NONE);
  EXPECT_EQ(Init(MFX_IMPL_HARDWARE_ANY, 0), MFX_ERR_UNSUPPORTED);

  ASSERT_TRUE(rt.PlaySettings("", &error));
  EXPECT_EQ(Init(MFX_IMPL_SOFTWARE, 0), MFX_ERR_UNSUPPORTED) << "empty text: no runtime";
}

TEST(EnvironmentSettings, MalformedTextIsRefusedAndLeavesTheProgram) {
  mfxtest::Control& rt = mfxtest::Load();
  std::string error;
  ASSERT_TRUE(rt.PlaySettings("sw=20", &error));
  for (const char* bad : {"hw", "hw=", "hw=abc", "hw=-1", "hw=70000", "adapter=0", "adapter=5", "via=dx9",
                          "decquery=1x", "foo=1", "sw=20;encquery="}) {
    error.clear();
    EXPECT_FALSE(rt.PlaySettings(bad, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  EXPECT_EQ(Init(MFX_IMPL_SOFTWARE, 20), MFX_ERR_NONE);
}

// Runs `program args...` with the test runtime's environment for `settings`; its stdout.
std::string RunChild(const std::string& settings, const std::vector<std::string>& args) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    bool ours = false;
    for (const char* name : {"LD_LIBRARY_PATH=", "KORVALA_TEST_RUNTIME=", "INTEL_MEDIA_RUNTIME="})
      ours = ours || entry.rfind(name, 0) == 0;
    if (!ours) env.push_back(entry);
  }
  for (const auto& e : mfxtest::ChildEnvironment(settings)) env.push_back(e);
  std::vector<char*> envp, argv;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string program = KORVALA_ENV_PROBE;
  argv.push_back(program.data());
  std::vector<std::string> argsCopy = args;
  for (auto& a : argsCopy) argv.push_back(a.data());
  argv.push_back(nullptr);

  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  std::string out;
  if (rc == 0) {
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) out += "child failed\n";
  } else {
    out = std::string("spawn failed: ") + std::strerror(rc);
  }
  close(fds[0]);
  return out;
}

struct Attempt {
  unsigned long impl;
  int minor;
  int status;
  unsigned long got;
  int dec, enc;
};

std::vector<Attempt> Parse(const std::string& text) {
  std::vector<Attempt> rows;
  std::istringstream in(text);
  std::string implText, gotText;
  Attempt a{};
  while (in >> implText >> a.minor >> a.status >> gotText >> a.dec >> a.enc) {
    a.impl = std::strtoul(implText.c_str(), nullptr, 0);
    a.got = std::strtoul(gotText.c_str(), nullptr, 0);
    rows.push_back(a);
  }
  return rows;
}

TEST(EnvironmentSettings, ChildProcessPlaysTheVariableReadAtLoad) {
  const std::string out = RunChild("hw=none;sw=25;decquery=0;encquery=-3", {"0", "25", "26"});
  auto rows = Parse(out);
  ASSERT_EQ(rows.size(), 9u) << out;
  for (const Attempt& a : rows) {
    const bool software = a.impl == MFX_IMPL_SOFTWARE;
    const bool opens = software && a.minor <= 25;
    EXPECT_EQ(a.status, opens ? MFX_ERR_NONE : MFX_ERR_UNSUPPORTED) << out;
    if (opens) {
      EXPECT_EQ(a.got, static_cast<unsigned long>(MFX_IMPL_SOFTWARE));
      EXPECT_EQ(a.dec, MFX_ERR_NONE);
      EXPECT_EQ(a.enc, MFX_ERR_UNSUPPORTED);
    }
  }
}

TEST(EnvironmentSettings, ChildProcessHardwareOnASecondAdapterThroughD3D11) {
  const std::string out = RunChild("hw=19;adapter=2;via=d3d11;decquery=2", {"19"});
  auto rows = Parse(out);
  ASSERT_EQ(rows.size(), 3u) << out;
  EXPECT_EQ(rows[0].status, MFX_ERR_UNSUPPORTED);  // default acceleration
  EXPECT_EQ(rows[1].status, MFX_ERR_NONE);         // via D3D11
  EXPECT_EQ(rows[1].got, static_cast<unsigned long>(MFX_IMPL_HARDWARE2 | MFX_IMPL_VIA_D3D11));
  EXPECT_EQ(rows[1].dec, MFX_WRN_DEVICE_BUSY);
  EXPECT_EQ(rows[1].enc, MFX_ERR_NONE);
  EXPECT_EQ(rows[2].status, MFX_ERR_UNSUPPORTED);  // no software runtime
}

TEST(EnvironmentSettings, ChildWithoutTheVariableOrWithBadTextHasNoRuntime) {
  for (const char* settings : {"", "sw=banana"}) {
    auto rows = Parse(RunChild(settings, {"0"}));
    ASSERT_EQ(rows.size(), 3u) << settings;
    for (const Attempt& a : rows) EXPECT_EQ(a.status, MFX_ERR_UNSUPPORTED) << settings;
  }
}

}  // namespace
