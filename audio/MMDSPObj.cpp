#include "audio/MMDSPObj.h"

#include <algorithm>
#include <memory>

namespace {
std::unique_ptr<std::vector<TMMDSPComponent*>> g_dspList;

std::string CutLinkName(const std::string& name) {
  return name.substr(0, 20);
}
}  // namespace

std::vector<TMMDSPComponent*>& DSPComponentList() {
  if (!g_dspList) g_dspList = std::make_unique<std::vector<TMMDSPComponent*>>();
  return *g_dspList;
}

bool DSPComponentListExists() {
  return g_dspList != nullptr;
}

TMMDSPComponent::TMMDSPComponent(TComponent* owner) : TMMCustomDSPComponent(owner) {
  DSPComponentList().push_back(this);
}

TMMDSPComponent::~TMMDSPComponent() {
  Destroying();
  SetInput(nullptr);
  SetOutput(nullptr);
  SetWaveFormat(nullptr);
  auto& list = DSPComponentList();
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  if (list.empty()) g_dspList.reset();
}

bool TMMDSPComponent::FindLinkProperty(const std::string& name, TMMDSPComponent*& value) const {
  if (name == "Input" && PublishesInput()) {
    value = GetInput();
    return true;
  }
  if (name == "Output" && PublishesOutput()) {
    value = GetOutput();
    return true;
  }
  value = nullptr;
  return false;
}

void TMMDSPComponent::Loaded() {
  TMMCustomDSPComponent::Loaded();
  // The first push after loading: pushes the held format to the output.
  SetWaveFormat(waveFormat_);
}

void TMMDSPComponent::Notification(TComponent* component, TOperation op) {
  TMMCustomDSPComponent::Notification(component, op);
  if (op != TOperation::opRemove || !component) return;
  if (component == input_) SetInput(nullptr);
  if (component == output_) SetOutput(nullptr);
}

// Linking --------------------------------------------------------------------------------

void TMMDSPComponent::SetInput(TMMDSPComponent* V) {
  if (V == input_) return;
  if (V && !CanConnectInput(V)) return;
  Stopped();
  if (input_) {
    // Snapshot: a CheckPeerLink may not add or remove stages, but be safe against reentry.
    const std::vector<TMMDSPComponent*> stages = DSPComponentList();
    for (TMMDSPComponent* s : stages) s->CheckPeerLink(this, false, "Input");
    AttachInput(nullptr, "");
    ReceiveFormat(nullptr);
  }
  if (!V) return;
  const std::vector<TMMDSPComponent*> stages = DSPComponentList();
  for (TMMDSPComponent* s : stages) s->CheckPeerLink(V, true, "Output");
  AttachInput(V, "Output");
  V->AttachOutput(this, "Input");
  UpdateFormat();
}

void TMMDSPComponent::SetOutput(TMMDSPComponent* V) {
  if (V == output_) return;
  if (V && !CanConnectOutput(V)) return;
  Stopped();
  if (output_) {
    const std::vector<TMMDSPComponent*> stages = DSPComponentList();
    for (TMMDSPComponent* s : stages) s->CheckPeerLink(this, true, "Output");
    if (output_) output_->ReceiveFormat(nullptr);
    AttachOutput(nullptr, "");
  }
  if (!V) return;
  const std::vector<TMMDSPComponent*> stages = DSPComponentList();
  for (TMMDSPComponent* s : stages) s->CheckPeerLink(V, false, "Input");
  AttachOutput(V, "Input");
  V->AttachInput(this, "Output");
  UpdateFormat();
}

void TMMDSPComponent::CheckPeerLink(TMMDSPComponent* Peer, bool OutputSide,
                                    const std::string& LinkName) {
  TMMDSPComponent* target = nullptr;
  if (OutputSide) {
    if (input_ == Peer && inputLinkName_ == LinkName && Peer->FindLinkProperty(LinkName, target) &&
        target == this)
      AttachInput(nullptr, "");
  } else {
    if (output_ == Peer && outputLinkName_ == LinkName &&
        Peer->FindLinkProperty(LinkName, target) && target == this)
      AttachOutput(nullptr, "");
  }
}

void TMMDSPComponent::AttachInput(TMMDSPComponent* Peer, const std::string& LinkName) {
  if (input_ && input_ != Peer) RemoveFreeNotification(input_);
  input_ = Peer;
  inputLinkName_ = CutLinkName(LinkName);
  if (Peer) FreeNotification(Peer);
}

void TMMDSPComponent::AttachOutput(TMMDSPComponent* Peer, const std::string& LinkName) {
  if (output_ && output_ != Peer) RemoveFreeNotification(output_);
  output_ = Peer;
  outputLinkName_ = CutLinkName(LinkName);
  if (Peer) FreeNotification(Peer);
}

bool TMMDSPComponent::CanConnectInput(TComponent* Peer) {
  auto* v = dynamic_cast<TMMDSPComponent*>(Peer);
  if (!v || v == this || !v->PublishesOutput()) return false;
  if (!output_) return true;
  return output_->CanConnectInput(v);
}

bool TMMDSPComponent::CanConnectOutput(TComponent* Peer) {
  auto* v = dynamic_cast<TMMDSPComponent*>(Peer);
  if (!v || v == this || !v->PublishesInput()) return false;
  if (!input_) return true;
  return input_->CanConnectOutput(v);
}

// Format propagation ----------------------------------------------------------------------

void TMMDSPComponent::SetWaveFormat(const WAVEFORMATEX* Format) {
  if (Format != waveFormat_) {
    if (started_) Stopped();
    WAVEFORMATEX* copy = CopyWaveFormat(Format);
    FreeWaveFormat(waveFormat_);
    waveFormat_ = copy;
  }
  if (!IsLoading() && !IsDestroying() && output_) output_->ReceiveFormat(waveFormat_);
}

void TMMDSPComponent::ReceiveFormat(const WAVEFORMATEX* Format) {
  SetWaveFormat(Format);
}

void TMMDSPComponent::UpdateFormat() {
  if (IsLoading() || IsDestroying()) return;
  if (input_)
    ReceiveFormat(input_->GetWaveFormat());
  else if (output_)
    output_->ReceiveFormat(waveFormat_);
}

// Block size and notifications -------------------------------------------------------------

int32_t TMMDSPComponent::GetBufferSize() const {
  return opened_ ? realBufferSize_ : bufferSize_;
}

void TMMDSPComponent::SetBufferSize(int32_t value) {
  if (value == bufferSize_) return;
  if (started_) Stopped();
  bufferSize_ = value;
}

void TMMDSPComponent::Opened() {
  if (opened_) return;
  if (waveFormat_ && waveFormat_->nBlockAlign > 0) {
    const int32_t align = waveFormat_->nBlockAlign;
    realBufferSize_ = std::max(bufferSize_ - (bufferSize_ % align), align);
  } else {
    realBufferSize_ = bufferSize_;
  }
  opened_ = true;
  started_ = false;
  paused_ = false;
}

void TMMDSPComponent::Closed() {
  opened_ = false;
}

void TMMDSPComponent::Started() {
  if (opened_ && !started_) started_ = true;
}

void TMMDSPComponent::Paused() {
  paused_ = true;
}

void TMMDSPComponent::Restarted() {
  paused_ = false;
}

void TMMDSPComponent::Stopped() {
  if (started_) {
    started_ = false;
    paused_ = false;
  }
}

void TMMDSPComponent::Reset() {}

// Delivery ----------------------------------------------------------------------------------

void TMMDSPComponent::BufferReady(PWaveHdr Buffer) {
  if (OnBufferReady) OnBufferReady(this, Buffer);
  if (output_) output_->BufferReady(Buffer);
}

void TMMDSPComponent::BufferLoad(PWaveHdr Buffer, bool& More) {
  if (input_) input_->BufferLoad(Buffer, More);
}

// Device stage ------------------------------------------------------------------------------

TMMDSPComponent* TMMCustomSoundComponent::SegmentStart() {
  TMMDSPComponent* top = this;
  for (TMMDSPComponent* s = GetInput(); s; s = s->GetInput()) {
    if (s == this) break;  // a loop cannot be linked, but never spin
    if (s->IsDeviceStage()) return this;
    top = s;
  }
  return top;
}

template <typename Fn, typename FnOther>
void TMMCustomSoundComponent::WalkChain(Fn each, FnOther toOther) {
  for (TMMDSPComponent* s = SegmentStart(); s; s = s->GetOutput()) {
    if (s == this) continue;
    if (s->IsDeviceStage()) {
      toOther(s);
      return;
    }
    each(s);
  }
}

void TMMCustomSoundComponent::Opened() {
  auto open = [this](TMMDSPComponent* s) {
    s->SetBufferSize(GetBufferSize());
    s->Opened();
  };
  WalkChain(open, open);
  DefaultOpened();
}

void TMMCustomSoundComponent::Started() {
  auto f = [](TMMDSPComponent* s) { s->Started(); };
  WalkChain(f, f);
  DefaultStarted();
}

void TMMCustomSoundComponent::Paused() {
  auto f = [](TMMDSPComponent* s) { s->Paused(); };
  WalkChain(f, f);
  DefaultPaused();
}

void TMMCustomSoundComponent::Restarted() {
  auto f = [](TMMDSPComponent* s) { s->Restarted(); };
  WalkChain(f, f);
  DefaultRestarted();
}

void TMMCustomSoundComponent::Reset() {
  auto f = [](TMMDSPComponent* s) { s->Reset(); };
  WalkChain(f, f);
  DefaultReset();
}

namespace {
// The next device stage below `from`, or none.
TMMDSPComponent* NextDeviceBelow(TMMDSPComponent* from) {
  for (TMMDSPComponent* s = from->GetOutput(); s && s != from; s = s->GetOutput())
    if (s->IsDeviceStage()) return s;
  return nullptr;
}
}  // namespace

void TMMCustomSoundComponent::Closed() {
  if (TMMDSPComponent* other = NextDeviceBelow(this)) other->Closed();
  WalkChain([](TMMDSPComponent* s) { s->Closed(); }, [](TMMDSPComponent*) {});
  DefaultClosed();
}

void TMMCustomSoundComponent::Stopped() {
  if (TMMDSPComponent* other = NextDeviceBelow(this)) other->Stopped();
  WalkChain([](TMMDSPComponent* s) { s->Stopped(); }, [](TMMDSPComponent*) {});
  DefaultStopped();
}
