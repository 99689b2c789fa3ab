#include "displays/MMConect.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <vector>

#include "platform/MessageWindow.h"

namespace {

std::function<int64_t()>& ClockOverride() {
  static std::function<int64_t()> clock;
  return clock;
}

// Keeps the event loop from waiting for events while the displays are fed continuously.
class TIdleHandler {
 public:
  TIdleHandler() { timer_.start(0); }

 private:
  QTimer timer_;
};

// Shared by every connector of the process; touched only on the user-interface thread.
struct Shared {
  std::vector<TMMConnector*> list;
  MessageWindow* window = nullptr;
  // Times the tick of a loop that waits for its next block.
  QTimer* wake = nullptr;
  int32_t autoCount = 0;
  // One tick of the loop is queued or timed: the loop is alive, and a request adds nothing.
  // Set from any thread that brings data.
  std::atomic<bool> tickQueued{false};
  // No display is shown (the window hidden): the loop rests.
  std::atomic<bool> paused{false};
  int32_t maxSpeed = 1;
  bool enterIdle = false;
  std::unique_ptr<TIdleHandler> idle;
};

Shared& G() {
  static Shared shared;
  return shared;
}

bool OnGuiThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

bool Terminating() {
  return QCoreApplication::closingDown();
}

const TMMDisplaySlot kGroupSlots[][4] = {
    {slLevel1, slLevel2, slSlotCount, slSlotCount},
    {slMeter1, slMeter2, slSlotCount, slSlotCount},
    {slOscope1, slOscope2, slSlotCount, slSlotCount},
    {slSpectrum1, slSpectrum2, slSpectrum3, slSpectrum4},
};

}  // namespace

int64_t NowMicroseconds() {
  if (ClockOverride()) return ClockOverride()();
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void SetMicrosecondClock(std::function<int64_t()> clock) {
  ClockOverride() = std::move(clock);
}

int32_t TriggerSearch(const WAVEFORMATEX* format, const void* data, int32_t count, int32_t level,
                      TMMTriggerMode mode) {
  if (mode == tmNone || count <= 0 || !format || !data) return -1;
  if (mode == tmDownFlank) level = -level;
  const bool eight = format->wBitsPerSample == 8;
  const int32_t T = eight ? level * 127 / 100 + 128 : level * 327;
  const int32_t sampleBytes = eight ? 1 : 2;
  const int32_t channels = format->nChannels >= 2 ? 2 : 1;
  const int32_t frame = sampleBytes * channels;
  const auto* p = static_cast<const uint8_t*>(data);
  auto sample = [&](int32_t offset) -> int32_t {
    if (eight) return p[offset];
    int16_t s;
    std::memcpy(&s, p + offset, 2);
    return s;
  };
  auto crosses = [&](int32_t a, int32_t b) {
    return mode == tmUpFlank ? (a < T && T <= b) : (a > T && T >= b);
  };
  // Pairs of neighbouring frames, left samples first, then right ones.
  for (int32_t f = 0; f + 2 * frame <= count; f += frame) {
    for (int32_t c = 0; c < channels; ++c) {
      const int32_t a = f + c * sampleBytes;
      const int32_t b = a + frame;
      if (crosses(sample(a), sample(b))) return b;
    }
  }
  return -1;
}

// Construction and properties ------------------------------------------------------------------

TMMConnector::TMMConnector(TComponent* owner) : TMMDSPComponent(owner) {
  Shared& g = G();
  if (!g.window) {
    g.window =
        new MessageWindow([](const WindowMessage& m) { return HandleMessage(m.msg, m.wParam); });
    g.window->SetOneAtATime(true);
    g.wake = new QTimer(g.window);
    g.wake->setSingleShot(true);
    g.wake->setTimerType(Qt::PreciseTimer);
    QObject::connect(g.wake, &QTimer::timeout, [] {
      if (G().window) G().window->Post(TickMessage, 0, 0);
    });
  }
  g.list.push_back(this);
  RecomputeMaxSpeed();
}

TMMConnector::~TMMConnector() {
  Destroying();
  try {
    Stopped();
  } catch (...) {
    // A display failing its reset has no one to tell while the connector goes.
  }
  Shared& g = G();
  g.list.erase(std::remove(g.list.begin(), g.list.end(), this), g.list.end());
  if (g.window) {
    // Its own start and trigger messages name it; the tick loop belongs to the connectors
    // still running, and ends with the last one.
    const auto self = reinterpret_cast<uintptr_t>(this);
    const bool last = g.list.empty();
    g.window->Remove([self, last](const WindowMessage& m) {
      return last || ((m.msg == StartMessage || m.msg == TriggerMessage) && m.wParam == self);
    });
    if (last) {
      g.tickQueued = false;
      g.wake->stop();
      g.wake = nullptr;  // goes with the window
      // It may be handling a message further up this thread's stack.
      g.window->deleteLater();
      g.window = nullptr;
    }
  }
  RecomputeMaxSpeed();
  for (TMMDisplay* d : slots_)
    if (d) d->RemoveFreeNotification(this);
}

void TMMConnector::RequestTick() {
  Shared& g = G();
  if (g.paused || g.tickQueued.exchange(true)) return;
  if (!g.window || !g.window->Post(TickMessage, 0, 0)) g.tickQueued = false;
}

void TMMConnector::SetFeedingPaused(bool paused) {
  G().paused = paused;
  if (!paused) RequestTick();
}

bool TMMConnector::FeedingPaused() {
  return G().paused;
}

bool TMMConnector::EnterIdle() const {
  return G().enterIdle;
}
void TMMConnector::SetEnterIdle(bool value) {
  G().enterIdle = value;
}

int32_t TMMConnector::AutoCount() {
  return G().autoCount;
}
int32_t TMMConnector::MaxSpeed() {
  return G().maxSpeed;
}
bool TMMConnector::IdleHandlerInstalled() {
  return G().idle != nullptr;
}

void TMMConnector::RecomputeMaxSpeed() {
  Shared& g = G();
  int32_t most = 1;
  for (TMMConnector* c : g.list) most = std::max(most, c->speed_);
  g.maxSpeed = most;
}

void TMMConnector::SetSpeed(int32_t value) {
  speed_ = std::clamp(value, 1, 5000);
  RecomputeMaxSpeed();
}

void TMMConnector::SetRealTime(bool value) {
  if (value == realTime_) return;
  if (IsOpened()) throw EMMConnectorError("Change to property while device was open");
  realTime_ = value;
}

void TMMConnector::InstallIdleHandler() {
  Shared& g = G();
  if (g.enterIdle && !g.idle) g.idle = std::make_unique<TIdleHandler>();
}

void TMMConnector::RemoveIdleHandler() {
  G().idle.reset();
}

void TMMConnector::PostStart() {
  if (autoTrigger_) InstallIdleHandler();
  if (G().window) G().window->Post(StartMessage, reinterpret_cast<uintptr_t>(this), 0);
}

// Leaves the feeding loop.
void TMMConnector::StopRunning() {
  if (!running_) return;
  running_ = false;
  if (counted_) {
    counted_ = false;
    if (--G().autoCount <= 0) {
      G().autoCount = 0;
      RemoveIdleHandler();
    }
  }
}

void TMMConnector::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  if (IsDesigning()) return;
  if (!value) {
    StopRunning();
    ResetDisplays();
  } else if (prepared_ && realTime_) {
    PostStart();
  }
}

void TMMConnector::SetAutoTrigger(bool value) {
  if (value == autoTrigger_) return;
  autoTrigger_ = value;
  if (IsDesigning()) return;
  if (!value) {
    StopRunning();
  } else if (prepared_ && enabled_ && realTime_) {
    PostStart();
  }
}

// Display slots -------------------------------------------------------------------------------

bool TMMConnector::AnyShownDisplay() const {
  for (int g = 0; g < gCount; ++g)
    if (HasShownDisplay(static_cast<Group>(g))) return true;
  return false;
}

bool TMMConnector::HasShownDisplay(Group g) const {
  for (TMMDisplaySlot s : kGroupSlots[g])
    if (s != slSlotCount && slots_[s] && slots_[s]->Visible()) return true;
  return false;
}

void TMMConnector::SetSlot(TMMDisplaySlot slot, TMMDisplay* display) {
  if (slot < 0 || slot >= slSlotCount) return;
  if (slots_[slot] == display) return;
  const bool spectrum = slot >= slSpectrum1;
  if (!spectrum && display) {
    // Level, meter and oscilloscope slots come in pairs; a display sits in one of them.
    const TMMDisplaySlot other = static_cast<TMMDisplaySlot>(slot ^ 1);
    if (slots_[other] == display) return;
  }
  TMMDisplay* old = slots_[slot];
  slots_[slot] = display;
  if (old && std::find(slots_.begin(), slots_.end(), old) == slots_.end())
    old->RemoveFreeNotification(this);
  const Group g = slot >= slSpectrum1 ? gSpectrum : static_cast<Group>(slot / 2);
  pending_[g] = false;
  if (display) {
    display->FreeNotification(this);
    GiveFormat();
  }
}

void TMMConnector::Notification(TComponent* component, TOperation op) {
  TMMDSPComponent::Notification(component, op);
  if (op != TOperation::opRemove || !component) return;
  for (auto& s : slots_)
    if (s == component) s = nullptr;
}

void TMMConnector::GiveFormat() {
  const WAVEFORMATEX* f = GetWaveFormat();
  if (!f) return;
  const WAVEFORMATEX* shown;
  if (prepared_) {
    shown = &displayFormat_;
  } else if (f->wFormatTag == WAVE_FORMAT_PCM) {
    shown = f;
  } else {
    return;  // no converter for compressed input: its displays stay idle
  }
  silenceByte_ = shown->wBitsPerSample == 8 ? 128 : 0;
  for (TMMDisplay* d : slots_)
    if (d) d->SetPCMFormat(shown);
}

void TMMConnector::ResetDisplays() {
  for (TMMDisplay* d : slots_)
    if (d) d->ResetDisplay();
}

// Chain notifications ----------------------------------------------------------------------------

void TMMConnector::SetWaveFormat(const WAVEFORMATEX* Format) {
  TMMDSPComponent::SetWaveFormat(Format);
  GiveFormat();
}

void TMMConnector::Started() {
  TMMDSPComponent::Started();
  const WAVEFORMATEX* f = GetWaveFormat();
  if (IsDesigning() || !f || prepared_) return;
  ClearPending();
  // Compressed input has no display path: buffers pass, no display is fed.
  if (f->wFormatTag != WAVE_FORMAT_PCM || GetBufferSize() <= 0) return;
  {
    std::lock_guard<std::mutex> lk(lock_);
    displayFormat_ = *f;
    displayFormat_.cbSize = 0;
    displaySize_ = GetBufferSize();
    store_.assign(static_cast<size_t>(displaySize_) * kQueueLength, 0);
    head_ = 0;
    queued_ = 0;
    displayBuffer_ = QueueSlot(0);
    displayBytes_ = 0;
  }
  RecomputeMaxSpeed();
  prepared_ = true;
  GiveFormat();
  if (enabled_ && realTime_) PostStart();
}

void TMMConnector::Paused() {
  TMMDSPComponent::Paused();
  if (!prepared_ || holding_) return;
  holding_ = true;
  FillSilence();
  if (!realTime_) return;
  StopTimerClient();
  const WAVEFORMATEX* f = GetWaveFormat();
  const int32_t block = GetBufferSize();
  const int32_t interval = block <= 8191 && f ? BytesToMs(f, block) : 25;
  timerClient_ = SharedTimer::Register(
      interval,
      [](SharedTimerClient*, void* owner) {
        // On the timer thread: the silent buffer is handed over again once per period.
        auto* c = static_cast<TMMConnector*>(owner);
        if (!c->holding_) return;
        c->arrivalTime_ = NowMicroseconds();
        if (c->MarkAllPending()) RequestTick();
      },
      this);
  if (!timerClient_) throw EOutOfResources("Not enough timers available");
}

void TMMConnector::Restarted() {
  TMMDSPComponent::Restarted();
  if (!holding_) return;
  holding_ = false;
  if (realTime_) StopTimerClient();
}

void TMMConnector::StopTimerClient() {
  // Unregistered first: once it returns no tick of the client runs, so none can mark the
  // silent buffer pending again after the flags are cleared.
  if (timerClient_) SharedTimer::Unregister(timerClient_);
  timerClient_ = nullptr;
  ClearPending();
}

void TMMConnector::Stopped() {
  if (prepared_) {
    prepared_ = false;
    StopRunning();
    holding_ = false;
    StopTimerClient();
    {
      std::lock_guard<std::mutex> lk(lock_);
      store_.clear();
      store_.shrink_to_fit();
      displayBuffer_ = nullptr;
      queued_ = 0;
      displayBytes_ = 0;
    }
    if (refreshOnStop_) ResetDisplays();
  }
  TMMDSPComponent::Stopped();
}

void TMMConnector::Reset() {
  TMMDSPComponent::Reset();
  if (prepared_) FillSilence();
}

void TMMConnector::FillSilence() {
  std::lock_guard<std::mutex> lk(lock_);
  queued_ = 0;  // nothing that came before the silence is shown after it
  if (displayBuffer_) std::memset(displayBuffer_, silenceByte_, static_cast<size_t>(displaySize_));
}

// Taking data ------------------------------------------------------------------------------------

void TMMConnector::BufferReady(PWaveHdr Buffer) {
  if (Buffer) {
    const WAVEHDR* p = Buffer;
    if (synchronize_) {
      // Chain buffers carry the extension; a companion buffer is read instead when present.
      const TMMChainBuffer* sync = static_cast<TMMChainBuffer*>(Buffer)->SyncBuffer;
      if (sync && Buffer->dwBytesRecorded != 0) p = sync;
    }
    TakeData(p->lpData, static_cast<int32_t>(p->dwBytesRecorded));
  }
  TMMDSPComponent::BufferReady(Buffer);
}

void TMMConnector::BufferLoad(PWaveHdr Buffer, bool& More) {
  TMMDSPComponent::BufferLoad(Buffer, More);
  if (Buffer) TakeData(Buffer->lpData, static_cast<int32_t>(Buffer->dwBytesRecorded));
}

bool TMMConnector::Queueing() const {
  return synchronize_ && realTime_ && displayFormat_.nAvgBytesPerSec > 0;
}

int64_t TMMConnector::DurationUs(int32_t bytes) const {
  return static_cast<int64_t>(bytes) * 1000000 /
         std::max<uint32_t>(displayFormat_.nAvgBytesPerSec, 1);
}

void TMMConnector::TakeData(const void* Data, int32_t Count) {
  if (!enabled_ || holding_ || !prepared_ || !Data) return;
  const int64_t now = NowMicroseconds();
  bool shownNow = true;
  {
    std::lock_guard<std::mutex> lk(lock_);
    if (!displayBuffer_) return;
    const int32_t n = std::clamp(Count, 0, displaySize_);
    // The end of the last buffer on show or queued: a buffer that comes before it waits its
    // turn. Should the queue run more than a quarter of a second behind, or be full, it
    // starts afresh with this buffer, so that the displays never lag far behind the sound.
    int64_t end = INT64_MIN;
    if (Queueing() && AnyShownDisplay()) {
      if (queued_ == 0) {
        end = arrivalTime_ + DurationUs(displayBytes_);
      } else {
        const Queued& last = queue_[static_cast<size_t>((head_ + queued_) % kQueueLength)];
        end = last.arrival + DurationUs(last.bytes);
      }
    }
    if (end <= now || end - now > 250000 || queued_ + 1 >= kQueueLength) {
      queued_ = 0;
      std::memcpy(displayBuffer_, Data, static_cast<size_t>(n));
      displayBytes_ = n;
      arrivalTime_ = now;
    } else {
      ++queued_;
      const int slot = (head_ + queued_) % kQueueLength;
      std::memcpy(QueueSlot(slot), Data, static_cast<size_t>(n));
      queue_[static_cast<size_t>(slot)] = {n, end};
      shownNow = false;
    }
  }
  // Only a group with a display gets anything to hand over: with none, no tick runs at all.
  if (shownNow) {
    if (MarkAllPending() && realTime_ && autoTrigger_) RequestTick();
  } else if (realTime_ && autoTrigger_ && AnyShownDisplay()) {
    RequestTick();  // the loop times the queued buffer's turn
  }
  if (!realTime_ && autoTrigger_) FeedDisplays();
}

void TMMConnector::AdvanceQueue(int64_t now) {
  bool advanced = false;
  while (queued_ > 0) {
    const int next = (head_ + 1) % kQueueLength;
    const Queued& q = queue_[static_cast<size_t>(next)];
    if (now < q.arrival) break;
    head_ = next;
    --queued_;
    displayBuffer_ = QueueSlot(head_);
    displayBytes_ = q.bytes;
    arrivalTime_ = q.arrival;
    advanced = true;
  }
  if (advanced) MarkAllPending();
}

bool TMMConnector::MarkAllPending() {
  bool any = false;
  for (int g = 0; g < gCount; ++g) {
    // Nobody would see the blocks of a group whose displays are all off screen.
    if (!HasShownDisplay(static_cast<Group>(g))) continue;
    position_[g] = 0;
    pending_[g] = true;
    any = true;
  }
  return any;
}

int64_t TMMConnector::NextDue() const {
  int64_t next = INT64_MAX;
  {
    std::lock_guard<std::mutex> lk(lock_);
    if (queued_ > 0 && AnyShownDisplay())
      next = queue_[static_cast<size_t>((head_ + 1) % kQueueLength)].arrival;
  }
  const int64_t rate = displayFormat_.nAvgBytesPerSec;
  for (int g = 0; g < gCount; ++g) {
    if (!pending_[g]) continue;
    const int64_t due = !synchronize_ || rate == 0
                            ? 0
                            : arrivalTime_ + static_cast<int64_t>(position_[g]) * 1000000 / rate;
    next = std::min(next, due);
  }
  return next;
}

void TMMConnector::ClearPending() {
  for (auto& p : pending_) p = false;
}

// Feeding ----------------------------------------------------------------------------------------

bool TMMConnector::Due(int64_t sinceArrival, int32_t position) const {
  if (!synchronize_ || displayFormat_.nAvgBytesPerSec == 0) return true;
  return sinceArrival >= static_cast<int64_t>(position) * 1000000 / displayFormat_.nAvgBytesPerSec;
}

void TMMConnector::FeedDisplays() {
  if (!enabled_ || !(running_ || (!realTime_ && prepared_))) return;
  {
    std::lock_guard<std::mutex> lk(lock_);
    if (!displayBuffer_) return;
    const int64_t now = NowMicroseconds();
    AdvanceQueue(now);
    const int64_t since = now - arrivalTime_;
    for (int g = 0; g < gCount; ++g) {
      if (!pending_[g]) continue;
      if (g == gOscope)
        FeedOscopes(since);
      else
        FeedGroup(static_cast<Group>(g), since);
    }
  }
  if (OnTrigger) OnTrigger(this);
}

void TMMConnector::FeedGroup(Group g, int64_t since) {
  int32_t block = 0;
  for (TMMDisplaySlot s : kGroupSlots[g])
    if (s != slSlotCount && slots_[s]) block = std::max(block, slots_[s]->BlockBytes());
  if (block <= 0) {  // nothing attached, or nothing to hand over
    pending_[g] = false;
    return;
  }
  const int32_t old = position_[g];
  if (!Due(since, old)) return;
  position_[g] = old + block;
  if (static_cast<int64_t>(old) + block > displayBytes_) {
    pending_[g] = false;
    return;
  }
  for (TMMDisplaySlot s : kGroupSlots[g])
    if (s != slSlotCount && slots_[s]) slots_[s]->ProcessPCMBlock(displayBuffer_ + old);
}

void TMMConnector::FeedOscopes(int64_t since) {
  TMMOscopeDisplay* o1 = Oscope1();
  TMMOscopeDisplay* o2 = Oscope2();
  const int32_t block = std::max(o2 ? o2->BlockBytes() : 0, o1 ? o1->BlockBytes() : 0);
  TMMOscopeDisplay* ref = o1 ? o1 : o2;
  if (!ref || block <= 0) {
    pending_[gOscope] = false;
    return;
  }
  int32_t pos = position_[gOscope];
  int32_t d = -1;
  if (triggerMode_ != tmNone && !holding_ && pos >= 0 && pos < displayBytes_)
    d = TriggerSearch(&displayFormat_, displayBuffer_ + pos, displayBytes_ - pos, triggerLevel_,
                      triggerMode_);
  if (!Due(since, pos)) return;
  if (d > 0) pos += d;
  const int32_t src = pos;
  int32_t step = block;
  if (ref->Scroll() && ref->Accelerate()) {
    step = (ref->FFTLength() / 4) * (static_cast<int32_t>(ref->BitLength()) + 1) *
           (static_cast<int32_t>(ref->Mode()) + 1);
    if (step <= 0) step = block;  // a scope that moves by nothing would repeat one block
  }
  position_[gOscope] = pos + step;
  if (static_cast<int64_t>(src) + block > displayBytes_) {
    pending_[gOscope] = false;
    return;
  }
  if (o1) o1->ProcessPCMBlock(displayBuffer_ + src);
  if (o2) o2->ProcessPCMBlock(displayBuffer_ + src);
}

void TMMConnector::Trigger() {
  if (!enabled_ || autoTrigger_ || pendingTriggers_ != 0) return;
  if (!(running_ || (!realTime_ && prepared_))) return;
  if (OnGuiThread()) {
    FeedDisplays();
  } else if (G().window) {
    ++pendingTriggers_;
    G().window->Post(TriggerMessage, reinterpret_cast<uintptr_t>(this), 0);
  }
}

// The feeding loop ----------------------------------------------------------------------------

bool TMMConnector::HandleMessage(uint32_t msg, uintptr_t wParam) {
  auto* c = reinterpret_cast<TMMConnector*>(wParam);
  switch (msg) {
    case StartMessage:
      c->HandleStart();
      return true;
    case TriggerMessage:
      c->HandleTrigger();
      return true;
    case TickMessage:
      HandleTick();
      return true;
    default:
      return false;
  }
}

void TMMConnector::HandleStart() {
  if (!prepared_) return;
  pendingTriggers_ = 0;
  running_ = true;
  // A connector already in the loop is not counted twice: its start may be posted again
  // (enabled again before the first start was handled) and the loop must still end.
  if (autoTrigger_ && !counted_) {
    counted_ = true;
    ++G().autoCount;
    RequestTick();
  }
}

void TMMConnector::HandleTrigger() {
  if (!enabled_ || !running_) return;
  FeedDisplays();
  --pendingTriggers_;
}

// One round of the feeding loop. The loop does not spin: a round runs passes while blocks are
// due (each pass hands at most one block per group), then waits for the next block that
// comes due, but at least one picture's time (a timer), so that it wakes no more often than
// the displays can show; when nothing is pending it rests until new data, the shared timer's
// silent buffer or a shown display brings work. Rounds keep their order, one tick queued at
// a time, posted again by the round before.
void TMMConnector::HandleTick() {
  Shared& g = G();
  for (int i = 0; i < 5001 - g.maxSpeed; ++i) QCoreApplication::processEvents();
  const bool go = g.autoCount > 0 && !Terminating() && !g.paused;
  const int64_t roundStart = NowMicroseconds();
  if (go) {
    // Enough passes for every block of a buffer; by index: a connector may go away while a
    // display's event runs.
    for (int pass = 0; pass < 256; ++pass) {
      bool fed = false;
      for (size_t i = 0; i < g.list.size(); ++i) {
        TMMConnector* c = g.list[i];
        if (!(c->autoTrigger_ && c->enabled_ && c->running_)) continue;
        if (pass > 0 && c->NextDue() > NowMicroseconds()) continue;
        c->FeedDisplays();
        fed = true;
      }
      if (!fed) break;
    }
  }
  int64_t next = INT64_MAX;
  if (go && g.window) {
    for (TMMConnector* c : g.list)
      if (c->autoTrigger_ && c->enabled_ && c->running_) next = std::min(next, c->NextDue());
  }
  if (next == INT64_MAX) {
    // At rest. Data that came while this round ran has marked its blocks: look once more, so
    // that its request, made while this tick still counted as queued, is not lost.
    g.tickQueued = false;
    if (go)
      for (TMMConnector* c : g.list)
        if (c->running_ && c->NextDue() != INT64_MAX) RequestTick();
    return;
  }
  if (g.enterIdle) QCoreApplication::processEvents();
  const int64_t wait = std::max(next, roundStart + kRoundUs) - NowMicroseconds();
  if (wait <= 0) {
    if (!g.window->Post(TickMessage, 0, 0)) g.tickQueued = false;
  } else {
    g.wake->start(static_cast<int>(std::min<int64_t>((wait + 999) / 1000, 1000)));
  }
}
