#include "platform/StreamCaptureBackend.h"

#include <atomic>

namespace {
std::atomic<HWAVEIN> g_nextHandle{0x1000};
}  // namespace

HWAVEIN NextCaptureHandle() {
  return g_nextHandle.fetch_add(1);
}

StreamCaptureBackend::~StreamCaptureBackend() {
  open_.clear();
  graveyard_.clear();
}

HWAVEIN StreamCaptureBackend::AddOpening(std::unique_ptr<CaptureSource> source,
                                         CaptureClient* client, TMMDeviceId id, bool threaded,
                                         bool openNotice, bool closeNotice) {
  auto o = std::make_unique<Opening>();
  o->client = client;
  o->id = id;
  o->closeNotice = closeNotice;
  const HWAVEIN h = NextCaptureHandle();
  o->stream = std::make_unique<CaptureStream>(h, client, std::move(source), threaded);
  {
    std::lock_guard<std::mutex> lk(m_);
    open_[h] = std::move(o);
    ++openCount_;
  }
  if (openNotice) client->CaptureNotify(h, CaptureNotice::Open, nullptr);
  return h;
}

StreamCaptureBackend::Opening* StreamCaptureBackend::Find(HWAVEIN handle) {
  std::lock_guard<std::mutex> lk(m_);
  auto it = open_.find(handle);
  return it == open_.end() ? nullptr : it->second.get();
}

CaptureStream* StreamCaptureBackend::StreamOf(HWAVEIN handle) {
  Opening* o = Find(handle);
  return o ? o->stream.get() : nullptr;
}

HWAVEIN StreamCaptureBackend::HandleOf(TMMDeviceId id) {
  std::lock_guard<std::mutex> lk(m_);
  for (auto& [h, o] : open_)
    if (o->id == id) return h;
  return 0;
}

bool StreamCaptureBackend::DeviceOf(HWAVEIN handle, TMMDeviceId& id) {
  Opening* o = Find(handle);
  if (o) id = o->id;
  return o != nullptr;
}

int StreamCaptureBackend::OpenCount() {
  std::lock_guard<std::mutex> lk(m_);
  return openCount_;
}

MMRESULT StreamCaptureBackend::PrepareHeader(HWAVEIN handle, WAVEHDR* hdr) {
  Opening* o = Find(handle);
  if (!o) return MMSYSERR_INVALHANDLE;
  if (!hdr) return MMSYSERR_INVALPARAM;
  if (const MMRESULT r = Refusal(o->id, Operation::Prepare); r != MMSYSERR_NOERROR) return r;
  hdr->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT StreamCaptureBackend::UnprepareHeader(HWAVEIN handle, WAVEHDR* hdr) {
  if (!Find(handle)) return MMSYSERR_INVALHANDLE;
  if (!hdr) return MMSYSERR_INVALPARAM;
  if (!(hdr->dwFlags & WHDR_DONE) && (hdr->dwFlags & WHDR_PREPARED)) return WAVERR_STILLPLAYING;
  hdr->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT StreamCaptureBackend::AddBuffer(HWAVEIN handle, WAVEHDR* hdr) {
  Opening* o = Find(handle);
  if (!o) return MMSYSERR_INVALHANDLE;
  if (const MMRESULT r = Refusal(o->id, Operation::AddBuffer); r != MMSYSERR_NOERROR) return r;
  return o->stream->AddBuffer(hdr);
}

MMRESULT StreamCaptureBackend::Start(HWAVEIN handle) {
  Opening* o = Find(handle);
  if (!o) return MMSYSERR_INVALHANDLE;
  if (const MMRESULT r = Refusal(o->id, Operation::Start); r != MMSYSERR_NOERROR) return r;
  return o->stream->Start();
}

MMRESULT StreamCaptureBackend::Stop(HWAVEIN handle) {
  Opening* o = Find(handle);
  if (!o) return MMSYSERR_INVALHANDLE;
  if (const MMRESULT r = Refusal(o->id, Operation::Stop); r != MMSYSERR_NOERROR) return r;
  return o->stream->Stop();
}

MMRESULT StreamCaptureBackend::Reset(HWAVEIN handle) {
  Opening* o = Find(handle);
  if (!o) return MMSYSERR_INVALHANDLE;
  return o->stream->Reset();
}

MMRESULT StreamCaptureBackend::Close(HWAVEIN handle) {
  Opening* o = Find(handle);
  if (!o) return MMSYSERR_INVALHANDLE;
  const MMRESULT r = o->stream->Close();
  if (r != MMSYSERR_NOERROR) return r;
  // The stream reads no more: the device goes now, even when the stream itself has to outlive
  // this call, so that it can be opened again at once.
  Released(o->stream->Source());
  std::unique_ptr<Opening> gone;
  {
    std::lock_guard<std::mutex> lk(m_);
    auto it = open_.find(handle);
    if (it == open_.end()) return MMSYSERR_INVALHANDLE;  // closed meanwhile elsewhere
    gone = std::move(it->second);
    open_.erase(it);
    if (gone->stream->OnOwnThread()) graveyard_.push_back(std::move(gone->stream));
  }
  gone->stream.reset();
  // The close notice follows the stream's last Data notice.
  if (gone->closeNotice) gone->client->CaptureNotify(handle, CaptureNotice::Close, nullptr);
  return MMSYSERR_NOERROR;
}
