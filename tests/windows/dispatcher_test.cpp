// Our Windows dispatcher under Wine, with the software runtime copied beside this program: the
// runtime opens from the program's folder whatever the current directory, calls reach it, and
// without it (and without a hardware runtime, as under Wine) no session opens.
#include <windows.h>

#include <gtest/gtest.h>
#include <mfxvideo.h>

#include <string>

namespace {

std::string BesideProgram(const char* name) {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, n);
  return folder.substr(0, folder.find_last_of('\\') + 1) + name;
}

mfxStatus Open(mfxIMPL impl, mfxSession* session, mfxU16 minor = 3) {
  mfxVersion version{};
  version.Major = 1;
  version.Minor = minor;
  return MFXInit(impl, &version, session);
}

TEST(Dispatcher, SoftwareSessionsOpenInTheRuntimeBesideTheProgram) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  ASSERT_TRUE(SetCurrentDirectoryA(temp));  // not the program's folder

  for (mfxIMPL impl : {MFX_IMPL_SOFTWARE, MFX_IMPL_AUTO, MFX_IMPL_AUTO_ANY}) {
    mfxSession session = nullptr;
    ASSERT_EQ(Open(impl, &session), MFX_ERR_NONE) << impl;
    mfxIMPL opened = 0;
    EXPECT_EQ(MFXQueryIMPL(session, &opened), MFX_ERR_NONE);
    EXPECT_EQ(opened, MFX_IMPL_SOFTWARE);
    mfxVersion version{};
    EXPECT_EQ(MFXQueryVersion(session, &version), MFX_ERR_NONE);
    EXPECT_EQ(version.Major, 1);
    EXPECT_EQ(version.Minor, 35);
    // An argument error is the runtime's answer, passed back unchanged.
    EXPECT_EQ(MFXVideoDECODE_DecodeHeader(session, nullptr, nullptr), MFX_ERR_NULL_PTR);
    EXPECT_EQ(MFXClose(session), MFX_ERR_NONE);
    EXPECT_EQ(MFXClose(session), MFX_ERR_INVALID_HANDLE);
    EXPECT_EQ(MFXQueryIMPL(session, &opened), MFX_ERR_INVALID_HANDLE);
  }
}

TEST(Dispatcher, RequestsNoRuntimeServesOpenNoSession) {
  mfxSession session = reinterpret_cast<mfxSession>(1);
  // No libmfxhw64.dll on Wine's search path.
  EXPECT_EQ(Open(MFX_IMPL_HARDWARE_ANY, &session), MFX_ERR_UNSUPPORTED);
  EXPECT_EQ(session, nullptr);
  // Newer than the runtime's API 1.35.
  EXPECT_EQ(Open(MFX_IMPL_SOFTWARE, &session, 99), MFX_ERR_UNSUPPORTED);
  EXPECT_EQ(session, nullptr);
  EXPECT_EQ(Open(MFX_IMPL_SOFTWARE, nullptr), MFX_ERR_NULL_PTR);

  // Without the software runtime beside the program.
  const std::string runtime = BesideProgram("libmfxsw64.dll");
  const std::string aside = runtime + ".aside";
  ASSERT_TRUE(MoveFileA(runtime.c_str(), aside.c_str()));
  const mfxStatus status = Open(MFX_IMPL_AUTO_ANY, &session);
  MoveFileA(aside.c_str(), runtime.c_str());
  EXPECT_EQ(status, MFX_ERR_UNSUPPORTED);
  EXPECT_EQ(session, nullptr);
}

}  // namespace
