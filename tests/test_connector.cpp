// The display connector: how a buffer is cut into blocks for each display group, the pacing
// by arrival time, the slot rules, the order in which displays get the format and are reset,
// the feeding loop and Trigger, holding on silence while paused, the trigger search and the
// oscilloscope stepping, and a wave input feeding a chain through a connector.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "TestStages.h"
#include "audio/MMWavIn.h"
#include "displays/MMConect.h"
#include "platform/SimCapture.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

// Records every call; a shared log keeps the order across displays.
class FakeDisplay : public TMMDisplay {
 public:
  FakeDisplay(std::string name, int32_t block, std::vector<std::string>* log = nullptr)
      : name_(std::move(name)), block_(block), log_(log) {}

  void SetPCMFormat(const WAVEFORMATEX* f) override {
    if (reject) throw EMMError("format refused by " + name_);
    formats.push_back(*f);
    Log("Format");
  }
  int32_t BlockBytes() const override { return block_; }
  void ProcessPCMBlock(const void* data) override {
    const auto* p = static_cast<const uint8_t*>(data);
    blocks.emplace_back(p, p + block_);
    Log("Block");
  }
  void ResetDisplay() override {
    ++resets;
    Log("Reset");
  }

  void SetBlock(int32_t b) { block_ = b; }
  bool reject = false;
  std::vector<WAVEFORMATEX> formats;
  std::vector<Bytes> blocks;
  int resets = 0;

 private:
  void Log(const char* what) {
    if (log_) log_->push_back(name_ + ":" + what);
  }
  std::string name_;
  int32_t block_;
  std::vector<std::string>* log_;
};

class FakeScope : public TMMOscopeDisplay {
 public:
  explicit FakeScope(int32_t block) : block_(block) {}
  void SetPCMFormat(const WAVEFORMATEX*) override {}
  int32_t BlockBytes() const override { return block_; }
  void ProcessPCMBlock(const void* data) override {
    const auto* p = static_cast<const uint8_t*>(data);
    blocks.emplace_back(p, p + block_);
  }
  void ResetDisplay() override {}
  bool Scroll() const override { return scroll; }
  bool Accelerate() const override { return accelerate; }
  int32_t FFTLength() const override { return fftLength; }
  TMMBits BitLength() const override { return bits; }
  TMMMode Mode() const override { return mode; }

  bool scroll = false, accelerate = false;
  int32_t fftLength = 256;
  TMMBits bits = b16Bit;
  TMMMode mode = mStereo;
  std::vector<Bytes> blocks;

 private:
  int32_t block_;
};

WAVEFORMATEX Pcm(int bits, int channels, int rate) {
  WAVEFORMATEX f{};
  BuildPCMFormat(&f, bits, channels, rate);
  return f;
}
const WAVEFORMATEX kCd = Pcm(16, 2, 44100);  // the recorder's format: 176400 bytes/s

// Every 32-bit little-endian word holds its own byte offset, so each block is unique.
Bytes Ramp32(size_t n) {
  Bytes v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i & ~size_t{3}) >> (8 * (i & 3)));
  return v;
}

// Where a block's bytes sit in `source`, or -1.
int FindOffset(const Bytes& block, const Bytes& source) {
  auto it = std::search(source.begin(), source.end(), block.begin(), block.end());
  return it == source.end() ? -1 : static_cast<int>(it - source.begin());
}
std::vector<int> Offsets(const std::vector<Bytes>& blocks, const Bytes& source) {
  std::vector<int> v;
  for (const Bytes& b : blocks) v.push_back(FindOffset(b, source));
  return v;
}
std::vector<int> Steps(int count, int step, int from = 0) {
  std::vector<int> v;
  for (int i = 0; i < count; ++i) v.push_back(from + i * step);
  return v;
}

void Pump(int n = 1) {
  for (int i = 0; i < n; ++i) QCoreApplication::processEvents();
}
// Pumps the event loop until `done`; the bound only guards against a hang.
template <typename Done>
bool PumpUntil(Done done) {
  const auto limit = std::chrono::steady_clock::now() + 5s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    QCoreApplication::processEvents();
  }
  return true;
}
void PumpFor(std::chrono::milliseconds d) {
  const auto end = std::chrono::steady_clock::now() + d;
  while (std::chrono::steady_clock::now() < end) QCoreApplication::processEvents();
}

class ConnectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMicrosecondClock(nullptr);
    ASSERT_EQ(TMMConnector::AutoCount(), 0);
  }
  void TearDown() override {
    c.reset();
    SetMicrosecondClock(nullptr);
    Pump(5);  // stale loop messages see no running connector
    EXPECT_EQ(TMMConnector::AutoCount(), 0);
  }

  // A connector over `format`, not yet opened; OnTrigger counts the feeding passes.
  void Make(bool realTime, bool autoTrigger, bool synchronize, const WAVEFORMATEX& format = kCd) {
    c = std::make_unique<TMMConnector>();
    c->SetRealTime(realTime);
    c->SetAutoTrigger(autoTrigger);
    c->SetSynchronize(synchronize);
    c->SetWaveFormat(&format);
    c->OnTrigger = [this](TComponent*) { ++passes; };
  }
  // Opened and Started as a chain's device would send them.
  void Start(int32_t bufferSize = 4096) {
    c->SetBufferSize(bufferSize);
    c->Opened();
    c->Started();
  }
  void Stop() {
    c->Stopped();
    c->Closed();
  }

  std::unique_ptr<TMMConnector> c;
  int passes = 0;
};

// Block sizes of the recorder's displays over a 4096-byte buffer: per group one block per pass
// until the next block would pass the end of the data.
struct GroupCase {
  TMMDisplaySlot slot;
  int32_t block;
  int blocks;
};
const GroupCase kGroups[] = {
    {slLevel1, 396, 10},     // last at 3564, 136 bytes left unshown
    {slMeter1, 80, 51},      // last at 4000
    {slSpectrum1, 256, 16},  // last at 3840
    {slOscope1, 1000, 4},    // last at 3000
};

struct Attached {
  std::vector<std::unique_ptr<TMMDisplay>> displays;
  const std::vector<Bytes>& BlocksOf(size_t i) {
    if (auto* s = dynamic_cast<FakeScope*>(displays[i].get())) return s->blocks;
    return static_cast<FakeDisplay*>(displays[i].get())->blocks;
  }
};

Attached AttachGroups(TMMConnector& c) {
  Attached a;
  for (const GroupCase& g : kGroups) {
    if (g.slot == slOscope1)
      a.displays.push_back(std::make_unique<FakeScope>(g.block));
    else
      a.displays.push_back(std::make_unique<FakeDisplay>("d", g.block));
    c.SetSlot(g.slot, a.displays.back().get());
  }
  return a;
}

// Trigger on the user-interface thread runs one pass at once when RealTime is off.
TEST_F(ConnectorTest, EachPassHandsOneBlockPerGroup) {
  Make(false, false, false);
  Attached a = AttachGroups(*c);
  Start();
  const Bytes data = Ramp32(4096);
  c->TakeData(data.data(), 4096);
  EXPECT_EQ(passes, 0);  // AutoTrigger off: the copy only
  for (int pass = 1; pass <= 60; ++pass) {
    c->Trigger();
    for (size_t i = 0; i < std::size(kGroups); ++i)
      ASSERT_EQ(a.BlocksOf(i).size(), static_cast<size_t>(std::min(pass, kGroups[i].blocks)))
          << "pass " << pass << " block " << kGroups[i].block;
  }
  EXPECT_EQ(passes, 60);
  for (size_t i = 0; i < std::size(kGroups); ++i)
    EXPECT_EQ(Offsets(a.BlocksOf(i), data), Steps(kGroups[i].blocks, kGroups[i].block))
        << kGroups[i].block;
  Stop();
}

// The same through the real feeding loop: the start message, then the tick message that posts
// itself again; the buffer arrives through the chain and goes on unchanged.
TEST_F(ConnectorTest, FeedingLoopDeliversEveryBlock) {
  Make(true, true, false);
  SinkStage sink;
  c->SetOutput(&sink);
  Attached a = AttachGroups(*c);
  bool moreThanOne = false;
  std::vector<size_t> last(std::size(kGroups), 0);
  c->OnTrigger = [&](TComponent*) {
    ++passes;
    for (size_t i = 0; i < std::size(kGroups); ++i) {
      if (a.BlocksOf(i).size() > last[i] + 1) moreThanOne = true;
      last[i] = a.BlocksOf(i).size();
    }
  };
  Start();
  EXPECT_FALSE(c->Running());  // until its start message is handled
  ASSERT_TRUE(PumpUntil([&] { return c->Running(); }));
  EXPECT_EQ(TMMConnector::AutoCount(), 1);

  Bytes data = Ramp32(4096);
  TMMChainBuffer b{};
  b.lpData = reinterpret_cast<char*>(data.data());
  b.dwBufferLength = b.dwBytesRecorded = 4096;
  c->BufferReady(&b);
  EXPECT_EQ(sink.bytes, std::vector<char>(data.begin(), data.end()));
  ASSERT_TRUE(PumpUntil([&] {
    for (size_t i = 0; i < std::size(kGroups); ++i)
      if (a.BlocksOf(i).size() < static_cast<size_t>(kGroups[i].blocks)) return false;
    return true;
  }));
  EXPECT_FALSE(moreThanOne);
  for (size_t i = 0; i < std::size(kGroups); ++i)
    EXPECT_EQ(Offsets(a.BlocksOf(i), data), Steps(kGroups[i].blocks, kGroups[i].block))
        << kGroups[i].block;
  // Every block handed over: the loop rests until new data comes, it does not spin.
  Pump(5);
  const int rested = passes;
  EXPECT_LE(rested, 52 + 5);  // the meter's 51 blocks, and the rounds that find the end
  PumpFor(50ms);
  EXPECT_EQ(passes, rested);
  c->BufferReady(&b);
  ASSERT_TRUE(PumpUntil([&] { return a.BlocksOf(1).size() == 102; }));

  Stop();
  EXPECT_EQ(TMMConnector::AutoCount(), 0);
  EXPECT_FALSE(c->Running());
  const int stopped = passes;
  Pump(20);
  EXPECT_EQ(passes, stopped);  // the loop has ended
}

// With Synchronize, block k is due trunc(k * block * 1e6 / nAvgBytesPerSec) microseconds after
// the buffer arrived: one microsecond earlier it is held back.
TEST_F(ConnectorTest, SynchronizePacesBlocksByArrivalTime) {
  struct Case {
    WAVEFORMATEX format;
    int32_t block;
  };
  const Case cases[] = {{kCd, 256}, {kCd, 396}, {Pcm(8, 1, 11025), 100}};
  int64_t now = 5'000'000;
  SetMicrosecondClock([&] { return now; });
  for (const Case& k : cases) {
    SCOPED_TRACE(k.block);
    Make(false, false, true, k.format);
    FakeDisplay d("d", k.block);
    c->SetSpectrum1(&d);
    Start();
    const Bytes data = Ramp32(4096);
    const int64_t arrival = now;
    c->TakeData(data.data(), 4096);
    c->Trigger();
    ASSERT_EQ(d.blocks.size(), 1u);  // block 0 is due at once
    const int count = 4096 / k.block;
    for (int i = 1; i < count; ++i) {
      const int64_t due = static_cast<int64_t>(i) * k.block * 1000000 / k.format.nAvgBytesPerSec;
      now = arrival + due - 1;
      c->Trigger();
      ASSERT_EQ(d.blocks.size(), static_cast<size_t>(i)) << "block " << i << " early";
      now = arrival + due;
      c->Trigger();
      ASSERT_EQ(d.blocks.size(), static_cast<size_t>(i + 1)) << "block " << i << " late";
    }
    EXPECT_EQ(Offsets(d.blocks, data), Steps(count, k.block));
    // A new buffer starts over at block 0, due at once.
    now += 1'000'000;
    c->TakeData(data.data(), 4096);
    c->Trigger();
    c->Trigger();
    EXPECT_EQ(d.blocks.size(), static_cast<size_t>(count + 1));
    Stop();
    c.reset();
  }
  SetMicrosecondClock(nullptr);
}

// A display gets only blocks that lie wholly inside the data; more data than the block size
// is cut to the block size.
TEST_F(ConnectorTest, DataLengthBoundsTheBlocks) {
  struct Case {
    int32_t count;
    std::vector<int> level396, meter80, spectrum256;
  };
  const Case cases[] = {
      {200, {}, {0, 80}, {}},
      {256, {}, {0, 80, 160}, {0}},
      {400, {0}, Steps(5, 80), {0}},
      {8192, Steps(10, 396), Steps(51, 80), Steps(16, 256)},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.count);
    Make(false, true, false);  // RealTime off: TakeData runs the first pass itself
    FakeDisplay level("l", 396), meter("m", 80), spectrum("s", 256);
    c->SetLevel1(&level);
    c->SetMeter1(&meter);
    c->SetSpectrum1(&spectrum);
    Start();
    const Bytes data = Ramp32(8192);
    c->TakeData(data.data(), k.count);
    EXPECT_EQ(c->DisplayBytes(), std::min(k.count, 4096));
    for (int i = 0; i < 60; ++i) c->Trigger();  // AutoTrigger on: Trigger does nothing
    c->SetAutoTrigger(false);
    for (int i = 0; i < 60; ++i) c->Trigger();
    EXPECT_EQ(Offsets(level.blocks, data), k.level396);
    EXPECT_EQ(Offsets(meter.blocks, data), k.meter80);
    EXPECT_EQ(Offsets(spectrum.blocks, data), k.spectrum256);
    Stop();
    c.reset();
  }
}

// Synchronize makes BufferReady read the companion buffer when it has one and the buffer
// holds data; the chain always gets the buffer itself.
TEST_F(ConnectorTest, SyncBufferFeedsTheDisplays) {
  struct Case {
    bool synchronize;
    bool withSync;
    uint32_t recorded;
    bool displaysSeeSync;
    int blocks;
  };
  const Case cases[] = {
      {true, true, 4096, true, 16},
      {false, true, 4096, false, 16},
      {true, false, 4096, false, 16},
      {true, true, 0, false, 0},
  };
  Bytes main = Ramp32(4096);
  Bytes side(4096);
  for (size_t i = 0; i < side.size(); ++i) side[i] = static_cast<uint8_t>(255 - i % 251);
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.synchronize << k.withSync << k.recorded);
    Make(false, true, k.synchronize);
    int64_t now = 0;  // a second passes between readings: every block is due
    SetMicrosecondClock([&now] { return now += 1'000'000; });
    SinkStage sink;
    c->SetOutput(&sink);
    FakeDisplay s("s", 256);
    c->SetSpectrum1(&s);
    Start();
    TMMChainBuffer sync{};
    sync.lpData = reinterpret_cast<char*>(side.data());
    sync.dwBufferLength = sync.dwBytesRecorded = 4096;
    TMMChainBuffer b{};
    b.lpData = reinterpret_cast<char*>(main.data());
    b.dwBufferLength = 4096;
    b.dwBytesRecorded = k.recorded;
    b.SyncBuffer = k.withSync ? &sync : nullptr;
    c->BufferReady(&b);
    c->SetAutoTrigger(false);
    for (int i = 0; i < 20; ++i) c->Trigger();
    ASSERT_EQ(s.blocks.size(), static_cast<size_t>(k.blocks));
    if (k.blocks > 0) {
      const Bytes& seen = k.displaysSeeSync ? side : main;
      EXPECT_EQ(s.blocks[0], Bytes(seen.begin(), seen.begin() + 256));
    }
    EXPECT_EQ(sink.total, k.recorded);
    EXPECT_EQ(sink.bytes, std::vector<char>(main.begin(), main.begin() + k.recorded));
    Stop();
    c->SetOutput(nullptr);
    c.reset();
    SetMicrosecondClock(nullptr);
  }
}

// A stage ahead of the connector fills the buffer; the connector shows what it put there.
class RampSource : public TMMDSPComponent {
 public:
  using TMMDSPComponent::TMMDSPComponent;
  void BufferLoad(PWaveHdr b, bool& more) override {
    const Bytes r = Ramp32(b->dwBufferLength);
    std::memcpy(b->lpData, r.data(), r.size());
    b->dwBytesRecorded = b->dwBufferLength;
    more = false;
  }
};

TEST_F(ConnectorTest, BufferLoadShowsWhatTheInputLoaded) {
  RampSource source;
  Make(false, true, false);
  c->SetInput(&source);
  c->SetWaveFormat(&kCd);
  FakeDisplay s("s", 256);
  c->SetSpectrum1(&s);
  Start();
  Bytes space(4096, 0xEE);
  TMMChainBuffer b{};
  b.lpData = reinterpret_cast<char*>(space.data());
  b.dwBufferLength = 4096;
  bool more = true;
  c->BufferLoad(&b, more);
  EXPECT_FALSE(more);
  ASSERT_EQ(s.blocks.size(), 1u);
  EXPECT_EQ(s.blocks[0], Bytes(space.begin(), space.begin() + 256));
  EXPECT_EQ(FindOffset(s.blocks[0], Ramp32(4096)), 0);
  Stop();
  c->SetInput(nullptr);
}

TEST_F(ConnectorTest, OneAnalyserInTwoSpectrumSlotsIsFedTwice) {
  Make(false, false, false);
  FakeDisplay s("s", 256), other("o", 512);
  c->SetSpectrum1(&s);
  c->SetSpectrum3(&s);
  c->SetSpectrum2(&other);
  Start();
  const Bytes data = Ramp32(4096);
  c->TakeData(data.data(), 4096);
  std::vector<size_t> perPass;
  for (int i = 0; i < 20; ++i) {
    const size_t before = s.blocks.size();
    c->Trigger();
    perPass.push_back(s.blocks.size() - before);
  }
  // The group steps by its largest block: 512 bytes, 8 blocks, each twice to s.
  std::vector<int> expected;
  for (int off : Steps(8, 512)) expected.insert(expected.end(), {off, off});
  EXPECT_EQ(Offsets(s.blocks, data), expected);
  EXPECT_EQ(Offsets(other.blocks, data), Steps(8, 512));
  EXPECT_EQ(std::count(perPass.begin(), perPass.end(), 2u), 8);
  Stop();
}

// Slot assignment rules: the first column sets up, the last assignment is under test.
TEST_F(ConnectorTest, SlotRules) {
  struct Assign {
    TMMDisplaySlot slot;
    int display;  // index into the displays, -1 for none
  };
  struct Case {
    const char* what;
    std::vector<Assign> setup;
    Assign test;
    std::vector<int> expected;  // display index per slot, -1 for empty
    bool formatGiven;           // the display under test got the format again
  };
  const std::vector<int> none(slSlotCount, -1);
  auto with = [&](std::vector<std::pair<TMMDisplaySlot, int>> set) {
    std::vector<int> v = none;
    for (auto [s, d] : set) v[s] = d;
    return v;
  };
  const Case cases[] = {
      {"Level2 := L while L is Level1",
       {{slLevel1, 0}},
       {slLevel2, 0},
       with({{slLevel1, 0}}),
       false},
      {"Level1 := L while L is Level2",
       {{slLevel2, 0}},
       {slLevel1, 0},
       with({{slLevel2, 0}}),
       false},
      {"Level1 := L again", {{slLevel1, 0}}, {slLevel1, 0}, with({{slLevel1, 0}}), false},
      {"Meter2 := M while M is Meter1",
       {{slMeter1, 0}},
       {slMeter2, 0},
       with({{slMeter1, 0}}),
       false},
      {"Oscope2 := O while O is Oscope1",
       {{slOscope1, 2}},
       {slOscope2, 2},
       with({{slOscope1, 2}}),
       false},
      {"Spectrum2 := S while S is Spectrum1",
       {{slSpectrum1, 0}},
       {slSpectrum2, 0},
       with({{slSpectrum1, 0}, {slSpectrum2, 0}}),
       true},
      {"Spectrum1 := S again",
       {{slSpectrum1, 0}},
       {slSpectrum1, 0},
       with({{slSpectrum1, 0}}),
       false},
      {"Level2 := other display",
       {{slLevel1, 0}},
       {slLevel2, 1},
       with({{slLevel1, 0}, {slLevel2, 1}}),
       true},
      {"Level1 := none", {{slLevel1, 0}}, {slLevel1, -1}, none, false},
      {"Level2 := none while Level1 holds L",
       {{slLevel1, 0}},
       {slLevel2, -1},
       with({{slLevel1, 0}}),
       false},
      {"L moves out of Level1 and into Level2",
       {{slLevel1, 0}, {slLevel1, -1}},
       {slLevel2, 0},
       with({{slLevel2, 0}}),
       true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    Make(false, false, false);
    FakeDisplay d0("d0", 256), d1("d1", 256);
    FakeScope scope(256);
    TMMDisplay* displays[] = {&d0, &d1, &scope};
    for (const Assign& a : k.setup)
      c->SetSlot(a.slot, a.display < 0 ? nullptr : displays[a.display]);
    FakeDisplay* probe = k.test.display == 1 ? &d1 : &d0;
    const size_t formatsBefore = probe->formats.size();
    c->SetSlot(k.test.slot, k.test.display < 0 ? nullptr : displays[k.test.display]);
    std::vector<int> got;
    for (int s = 0; s < slSlotCount; ++s) {
      TMMDisplay* d = c->Slot(static_cast<TMMDisplaySlot>(s));
      got.push_back(d == nullptr
                        ? -1
                        : static_cast<int>(std::find(std::begin(displays), std::end(displays), d) -
                                           std::begin(displays)));
    }
    EXPECT_EQ(got, k.expected);
    if (k.test.display >= 0 && k.test.display != 2) {
      EXPECT_EQ(probe->formats.size() > formatsBefore, k.formatGiven);
    }
    c.reset();
  }
}

// Assigning a display into a group drops the rest of that group's current buffer only.
TEST_F(ConnectorTest, AssignmentClearsTheGroupsPendingBlocks) {
  Make(false, false, false);
  FakeDisplay l1("l1", 396), l2("l2", 396), s("s", 256);
  c->SetLevel1(&l1);
  c->SetSpectrum1(&s);
  Start();
  const Bytes data = Ramp32(4096);
  c->TakeData(data.data(), 4096);
  c->Trigger();
  c->SetLevel2(&l2);
  for (int i = 0; i < 20; ++i) c->Trigger();
  EXPECT_EQ(l1.blocks.size(), 1u);
  EXPECT_TRUE(l2.blocks.empty());
  EXPECT_EQ(s.blocks.size(), 16u);
  // The next buffer reaches both.
  c->TakeData(data.data(), 4096);
  for (int i = 0; i < 20; ++i) c->Trigger();
  EXPECT_EQ(l1.blocks.size(), 11u);
  EXPECT_EQ(l2.blocks.size(), 10u);
  Stop();
}

// Attached in scrambled order; the format and the resets still go in slot order.
TEST_F(ConnectorTest, FormatAndResetsGoInSlotOrder) {
  std::vector<std::string> log;
  const char* names[] = {"L1", "L2", "M1", "M2", "O1", "O2", "S1", "S2", "S3", "S4"};
  std::vector<std::unique_ptr<TMMDisplay>> owned;
  c = std::make_unique<TMMConnector>();  // no format yet
  std::vector<std::string> slotOrder;
  for (const char* n : names) slotOrder.push_back(std::string(n) + ":Format");

  // Logging scopes: the oscilloscope slots need the scope interface.
  class LogScope : public FakeScope {
   public:
    LogScope(std::string n, std::vector<std::string>* log) : FakeScope(128), n_(n), log_(log) {}
    void SetPCMFormat(const WAVEFORMATEX*) override { log_->push_back(n_ + ":Format"); }
    void ResetDisplay() override { log_->push_back(n_ + ":Reset"); }

   private:
    std::string n_;
    std::vector<std::string>* log_;
  };
  std::vector<TMMDisplay*> bySlot(slSlotCount);
  for (int s = 0; s < slSlotCount; ++s) {
    if (s == slOscope1 || s == slOscope2)
      owned.push_back(std::make_unique<LogScope>(names[s], &log));
    else
      owned.push_back(std::make_unique<FakeDisplay>(names[s], 256, &log));
    bySlot[s] = owned.back().get();
  }
  const int scrambled[] = {slSpectrum4, slOscope2, slLevel2,  slSpectrum1, slMeter1,
                           slSpectrum3, slLevel1,  slOscope1, slSpectrum2, slMeter2};
  for (int s : scrambled) c->SetSlot(static_cast<TMMDisplaySlot>(s), bySlot[s]);
  EXPECT_TRUE(log.empty());  // no format to give yet

  const WAVEFORMATEX eight = Pcm(8, 1, 22050);
  c->SetWaveFormat(&eight);
  EXPECT_EQ(log, slotOrder);
  EXPECT_EQ(c->SilenceByte(), 128);
  auto* l1 = static_cast<FakeDisplay*>(bySlot[slLevel1]);
  ASSERT_FALSE(l1->formats.empty());
  EXPECT_EQ(+l1->formats.back().wBitsPerSample, 8);
  EXPECT_EQ(+l1->formats.back().nSamplesPerSec, 22050u);

  // An assignment hands the format to every attached display, in slot order.
  log.clear();
  FakeDisplay extra("X", 256, &log);
  c->SetLevel2(&extra);
  std::vector<std::string> expected = slotOrder;
  expected[1] = "X:Format";
  EXPECT_EQ(log, expected);
  c->SetLevel2(bySlot[slLevel2]);

  log.clear();
  c->SetWaveFormat(&kCd);
  EXPECT_EQ(log, slotOrder);
  EXPECT_EQ(c->SilenceByte(), 0);
  EXPECT_EQ(+l1->formats.back().nChannels, 2);

  // Started gives the display format once more; Stopped resets in slot order.
  c->SetRealTime(false);
  log.clear();
  c->SetBufferSize(4096);
  c->Opened();
  c->Started();
  EXPECT_EQ(log, slotOrder);
  log.clear();
  c->Stopped();
  std::vector<std::string> resets;
  for (const char* n : names) resets.push_back(std::string(n) + ":Reset");
  EXPECT_EQ(log, resets);
  c->Closed();
  c.reset();
}

TEST_F(ConnectorTest, RejectedFormatRaisesOutOfTheCaller) {
  c = std::make_unique<TMMConnector>();
  FakeDisplay good("good", 256), picky("picky", 256);
  picky.reject = true;
  c->SetLevel1(&good);
  c->SetSpectrum2(&picky);  // no format yet: nothing to refuse
  EXPECT_THROW(c->SetWaveFormat(&kCd), EMMError);
  c->SetSpectrum2(nullptr);
  c->SetWaveFormat(&kCd);
  EXPECT_THROW(c->SetMeter1(&picky), EMMError);
  picky.reject = false;
  c->SetMeter1(nullptr);
  c->SetMeter1(&picky);
  picky.reject = true;
  c->SetRealTime(false);
  c->SetBufferSize(4096);
  c->Opened();
  EXPECT_THROW(c->Started(), EMMError);
  c->SetMeter1(nullptr);
  c->Stopped();
  c->Closed();
}

TEST_F(ConnectorTest, DestroyedDisplayLeavesEverySlot) {
  Make(false, false, false);
  auto s = std::make_unique<FakeDisplay>("s", 256);
  auto l = std::make_unique<FakeDisplay>("l", 396);
  FakeDisplay keep("k", 256);
  c->SetSpectrum1(s.get());
  c->SetSpectrum4(s.get());
  c->SetSpectrum2(&keep);
  c->SetLevel2(l.get());
  Start();
  const Bytes data = Ramp32(4096);
  c->TakeData(data.data(), 4096);
  c->Trigger();
  s.reset();
  l.reset();
  for (int i = 0; i < slSlotCount; ++i) {
    if (i == slSpectrum2) continue;
    EXPECT_EQ(c->Slot(static_cast<TMMDisplaySlot>(i)), nullptr) << i;
  }
  EXPECT_EQ(c->Spectrum2(), &keep);
  for (int i = 0; i < 20; ++i) c->Trigger();
  EXPECT_EQ(keep.blocks.size(), 16u);
  Stop();
  // A display that outlives its connector is left alone.
  c.reset();
}

// Buffers that come together (a capture period holds several) are shown in turn, each from
// the time the one before has had, instead of only the last; a queue that would lag more than
// a quarter of a second behind starts afresh with the newest buffer. Without Synchronize the
// newest buffer replaces the shown one at once.
TEST_F(ConnectorTest, BuffersThatComeTogetherAreShownInTurn) {
  int64_t now = 7'000'000;
  SetMicrosecondClock([&] { return now; });
  Make(true, false, true);  // Trigger runs each pass
  FakeDisplay d("d", 1024);
  c->SetLevel1(&d);
  Start();
  ASSERT_TRUE(PumpUntil([&] { return c->Running(); }));
  // Four buffers of 4096 bytes (23.2 ms each) at one moment, each with its own first byte.
  std::vector<Bytes> buffers(4, Bytes(4096, 0));
  for (size_t k = 0; k < buffers.size(); ++k) buffers[k][0] = static_cast<uint8_t>(k + 1);
  const int64_t t0 = now;
  for (const Bytes& b : buffers) c->TakeData(b.data(), 4096);
  const int64_t duration = 4096 * 1000000LL / kCd.nAvgBytesPerSec;  // 23219 µs
  for (int k = 0; k < 4; ++k) {
    SCOPED_TRACE(k);
    now = t0 + k * duration;  // buffer k's turn; its first block is due at once
    c->Trigger();
    ASSERT_EQ(d.blocks.size(), static_cast<size_t>(4 * k + 1));
    EXPECT_EQ(d.blocks.back()[0], k + 1);
    for (int b = 1; b < 4; ++b) {  // the rest of its blocks at their pace
      now = t0 + k * duration + b * 1024 * 1000000LL / kCd.nAvgBytesPerSec;
      c->Trigger();
    }
    ASSERT_EQ(d.blocks.size(), static_cast<size_t>(4 * k + 4));
  }
  // Twelve at once: the queue holds eight at most, and starts afresh with the ninth; the
  // twelfth is on show three buffers later.
  now += 1'000'000;
  const int64_t t1 = now;
  Bytes newest(4096, 0);
  newest[0] = 99;
  for (int k = 0; k < 11; ++k) c->TakeData(buffers[1].data(), 4096);
  c->TakeData(newest.data(), 4096);
  now = t1 + 3 * duration - 1;
  c->Trigger();
  EXPECT_EQ(d.blocks.back()[0], 2);
  now = t1 + 3 * duration;
  c->Trigger();
  EXPECT_EQ(d.blocks.back()[0], 99);
  Stop();
  c.reset();

  // Without Synchronize: the last buffer replaces the others.
  Make(true, false, false);
  FakeDisplay e("e", 1024);
  c->SetLevel1(&e);
  Start();
  ASSERT_TRUE(PumpUntil([&] { return c->Running(); }));
  for (const Bytes& b : buffers) c->TakeData(b.data(), 4096);
  for (int i = 0; i < 6; ++i) c->Trigger();
  ASSERT_EQ(e.blocks.size(), 4u);
  EXPECT_EQ(e.blocks[0][0], 4);
  Stop();
  SetMicrosecondClock(nullptr);
}

// A display nobody sees gets no blocks; its group is not even marked, so with nothing else
// shown the feeding loop does not run. Shown again, it is fed from the next buffer.
TEST_F(ConnectorTest, DisplaysOffScreenGetNoBlocks) {
  Make(true, true, false);
  FakeDisplay meter("m", 80), level("l", 396);
  meter.SetVisible(false);
  c->SetMeter1(&meter);
  Start();
  ASSERT_TRUE(PumpUntil([&] { return c->Running(); }));
  Pump(5);
  const int started = passes;  // the start's own round
  const Bytes data = Ramp32(4096);
  c->TakeData(data.data(), 4096);
  PumpFor(30ms);
  EXPECT_TRUE(meter.blocks.empty());
  EXPECT_EQ(passes, started);
  // With a shown display in another group only that group is fed.
  c->SetLevel1(&level);
  c->TakeData(data.data(), 4096);
  ASSERT_TRUE(PumpUntil([&] { return level.blocks.size() == 10; }));
  EXPECT_TRUE(meter.blocks.empty());
  meter.SetVisible(true);
  c->TakeData(data.data(), 4096);
  ASSERT_TRUE(PumpUntil([&] { return meter.blocks.size() == 51; }));
  Stop();
}

// RealTime on, AutoTrigger off: buffers only refresh the copy; each Trigger is one pass.
// From another thread a Trigger is queued, and only one at a time.
TEST_F(ConnectorTest, TriggerWithoutAutoTrigger) {
  Make(true, false, false);
  FakeDisplay l("l", 396), s("s", 256);
  c->SetLevel1(&l);
  c->SetSpectrum1(&s);
  Start();
  c->Trigger();  // not running yet: nothing
  ASSERT_TRUE(PumpUntil([&] { return c->Running(); }));
  EXPECT_EQ(TMMConnector::AutoCount(), 0);
  const Bytes data = Ramp32(4096);
  c->TakeData(data.data(), 4096);
  PumpFor(30ms);
  EXPECT_TRUE(s.blocks.empty());
  EXPECT_EQ(passes, 0);
  for (int i = 1; i <= 3; ++i) {
    c->Trigger();
    EXPECT_EQ(s.blocks.size(), static_cast<size_t>(i));
    EXPECT_EQ(l.blocks.size(), static_cast<size_t>(i));
  }
  std::thread([&] {
    c->Trigger();
    c->Trigger();  // one already queued: ignored
  }).join();
  EXPECT_EQ(c->PendingTriggers(), 1);
  EXPECT_EQ(s.blocks.size(), 3u);
  ASSERT_TRUE(PumpUntil([&] { return c->PendingTriggers() == 0; }));
  Pump(5);
  EXPECT_EQ(s.blocks.size(), 4u);
  EXPECT_EQ(Offsets(s.blocks, data), Steps(4, 256));
  EXPECT_EQ(passes, 4);
  Stop();
}

// While paused the displays keep moving on silence, once per buffer period, from the shared
// timer; new data is ignored. Restarted ends it.
TEST_F(ConnectorTest, PausedFeedsSilenceAtTheBufferPeriod) {
  struct Case {
    WAVEFORMATEX format;
    uint8_t silence;
  };
  const Case cases[] = {{kCd, 0}, {Pcm(8, 2, 44100), 128}};
  for (const Case& k : cases) {
    SCOPED_TRACE(+k.format.wBitsPerSample);
    Make(true, true, true, k.format);
    FakeDisplay s("s", 256);
    c->SetSpectrum1(&s);
    Start();
    ASSERT_TRUE(PumpUntil([&] { return c->Running(); }));
    const Bytes data = Ramp32(4096);
    c->TakeData(data.data(), 4096);
    ASSERT_TRUE(PumpUntil([&] { return !s.blocks.empty(); }));

    const int clients = SharedTimer::ClientCount();
    c->Paused();
    EXPECT_TRUE(c->Holding());
    EXPECT_EQ(SharedTimer::ClientCount(), clients + 1);
    const size_t atPause = s.blocks.size();
    c->TakeData(data.data(), 4096);  // ignored while holding
    // More than one buffer's worth: the timer has marked the silent buffer again.
    ASSERT_TRUE(PumpUntil([&] { return s.blocks.size() >= atPause + 40; }));
    for (size_t i = atPause; i < s.blocks.size(); ++i)
      ASSERT_EQ(s.blocks[i], Bytes(256, k.silence)) << "block " << i;

    c->Restarted();
    EXPECT_FALSE(c->Holding());
    EXPECT_EQ(SharedTimer::ClientCount(), clients);
    const size_t atRestart = s.blocks.size();
    PumpFor(150ms);
    EXPECT_EQ(s.blocks.size(), atRestart);
    // Data flows again.
    c->TakeData(data.data(), 4096);
    ASSERT_TRUE(PumpUntil([&] { return s.blocks.size() > atRestart; }));
    EXPECT_EQ(FindOffset(s.blocks[atRestart], data), 0);
    Stop();
    c.reset();
  }
}

TEST_F(ConnectorTest, StopAndDisableResetTheDisplays) {
  struct Case {
    const char* what;
    bool refreshOnStop;
    bool disable;  // Enabled := False instead of stopping
    int resets;
  };
  const Case cases[] = {
      {"stop, RefreshOnStop", true, false, 1},
      {"stop, no RefreshOnStop", false, false, 0},
      {"disable, RefreshOnStop", true, true, 1},
      {"disable, no RefreshOnStop", false, true, 1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    Make(true, true, false);
    c->SetRefreshOnStop(k.refreshOnStop);
    FakeDisplay l("l", 396), s("s", 256);
    c->SetLevel1(&l);
    c->SetSpectrum2(&s);
    Start();
    ASSERT_TRUE(PumpUntil([&] { return c->Running(); }));
    EXPECT_EQ(TMMConnector::AutoCount(), 1);
    if (k.disable)
      c->SetEnabled(false);
    else
      c->Stopped();
    EXPECT_EQ(l.resets, k.resets);
    EXPECT_EQ(s.resets, k.resets);
    EXPECT_FALSE(c->Running());
    EXPECT_EQ(TMMConnector::AutoCount(), 0);
    EXPECT_EQ(c->Prepared(), k.disable);
    const int after = passes;
    Pump(20);
    EXPECT_EQ(passes, after);  // the loop has ended
    if (k.disable) {
      // Data while disabled is not taken; enabling again restarts the loop.
      const Bytes data = Ramp32(4096);
      c->TakeData(data.data(), 4096);
      c->SetEnabled(true);
      ASSERT_TRUE(PumpUntil([&] { return c->Running(); }));
      PumpFor(50ms);
      const int settled = passes;
      PumpFor(50ms);
      EXPECT_EQ(passes, settled);  // nothing to hand over: the loop rests
      EXPECT_EQ(TMMConnector::AutoCount(), 1);
      EXPECT_TRUE(s.blocks.empty());
      c->TakeData(data.data(), 4096);
      ASSERT_TRUE(PumpUntil([&] { return s.blocks.size() == 16; }));
      c->Stopped();
    }
    c->Closed();
    c.reset();
  }
}

TEST_F(ConnectorTest, SpeedIsClampedAndMaxSpeedFollows) {
  TMMConnector a, b;
  EXPECT_EQ(a.Speed(), 5000);
  EXPECT_EQ(TMMConnector::MaxSpeed(), 5000);
  struct Case {
    int32_t setA, setB, a, b, max;
  };
  const Case cases[] = {
      {0, 5000, 1, 5000, 5000},     {1, 1, 1, 1, 1},           {-7, 300, 1, 300, 300},
      {9999, 300, 5000, 300, 5000}, {200, 100, 200, 100, 200},
  };
  for (const Case& k : cases) {
    a.SetSpeed(k.setA);
    b.SetSpeed(k.setB);
    EXPECT_EQ(a.Speed(), k.a);
    EXPECT_EQ(b.Speed(), k.b);
    EXPECT_EQ(TMMConnector::MaxSpeed(), k.max);
  }
  {
    TMMConnector fast;  // joining recomputes
    EXPECT_EQ(TMMConnector::MaxSpeed(), 5000);
  }
  EXPECT_EQ(TMMConnector::MaxSpeed(), 200);  // and leaving
}

TEST_F(ConnectorTest, RealTimeIsFixedWhileOpened) {
  TMMConnector k;
  k.SetWaveFormat(&kCd);
  k.SetRealTime(false);
  k.Opened();
  try {
    k.SetRealTime(true);
    ADD_FAILURE() << "no error";
  } catch (const EMMConnectorError& e) {
    EXPECT_STREQ(e.what(), "Change to property while device was open");
  }
  EXPECT_FALSE(k.RealTime());
  k.Closed();
  k.SetRealTime(true);
  EXPECT_TRUE(k.RealTime());
}

TEST_F(ConnectorTest, NewConnectorDefaults) {
  TMMConnector k;
  EXPECT_TRUE(k.Enabled());
  EXPECT_TRUE(k.AutoConvert());
  EXPECT_TRUE(k.AutoTrigger());
  EXPECT_TRUE(k.Synchronize());
  EXPECT_TRUE(k.RefreshOnStop());
  EXPECT_TRUE(k.RealTime());
  EXPECT_EQ(k.Speed(), 5000);
  EXPECT_EQ(k.TriggerMode(), tmNone);
  EXPECT_EQ(k.TriggerLevel(), 0);
  for (int s = 0; s < slSlotCount; ++s) EXPECT_EQ(k.Slot(static_cast<TMMDisplaySlot>(s)), nullptr);
  // EnterIdle is one value for every connector.
  TMMConnector other;
  other.SetEnterIdle(true);
  EXPECT_TRUE(k.EnterIdle());
  k.SetEnterIdle(false);
  EXPECT_FALSE(other.EnterIdle());
}

TEST_F(ConnectorTest, EnterIdleInstallsAnIdleHandlerWhileRunning) {
  Make(true, true, false);
  FakeDisplay d("d", 256);
  c->SetSpectrum1(&d);
  c->SetEnterIdle(true);
  Start();
  EXPECT_TRUE(TMMConnector::IdleHandlerInstalled());
  ASSERT_TRUE(PumpUntil([&] { return c->Running(); }));
  const Bytes data = Ramp32(4096);
  c->TakeData(data.data(), 4096);
  ASSERT_TRUE(PumpUntil([&] { return passes >= 5; }));
  c->Stopped();
  EXPECT_FALSE(TMMConnector::IdleHandlerInstalled());
  c->SetEnterIdle(false);
  c->Closed();
}

// Messages still queued for a destroyed connector are not handled.
TEST_F(ConnectorTest, DestroyedConnectorsMessagesAreDropped) {
  Make(true, true, false);
  TMMConnector keep;
  keep.SetWaveFormat(&kCd);
  keep.SetBufferSize(4096);
  keep.Opened();
  keep.Started();
  Start();  // both start messages are queued
  c.reset();
  ASSERT_TRUE(PumpUntil([&] { return keep.Running(); }));
  Pump(10);
  EXPECT_EQ(TMMConnector::AutoCount(), 1);
  keep.Stopped();
  EXPECT_EQ(TMMConnector::AutoCount(), 0);
  keep.Closed();
}

// Trigger search ---------------------------------------------------------------------------------

Bytes Samples16(std::initializer_list<int> v) {
  Bytes b;
  for (int s : v) {
    b.push_back(static_cast<uint8_t>(s & 0xFF));
    b.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
  }
  return b;
}
Bytes Samples8(std::initializer_list<int> v) {
  return Bytes(v.begin(), v.end());
}

TEST(TriggerSearch, Table) {
  const WAVEFORMATEX mono16 = Pcm(16, 1, 44100), stereo16 = Pcm(16, 2, 44100);
  const WAVEFORMATEX mono8 = Pcm(8, 1, 11025), stereo8 = Pcm(8, 2, 11025);
  struct Case {
    const char* what;
    const WAVEFORMATEX* f;
    Bytes data;
    int32_t level;
    TMMTriggerMode mode;
    int32_t expected;
  };
  const Case cases[] = {
      {"tmNone", &mono16, Samples16({0, 20000}), 50, tmNone, -1},
      {"16-bit up at T=16350", &mono16, Samples16({0, 100, 16349, 16350, 20000}), 50, tmUpFlank, 6},
      {"16-bit up: just below T", &mono16, Samples16({0, 16349, 16349, 0}), 50, tmUpFlank, -1},
      {"16-bit down: level negated", &mono16, Samples16({0, -16349, -16350, 0}), 50, tmDownFlank,
       4},
      {"16-bit down: equal is not above", &mono16, Samples16({-16350, -20000, 0}), 50, tmDownFlank,
       -1},
      {"16-bit signed: -1 to 0 crosses 0", &mono16, Samples16({-1, 0}), 0, tmUpFlank, 2},
      {"16-bit negative level", &mono16, Samples16({-20000, -9000}), -30, tmUpFlank, 2},
      {"stereo: right of the first frame pair", &stereo16,
       Samples16({0, 0, 0, 20000, 20000, 20000}), 50, tmUpFlank, 6},
      {"stereo: left before right", &stereo16, Samples16({0, 0, 20000, 20000}), 50, tmUpFlank, 4},
      {"stereo: across channels is no pair", &stereo16, Samples16({0, 20000, 0, 20000}), 50,
       tmUpFlank, -1},
      {"8-bit up, T = trunc(50*127/100)+128 = 191", &mono8, Samples8({100, 190, 191}), 50,
       tmUpFlank, 2},
      {"8-bit level 99: T = 253", &mono8, Samples8({252, 253}), 99, tmUpFlank, 1},
      {"8-bit down, T = 128-38 = 90", &mono8, Samples8({200, 91, 90}), 30, tmDownFlank, 2},
      {"8-bit unsigned: 200 is above 128", &mono8, Samples8({200, 100}), 0, tmDownFlank, 1},
      {"8-bit stereo right", &stereo8, Samples8({128, 0, 128, 255}), 50, tmUpFlank, 3},
      {"no crossing", &mono16, Samples16({0, 1, 2, 3, 4, 5, 6}), 50, tmUpFlank, -1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    EXPECT_EQ(
        TriggerSearch(k.f, k.data.data(), static_cast<int32_t>(k.data.size()), k.level, k.mode),
        k.expected);
  }
  const Bytes up = Samples16({0, 20000});
  EXPECT_EQ(TriggerSearch(&mono16, up.data(), 0, 50, tmUpFlank), -1);
}

// Oscilloscope group ------------------------------------------------------------------------------

// 16-bit mono samples counting up from 1 (below any trigger level used) with spikes.
Bytes ScopeData(const std::vector<int>& spikeOffsets) {
  Bytes b(4096);
  for (int i = 0; i < 2048; ++i) {
    const int v = i + 1;
    b[2 * i] = static_cast<uint8_t>(v & 0xFF);
    b[2 * i + 1] = static_cast<uint8_t>(v >> 8);
  }
  for (int off : spikeOffsets) {
    b[off] = 0x20;  // 20000
    b[off + 1] = 0x4E;
  }
  return b;
}

// Each pass moves to the next up crossing and hands the block there, then steps by the larger
// block (128); a crossing whose block would pass the end of the data ends the buffer.
TEST_F(ConnectorTest, OscilloscopeFollowsTheTrigger) {
  struct Case {
    std::vector<int> spikes;
    std::vector<int> expected;
  };
  std::vector<int> untilEnd = {100, 300, 1000};
  for (int off = 1128; off + 128 <= 4096; off += 128) untilEnd.push_back(off);
  const Case cases[] = {
      // 0 -> 100, from 228 -> 300, from 428 -> 1000, from 1128 none: plain steps.
      {{100, 300, 1000}, untilEnd},
      // From 428 the crossing at 4000 is found; its block does not fit.
      {{100, 300, 4000}, {100, 300}},
  };
  const WAVEFORMATEX mono16 = Pcm(16, 1, 44100);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.expected.size());
    Make(false, false, false, mono16);
    c->SetTriggerMode(tmUpFlank);
    c->SetTriggerLevel(50);
    FakeScope o1(64), o2(128);
    c->SetOscope1(&o1);
    c->SetOscope2(&o2);
    Start();
    const Bytes data = ScopeData(k.spikes);
    c->TakeData(data.data(), 4096);
    for (int i = 0; i < 80; ++i) c->Trigger();
    EXPECT_EQ(Offsets(o2.blocks, data), k.expected);
    ASSERT_EQ(o1.blocks.size(), o2.blocks.size());
    for (size_t i = 0; i < o1.blocks.size(); ++i)
      EXPECT_EQ(o1.blocks[i], Bytes(o2.blocks[i].begin(), o2.blocks[i].begin() + 64));
    Stop();
    c.reset();
  }
}

// The step with Scroll and Accelerate comes from the reference scope (Oscope1 when attached).
TEST_F(ConnectorTest, OscilloscopeStep) {
  struct Case {
    const char* what;
    bool inSlot1, inSlot2;
    bool refScrolls;  // the reference scope has Scroll and Accelerate
    bool otherScrolls;
    int32_t fft;
    TMMBits bits;
    TMMMode mode;
    int step;
  };
  const Case cases[] = {
      {"no scroll: the block", true, false, false, false, 256, b16Bit, mStereo, 512},
      {"(256/4)*2*2", true, false, true, false, 256, b16Bit, mStereo, 256},
      {"(512/4)*1*1", true, false, true, false, 512, b8Bit, mMono, 128},
      {"(128/4)*2*1", true, false, true, false, 128, b16Bit, mMono, 64},
      {"Oscope2 alone is the reference", false, true, true, false, 256, b16Bit, mStereo, 256},
      {"Oscope1 is the reference", true, true, false, true, 256, b16Bit, mStereo, 512},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    Make(false, false, false);
    FakeScope ref(512), other(512);
    ref.scroll = ref.accelerate = k.refScrolls;
    other.scroll = other.accelerate = k.otherScrolls;
    for (FakeScope* s : {&ref, &other}) {
      s->fftLength = k.fft;
      s->bits = k.bits;
      s->mode = k.mode;
    }
    if (k.inSlot1) c->SetOscope1(&ref);
    if (k.inSlot2) c->SetOscope2(k.inSlot1 ? &other : &ref);
    Start();
    const Bytes data = Ramp32(4096);
    c->TakeData(data.data(), 4096);
    for (int i = 0; i < 80; ++i) c->Trigger();
    std::vector<int> expected;
    for (int off = 0; off + 512 <= 4096; off += k.step) expected.push_back(off);
    EXPECT_EQ(Offsets(ref.blocks, data), expected);
    Stop();
    c.reset();
  }
}

// End to end -------------------------------------------------------------------------------------

// A wave input over a stepped device feeds a connector that feeds a sink: the chain gets every
// byte unchanged, and the displays get each buffer's blocks in real time through the loop.
TEST_F(ConnectorTest, WaveInThroughConnectorToSink) {
  SimCaptureBackend sim(std::vector<SimDeviceConfig>(1));
  auto w = std::make_unique<TMMWaveIn>(nullptr, &sim);
  w->SetBufferSize(4096);
  w->SetMode(mStereo);
  w->SetBitLength(b16Bit);
  w->SetSampleRate(44100);
  w->SetCallBackMode(cmWindow);
  c = std::make_unique<TMMConnector>();
  SinkStage sink;
  sink.checkRamp = true;
  w->SetOutput(c.get());
  c->SetOutput(&sink);
  FakeDisplay level("l", 396), meter("m", 80), spectrum("s", 256);
  c->SetLevel1(&level);
  c->SetMeter1(&meter);
  c->SetSpectrum1(&spectrum);
  ASSERT_NE(spectrum.formats.size(), 0u);
  EXPECT_EQ(+spectrum.formats.back().nAvgBytesPerSec, 176400u);

  w->Start();
  ASSERT_TRUE(c->Prepared());
  ASSERT_TRUE(PumpUntil([&] { return c->Running(); }));
  const int buffers = 4;
  for (int i = 0; i < buffers; ++i) {
    sim.Step(w->Handle(), 4096);
    ASSERT_TRUE(PumpUntil([&] { return sink.buffers == static_cast<uint64_t>(i + 1); }));
    // Nothing newer arrives until every group has gone through this buffer.
    ASSERT_TRUE(PumpUntil([&] {
      return level.blocks.size() >= 10u * (i + 1) && meter.blocks.size() >= 51u * (i + 1) &&
             spectrum.blocks.size() >= 16u * (i + 1);
    })) << "buffer "
        << i;
  }
  w->Stop();
  EXPECT_FALSE(c->Prepared());
  EXPECT_EQ(spectrum.resets, 1);

  EXPECT_EQ(sink.bytes, RampBytes(0, 4096 * buffers));
  EXPECT_EQ(sink.rampErrors, 0u);
  const Bytes stream(sink.bytes.begin(), sink.bytes.end());
  struct Check {
    FakeDisplay* d;
    int block, perBuffer;
  };
  for (const Check& k :
       {Check{&level, 396, 10}, Check{&meter, 80, 51}, Check{&spectrum, 256, 16}}) {
    SCOPED_TRACE(k.block);
    std::vector<int> expected;
    for (int b = 0; b < buffers; ++b)
      for (int off : Steps(k.perBuffer, k.block, b * 4096)) expected.push_back(off);
    EXPECT_EQ(Offsets(k.d->blocks, stream), expected);
  }
  w->Close();
  w->SetOutput(nullptr);
  c->SetOutput(nullptr);
}

}  // namespace
