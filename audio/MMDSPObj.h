#pragma once
// The chain of processing stages: the buffer that travels down a chain, the stage base class
// with its link, format, notification and delivery protocol, and the device-stage base class
// that spreads state changes along its chain.

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "audio/MMFormat.h"
#include "platform/Component.h"

// A header followed by the chain's extension; the data area follows directly behind.
struct TMMChainBuffer : WAVEHDR {
  TMMChainBuffer* SyncBuffer;  // companion buffer a stage may read instead; empty in the recorder
  uint32_t ExtReserved[4];
};

class EMMError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using TNotifyEvent = std::function<void(TComponent* Sender)>;
using TMMBufferEvent = std::function<void(TComponent* Sender, PWaveHdr lpWaveHdr)>;

class TMMComponent : public TComponent {
 public:
  using TComponent::TComponent;
};

class TMMNonVisualComponent : public TMMComponent {
 public:
  using TMMComponent::TMMComponent;
};

class TMMCustomDSPComponent : public TMMNonVisualComponent {
 public:
  using TMMNonVisualComponent::TMMNonVisualComponent;
};

class TMMDSPComponent;

// Route by which a device stage handles the buffers its device returns.
enum TMMCBMode { cmWindow, cmCallback, cmThread };

// Every live stage of the process, in creation order.
std::vector<TMMDSPComponent*>& DSPComponentList();
// True while at least one stage lives (the list exists only then).
bool DSPComponentListExists();

// The contract of a stage, for every stage of this system:
// - Opened and Started may allocate (buffers, streams, files): they run when a chain opens
//   or starts, on the user-interface thread.
// - BufferReady never allocates, never blocks on another thread and never waits for a disk
//   flush: it runs for every buffer of every station, on the thread that carries all their
//   audio. It works in place on the buffer and passes it on.
// - Stopped flushes what the stage holds; Closed releases it. Both may be called on a stage
//   that is already stopped or closed, and then do nothing.
// tests/test_no_alloc.cpp holds the recorder's whole chain to the BufferReady rule.
class TMMDSPComponent : public TMMCustomDSPComponent {
 public:
  explicit TMMDSPComponent(TComponent* owner = nullptr);
  ~TMMDSPComponent() override;

  // Published link properties; a class publishes only the ones its position in a chain needs.
  virtual bool PublishesInput() const { return true; }
  virtual bool PublishesOutput() const { return true; }
  // Looks a published link property up by name; false when there is none of that name.
  bool FindLinkProperty(const std::string& name, TMMDSPComponent*& value) const;

  virtual void UpdateFormat();
  virtual void CheckPeerLink(TMMDSPComponent* Peer, bool OutputSide, const std::string& LinkName);
  virtual void SetInput(TMMDSPComponent* V);
  virtual TMMDSPComponent* GetInput() const { return input_; }
  virtual void SetOutput(TMMDSPComponent* V);
  virtual TMMDSPComponent* GetOutput() const { return output_; }
  virtual void SetWaveFormat(const WAVEFORMATEX* Format);
  virtual const WAVEFORMATEX* GetWaveFormat() const { return waveFormat_; }
  virtual int32_t GetBufferSize() const;
  virtual void SetBufferSize(int32_t value);
  virtual void ReceiveFormat(const WAVEFORMATEX* Format);
  virtual void Opened();
  virtual void Closed();
  virtual void Started();
  virtual void Paused();
  virtual void Restarted();
  virtual void Stopped();
  virtual void Reset();
  virtual void BufferReady(PWaveHdr Buffer);
  virtual void BufferLoad(PWaveHdr Buffer, bool& More);
  virtual void AttachInput(TMMDSPComponent* Peer, const std::string& LinkName);
  virtual void AttachOutput(TMMDSPComponent* Peer, const std::string& LinkName);
  virtual bool CanConnectInput(TComponent* Peer);
  virtual bool CanConnectOutput(TComponent* Peer);

  TMMDSPComponent* Input() const { return GetInput(); }
  TMMDSPComponent* Output() const { return GetOutput(); }
  const WAVEFORMATEX* WaveFormat() const { return GetWaveFormat(); }
  int32_t BufferSize() const { return GetBufferSize(); }
  int32_t RealBufferSize() const { return realBufferSize_; }
  bool IsOpened() const { return opened_; }
  bool IsStarted() const { return started_; }
  bool IsPaused() const { return paused_; }
  const std::string& InputLinkName() const { return inputLinkName_; }
  const std::string& OutputLinkName() const { return outputLinkName_; }

  virtual bool IsDeviceStage() const { return false; }

  TMMBufferEvent OnBufferReady;

 protected:
  void Loaded() override;
  void Notification(TComponent* component, TOperation op) override;

  // Direct access for derived stages.
  int32_t bufferSize_ = 2048;
  int32_t realBufferSize_ = 2048;
  bool opened_ = false;
  bool started_ = false;
  bool paused_ = false;

 private:
  TMMDSPComponent* input_ = nullptr;
  TMMDSPComponent* output_ = nullptr;
  WAVEFORMATEX* waveFormat_ = nullptr;
  std::string inputLinkName_;
  std::string outputLinkName_;
};

// A stage that drives its chain: it spreads its own state changes along the chain.
class TMMCustomSoundComponent : public TMMDSPComponent {
 public:
  using TMMDSPComponent::TMMDSPComponent;

  void Opened() override;
  void Closed() override;
  void Started() override;
  void Paused() override;
  void Restarted() override;
  void Stopped() override;
  void Reset() override;

  bool IsDeviceStage() const override { return true; }

  virtual void SetNumBuffers(int32_t value) = 0;
  virtual int32_t GetNumBuffers() const = 0;
  virtual void SetDeviceID(int32_t value) = 0;
  virtual int32_t GetDeviceID() const = 0;
  virtual void SetProductName(const std::string& value) = 0;
  virtual std::string GetProductName() const = 0;
  virtual void SetCallBackMode(TMMCBMode value) = 0;
  virtual TMMCBMode GetCallBackMode() const = 0;

 protected:
  // The stage's own notification behaviour, run after the chain has been told.
  void DefaultOpened() { TMMDSPComponent::Opened(); }
  void DefaultClosed() { TMMDSPComponent::Closed(); }
  void DefaultStarted() { TMMDSPComponent::Started(); }
  void DefaultPaused() { TMMDSPComponent::Paused(); }
  void DefaultRestarted() { TMMDSPComponent::Restarted(); }
  void DefaultStopped() { TMMDSPComponent::Stopped(); }
  void DefaultReset() { TMMDSPComponent::Reset(); }

 private:
  TMMDSPComponent* SegmentStart();
  // Walks from the segment start down the chain, skipping this stage; `toOther` is applied to
  // the first other device stage met, which ends the walk.
  template <typename Fn, typename FnOther>
  void WalkChain(Fn each, FnOther toOther);
};
