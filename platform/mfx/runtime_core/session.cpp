#include "mfx_runtime.h"

#include <atomic>

namespace mfxrt {

namespace {
// Tokens count up from 1 for the whole process, so a sync point of one session is never
// mistaken for one of another.
std::atomic<std::uintptr_t> g_nextSync{1};
}  // namespace

mfxSyncPoint SyncPoints::Issue(mfxFrameSurface1* surface) {
  std::uintptr_t token = g_nextSync.fetch_add(1);
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (it->second == surface)
      it = pending_.erase(it);
    else
      ++it;
  }
  pending_[token] = surface;
  return reinterpret_cast<mfxSyncPoint>(token);
}

mfxFrameSurface1* SyncPoints::Find(mfxSyncPoint sync) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = pending_.find(reinterpret_cast<std::uintptr_t>(sync));
  return it == pending_.end() ? nullptr : it->second;
}

void SyncPoints::Retire(mfxSyncPoint sync) {
  std::lock_guard<std::mutex> lock(mutex_);
  pending_.erase(reinterpret_cast<std::uintptr_t>(sync));
}

void SyncPoints::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  pending_.clear();
}

void SyncPoints::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& entry : pending_)
    if (entry.second && entry.second->Data.Locked) --entry.second->Data.Locked;
  pending_.clear();
}

std::size_t SyncPoints::Pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pending_.size();
}

mfxStatus Backend::QueryIMPL(Session& s, mfxIMPL* impl) {
  *impl = s.impl;
  return MFX_ERR_NONE;
}

mfxStatus Backend::QueryVersion(Session& s, mfxVersion* version) {
  *version = s.version;
  return MFX_ERR_NONE;
}

}  // namespace mfxrt
