#pragma once
// The display connector: a pass-through stage that keeps a copy of the latest buffer and
// hands it, block by block and paced by real time, to the displays attached to it. The copy
// is taken on the delivering thread; the displays are fed on the user-interface thread by a
// message loop that posts itself again.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/MMDSPObj.h"
#include "audio/SharedTimer.h"

class EMMConnectorError : public EMMError {
 public:
  using EMMError::EMMError;
};

class EOutOfResources : public EMMError {
 public:
  using EMMError::EMMError;
};

enum TMMTriggerMode { tmNone, tmUpFlank, tmDownFlank };

// What the connector requires of every display. A display is a model: it does all the
// arithmetic and keeps plain state; a widget paints it.
//
// Ownership: the window owns its displays and its connectors. A connector only refers to
// the displays in its slots: destroying a display clears every slot that holds it, and
// destroying a connector leaves its displays as they are.
class TMMDisplay : public TComponent {
 public:
  using TComponent::TComponent;
  // May raise for a format the display cannot show.
  virtual void SetPCMFormat(const WAVEFORMATEX* format) = 0;
  virtual int32_t BlockBytes() const = 0;
  virtual void ProcessPCMBlock(const void* data) = 0;
  virtual void ResetDisplay() = 0;

  // Whether the display is on screen; the widget showing it says so. Blocks for a display
  // nobody sees are not handed over. Read from any thread.
  bool Visible() const { return visible_; }
  virtual void SetVisible(bool value) { visible_ = value; }

  // The widget's request for a new picture; called on the user-interface thread only.
  std::function<void()> OnRepaint;
  // Pictures asked for so far.
  uint64_t RepaintCount() const { return repaints_; }

 protected:
  void Repaint() {
    ++repaints_;
    if (OnRepaint) OnRepaint();
  }

 private:
  std::atomic<bool> visible_{true};
  uint64_t repaints_ = 0;
};

// The oscilloscope also tells how far it moves per block when it scrolls.
class TMMOscopeDisplay : public TMMDisplay {
 public:
  using TMMDisplay::TMMDisplay;
  virtual bool Scroll() const = 0;
  virtual bool Accelerate() const = 0;
  virtual int32_t FFTLength() const = 0;
  virtual TMMBits BitLength() const = 0;
  virtual TMMMode Mode() const = 0;
};

// Slots in the order the connector serves them.
enum TMMDisplaySlot {
  slLevel1,
  slLevel2,
  slMeter1,
  slMeter2,
  slOscope1,
  slOscope2,
  slSpectrum1,
  slSpectrum2,
  slSpectrum3,
  slSpectrum4,
  slSlotCount
};

// Microseconds of a monotonic clock; tests may put their own clock in its place (an empty
// function restores the real one).
int64_t NowMicroseconds();
void SetMicrosecondClock(std::function<int64_t()> clock);

// Byte offset of the second sample of the first pair that crosses the level, or -1.
int32_t TriggerSearch(const WAVEFORMATEX* format, const void* data, int32_t count, int32_t level,
                      TMMTriggerMode mode);

class TMMConnector : public TMMDSPComponent {
 public:
  // Shortest time between two rounds of the feeding loop: about a picture of the screen.
  static constexpr int64_t kRoundUs = 15000;

  // Private messages of the connectors' window.
  static constexpr uint32_t StartMessage = 45557;
  static constexpr uint32_t TriggerMessage = 45558;
  static constexpr uint32_t TickMessage = 45559;

  explicit TMMConnector(TComponent* owner = nullptr);
  ~TMMConnector() override;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  bool AutoConvert() const { return autoConvert_; }
  void SetAutoConvert(bool value) { autoConvert_ = value; }
  bool AutoTrigger() const { return autoTrigger_; }
  void SetAutoTrigger(bool value);
  bool Synchronize() const { return synchronize_; }
  void SetSynchronize(bool value) { synchronize_ = value; }
  int32_t Speed() const { return speed_; }
  void SetSpeed(int32_t value);
  TMMTriggerMode TriggerMode() const { return triggerMode_; }
  void SetTriggerMode(TMMTriggerMode value) { triggerMode_ = value; }
  int32_t TriggerLevel() const { return triggerLevel_; }
  void SetTriggerLevel(int32_t value) { triggerLevel_ = value; }
  bool RefreshOnStop() const { return refreshOnStop_; }
  void SetRefreshOnStop(bool value) { refreshOnStop_ = value; }
  bool RealTime() const { return realTime_; }
  void SetRealTime(bool value);
  // One value shared by every connector.
  bool EnterIdle() const;
  void SetEnterIdle(bool value);

  TMMDisplay* Slot(TMMDisplaySlot slot) const { return slots_[slot]; }
  void SetSlot(TMMDisplaySlot slot, TMMDisplay* display);
  TMMDisplay* Level1() const { return slots_[slLevel1]; }
  void SetLevel1(TMMDisplay* v) { SetSlot(slLevel1, v); }
  TMMDisplay* Level2() const { return slots_[slLevel2]; }
  void SetLevel2(TMMDisplay* v) { SetSlot(slLevel2, v); }
  TMMDisplay* Meter1() const { return slots_[slMeter1]; }
  void SetMeter1(TMMDisplay* v) { SetSlot(slMeter1, v); }
  TMMDisplay* Meter2() const { return slots_[slMeter2]; }
  void SetMeter2(TMMDisplay* v) { SetSlot(slMeter2, v); }
  TMMOscopeDisplay* Oscope1() const { return Scope(slOscope1); }
  void SetOscope1(TMMOscopeDisplay* v) { SetSlot(slOscope1, v); }
  TMMOscopeDisplay* Oscope2() const { return Scope(slOscope2); }
  void SetOscope2(TMMOscopeDisplay* v) { SetSlot(slOscope2, v); }
  TMMDisplay* Spectrum1() const { return slots_[slSpectrum1]; }
  void SetSpectrum1(TMMDisplay* v) { SetSlot(slSpectrum1, v); }
  TMMDisplay* Spectrum2() const { return slots_[slSpectrum2]; }
  void SetSpectrum2(TMMDisplay* v) { SetSlot(slSpectrum2, v); }
  TMMDisplay* Spectrum3() const { return slots_[slSpectrum3]; }
  void SetSpectrum3(TMMDisplay* v) { SetSlot(slSpectrum3, v); }
  TMMDisplay* Spectrum4() const { return slots_[slSpectrum4]; }
  void SetSpectrum4(TMMDisplay* v) { SetSlot(slSpectrum4, v); }

  TNotifyEvent OnTrigger;

  void SetWaveFormat(const WAVEFORMATEX* Format) override;
  void Started() override;
  void Paused() override;
  void Restarted() override;
  void Stopped() override;
  void Reset() override;
  void BufferReady(PWaveHdr Buffer) override;
  void BufferLoad(PWaveHdr Buffer, bool& More) override;

  virtual void TakeData(const void* Data, int32_t Count);
  virtual void Trigger();

  // Run-time state, for the status display and tests.
  bool Prepared() const { return prepared_; }
  bool Running() const { return running_; }
  bool Holding() const { return holding_; }
  int32_t DisplayBytes() const { return displayBytes_; }
  const WAVEFORMATEX& DisplayFormat() const { return displayFormat_; }
  uint8_t SilenceByte() const { return silenceByte_; }
  int32_t PendingTriggers() const { return pendingTriggers_; }

  // No display of any connector is shown (its window is hidden): the feeding loop rests
  // until this is set back. Process-wide.
  static void SetFeedingPaused(bool paused);
  static bool FeedingPaused();

  // Process-wide figures of the feeding loop.
  static int32_t AutoCount();
  static int32_t MaxSpeed();
  static bool IdleHandlerInstalled();

 protected:
  void Notification(TComponent* component, TOperation op) override;

 private:
  enum Group { gLevel, gMeter, gOscope, gSpectrum, gCount };
  struct Run;
  friend struct Run;

  TMMOscopeDisplay* Scope(TMMDisplaySlot s) const {
    return static_cast<TMMOscopeDisplay*>(slots_[s]);
  }
  bool HasShownDisplay(Group g) const;
  bool AnyShownDisplay() const;
  void GiveFormat();
  void FeedDisplays();
  void FeedGroup(Group g, int64_t sinceArrival);
  void FeedOscopes(int64_t sinceArrival);
  bool Due(int64_t sinceArrival, int32_t position) const;
  // Marks the new data pending for every group with a display; false when there is none.
  bool MarkAllPending();
  // When the next pending block, or the next queued buffer, comes due (NowMicroseconds), or
  // INT64_MAX with none.
  int64_t NextDue() const;
  // Whether buffers that come together are queued to be shown in turn: with real-time
  // feeding paced by Synchronize.
  bool Queueing() const;
  // Microseconds the shown data of `bytes` lasts.
  int64_t DurationUs(int32_t bytes) const;
  // Puts the next queued buffer on show when its time has come; with the lock held.
  void AdvanceQueue(int64_t now);
  char* QueueSlot(int index) { return store_.data() + static_cast<size_t>(index) * displaySize_; }
  // Puts one round of the feeding loop on its way, from any thread, unless one is queued.
  static void RequestTick();
  void ClearPending();
  void StopTimerClient();
  void StopRunning();
  void PostStart();
  void ResetDisplays();
  void FillSilence();
  void HandleStart();
  void HandleTrigger();
  static void HandleTick();
  static bool HandleMessage(uint32_t msg, uintptr_t wParam);
  static void RecomputeMaxSpeed();
  static void InstallIdleHandler();
  static void RemoveIdleHandler();

  bool enabled_ = true;
  bool autoConvert_ = true;
  bool autoTrigger_ = true;
  bool synchronize_ = true;
  int32_t speed_ = 5000;
  TMMTriggerMode triggerMode_ = tmNone;
  int32_t triggerLevel_ = 0;
  bool refreshOnStop_ = true;
  bool realTime_ = true;

  std::array<TMMDisplay*, slSlotCount> slots_{};

  std::atomic<bool> prepared_{false};
  std::atomic<bool> running_{false};
  bool counted_ = false;  // adds one to AutoCount
  std::atomic<bool> holding_{false};
  WAVEFORMATEX displayFormat_{};
  mutable std::mutex lock_;
  // The buffer being shown and, behind it, buffers that came together with it: the capture
  // hands over several buffers at once (a period of the sound device holds about four), and
  // each is shown in turn, at its own pace, instead of only the last. The shown one is
  // displayBuffer_, displayBytes_ and arrivalTime_; the queued ones start, one after another,
  // when the one before has had its time. Guarded by lock_.
  struct Queued {
    int32_t bytes = 0;
    int64_t arrival = 0;
  };
  static constexpr int kQueueLength = 8;
  std::vector<char> store_;  // kQueueLength buffers of displaySize_ bytes
  std::array<Queued, kQueueLength> queue_{};
  int head_ = 0;    // the shown buffer's place in store_
  int queued_ = 0;  // buffers waiting behind it
  char* displayBuffer_ = nullptr;
  int32_t displaySize_ = 0;
  int32_t displayBytes_ = 0;
  uint8_t silenceByte_ = 0;
  std::atomic<int64_t> arrivalTime_{0};
  std::atomic<int32_t> pendingTriggers_{0};
  std::array<std::atomic<bool>, gCount> pending_{};
  std::array<std::atomic<int32_t>, gCount> position_{};
  SharedTimerClient* timerClient_ = nullptr;
};
