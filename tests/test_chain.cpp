// The stage chain: linking and its refusals, the link invariant, format propagation, the
// block size, state spreading by a device stage, delivery, destruction and the block pool.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "audio/MMAlloc.h"
#include "audio/MMDSPObj.h"
#include "audio/MMFormat.h"

namespace {

// Everything the stages of one test were told, as "Name:what", in the order it happened.
struct EventLog {
  std::vector<std::string> events;

  std::vector<std::string> Take() {
    std::vector<std::string> out;
    out.swap(events);
    return out;
  }
  bool Mentions(const std::string& stage) const {
    for (const std::string& e : events)
      if (e.rfind(stage + ":", 0) == 0) return true;
    return false;
  }
};

std::string Describe(const WAVEFORMATEX* f) {
  return f ? "format " + std::to_string(f->nSamplesPerSec) : "format none";
}

// Records every notification, format, block size and buffer call, then does the default.
template <typename Base>
class Recording : public Base {
 public:
  Recording(EventLog& log, const std::string& name, TComponent* owner = nullptr)
      : Base(owner), log_(log) {
    this->SetName(name);
  }

  // Runs on every recorded call, after it is logged and before the default behaviour.
  std::function<void(const std::string& what)> probe;
  std::vector<PWaveHdr> buffers;

  void SetWaveFormat(const WAVEFORMATEX* f) override {
    Record(Describe(f));
    Base::SetWaveFormat(f);
  }
  void SetBufferSize(int32_t v) override {
    Record("BufferSize " + std::to_string(v));
    Base::SetBufferSize(v);
  }
  void Opened() override {
    Record("Opened");
    Base::Opened();
  }
  void Closed() override {
    Record("Closed");
    Base::Closed();
  }
  void Started() override {
    Record("Started");
    Base::Started();
  }
  void Paused() override {
    Record("Paused");
    Base::Paused();
  }
  void Restarted() override {
    Record("Restarted");
    Base::Restarted();
  }
  void Stopped() override {
    Record("Stopped");
    Base::Stopped();
  }
  void Reset() override {
    Record("Reset");
    Base::Reset();
  }
  void BufferReady(PWaveHdr b) override {
    buffers.push_back(b);
    Record("BufferReady");
    Base::BufferReady(b);
  }
  void BufferLoad(PWaveHdr b, bool& more) override {
    buffers.push_back(b);
    Record("BufferLoad");
    Base::BufferLoad(b, more);
  }

 private:
  void Record(const std::string& what) {
    log_.events.push_back(this->Name() + ":" + what);
    if (probe) probe(what);
  }
  EventLog& log_;
};

// A processing stage publishing both links.
using Stage = Recording<TMMDSPComponent>;

// Publishes no "Output", like an encoder at a chain's end.
class EndStage : public Stage {
 public:
  using Stage::Stage;
  bool PublishesOutput() const override { return false; }
};

// Publishes no "Input", like a device at a chain's head.
class HeadStage : public Stage {
 public:
  using Stage::Stage;
  bool PublishesInput() const override { return false; }
};

class DeviceBase : public TMMCustomSoundComponent {
 public:
  using TMMCustomSoundComponent::TMMCustomSoundComponent;
  void SetNumBuffers(int32_t v) override { numBuffers_ = v; }
  int32_t GetNumBuffers() const override { return numBuffers_; }
  void SetDeviceID(int32_t v) override { deviceId_ = v; }
  int32_t GetDeviceID() const override { return deviceId_; }
  void SetProductName(const std::string& v) override { product_ = v; }
  std::string GetProductName() const override { return product_; }
  void SetCallBackMode(TMMCBMode v) override { mode_ = v; }
  TMMCBMode GetCallBackMode() const override { return mode_; }

 private:
  int32_t numBuffers_ = 4;
  int32_t deviceId_ = 0;
  std::string product_;
  TMMCBMode mode_ = cmWindow;
};

using Device = Recording<DeviceBase>;

WAVEFORMATEX Pcm(int bits, int channels, int rate) {
  WAVEFORMATEX f{};
  BuildPCMFormat(&f, bits, channels, rate);
  return f;
}

bool SameFormat(const WAVEFORMATEX* a, const WAVEFORMATEX* b) {
  return a && b && std::memcmp(a, b, sizeof(WAVEFORMATEX)) == 0;
}

void Link(TMMDSPComponent& from, TMMDSPComponent& to) {
  from.SetOutput(&to);
}

// A.Output is B exactly when B.Input is A, over every live stage.
void ExpectLinksAgree() {
  for (TMMDSPComponent* s : DSPComponentList()) {
    if (s->Output()) {
      EXPECT_EQ(s->Output()->Input(), s) << s->Name() << " -> " << s->Output()->Name();
    }
    if (s->Input()) {
      EXPECT_EQ(s->Input()->Output(), s) << s->Input()->Name() << " -> " << s->Name();
    }
  }
}

class ChainTest : public ::testing::Test {
 protected:
  EventLog log;
  const WAVEFORMATEX cd = Pcm(16, 2, 44100);
  const WAVEFORMATEX phone = Pcm(8, 1, 8000);
};

// Linking -----------------------------------------------------------------------------------

TEST_F(ChainTest, LinkingSetsBothDirectionsFromEitherSide) {
  Stage a(log, "A"), b(log, "B"), c(log, "C");
  a.SetOutput(&b);
  c.SetInput(&b);
  EXPECT_EQ(a.Output(), &b);
  EXPECT_EQ(b.Input(), &a);
  EXPECT_EQ(b.Output(), &c);
  EXPECT_EQ(c.Input(), &b);
  EXPECT_EQ(b.InputLinkName(), "Output");
  EXPECT_EQ(b.OutputLinkName(), "Input");
  // A head without "Input" and an end without "Output" still link where they belong.
  HeadStage head(log, "Head");
  EndStage end(log, "End");
  head.SetOutput(&a);
  end.SetInput(&c);
  EXPECT_EQ(a.Input(), &head);
  EXPECT_EQ(c.Output(), &end);
  ExpectLinksAgree();
}

TEST_F(ChainTest, RefusedOrRepeatedAssignmentsChangeNothingAndNotifyNoOne) {
  struct Stages {
    Stage &a, &b, &c;
    HeadStage& head;
    EndStage& end;
  };
  struct Case {
    const char* name;
    std::function<void(Stages&)> assign;
  };
  const Case cases[] = {
      {"A as its own input", [](Stages& s) { s.a.SetInput(&s.a); }},
      {"A as its own output", [](Stages& s) { s.a.SetOutput(&s.a); }},
      {"B as its own input", [](Stages& s) { s.b.SetInput(&s.b); }},
      {"C as its own output", [](Stages& s) { s.c.SetOutput(&s.c); }},
      {"C.Output := A closes a loop", [](Stages& s) { s.c.SetOutput(&s.a); }},
      {"A.Input := C closes a loop", [](Stages& s) { s.a.SetInput(&s.c); }},
      {"C.Output := B closes a loop", [](Stages& s) { s.c.SetOutput(&s.b); }},
      {"A.Input := B closes a loop", [](Stages& s) { s.a.SetInput(&s.b); }},
      {"input without an Output property", [](Stages& s) { s.a.SetInput(&s.end); }},
      {"output without an Input property", [](Stages& s) { s.c.SetOutput(&s.head); }},
      {"B.Input := A again", [](Stages& s) { s.b.SetInput(&s.a); }},
      {"A.Output := B again", [](Stages& s) { s.a.SetOutput(&s.b); }},
      {"A.Input := none when it has none", [](Stages& s) { s.a.SetInput(nullptr); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Stage a(log, "A"), b(log, "B"), cs(log, "C");
    HeadStage head(log, "Head");
    EndStage end(log, "End");
    Link(a, b);
    Link(b, cs);
    a.SetWaveFormat(&cd);
    log.Take();

    Stages s{a, b, cs, head, end};
    c.assign(s);

    EXPECT_EQ(a.Input(), nullptr);
    EXPECT_EQ(a.Output(), &b);
    EXPECT_EQ(b.Input(), &a);
    EXPECT_EQ(b.Output(), &cs);
    EXPECT_EQ(cs.Input(), &b);
    EXPECT_EQ(cs.Output(), nullptr);
    EXPECT_EQ(head.Output(), nullptr);
    EXPECT_EQ(end.Input(), nullptr);
    EXPECT_TRUE(SameFormat(cs.WaveFormat(), &cd));
    EXPECT_EQ(log.Take(), std::vector<std::string>{});
  }
}

TEST_F(ChainTest, OnlyStagesCanBePeers) {
  Stage a(log, "A");
  TComponent plain;
  EXPECT_FALSE(a.CanConnectInput(&plain));
  EXPECT_FALSE(a.CanConnectOutput(&plain));
  EXPECT_FALSE(a.CanConnectInput(nullptr));
}

// With A -> C -> D linked, A.Output := B takes C out: C learns it has no format any more and
// passes that on, while B takes A's format.
TEST_F(ChainTest, NewOutputDetachesTheOldOneAndClearsItsChainFormat) {
  Stage a(log, "A"), b(log, "B"), c(log, "C"), d(log, "D");
  Link(a, c);
  Link(c, d);
  a.SetWaveFormat(&cd);
  log.Take();

  a.SetOutput(&b);

  EXPECT_EQ(a.Output(), &b);
  EXPECT_EQ(b.Input(), &a);
  EXPECT_EQ(c.Input(), nullptr);
  EXPECT_EQ(c.Output(), &d);
  EXPECT_EQ(c.WaveFormat(), nullptr);
  EXPECT_EQ(d.WaveFormat(), nullptr);
  EXPECT_TRUE(SameFormat(b.WaveFormat(), &cd));
  EXPECT_EQ(log.Take(), (std::vector<std::string>{"A:Stopped", "C:format none", "D:format none",
                                                  "B:format 44100"}));
  ExpectLinksAgree();
}

// With A -> C -> D linked, B.Input := A takes C out silently: C keeps its format.
TEST_F(ChainTest, NewInputStealsThePeerFromItsOldOutputSilently) {
  Stage a(log, "A"), b(log, "B"), c(log, "C"), d(log, "D");
  Link(a, c);
  Link(c, d);
  a.SetWaveFormat(&cd);
  log.Take();

  b.SetInput(&a);

  EXPECT_EQ(a.Output(), &b);
  EXPECT_EQ(b.Input(), &a);
  EXPECT_EQ(c.Input(), nullptr);
  EXPECT_TRUE(SameFormat(c.WaveFormat(), &cd));
  EXPECT_TRUE(SameFormat(d.WaveFormat(), &cd));
  EXPECT_TRUE(SameFormat(b.WaveFormat(), &cd));
  EXPECT_FALSE(log.Mentions("C"));
  EXPECT_FALSE(log.Mentions("D"));
  ExpectLinksAgree();
}

TEST_F(ChainTest, RelinkingKeepsBothDirectionsInAgreement) {
  enum { A, B, C, X, None = -1 };
  struct Case {
    const char* name;
    std::function<void(Stage* const* s)> relink;
    int outputs[4];  // expected output of A, B, C, X afterwards
  };
  const Case cases[] = {
      {"X.Output := C", [](Stage* const* s) { s[X]->SetOutput(s[C]); }, {B, None, None, C}},
      {"C.Input := X", [](Stage* const* s) { s[C]->SetInput(s[X]); }, {B, None, None, C}},
      {"X.Input := B", [](Stage* const* s) { s[X]->SetInput(s[B]); }, {B, X, None, None}},
      {"B.Output := X", [](Stage* const* s) { s[B]->SetOutput(s[X]); }, {B, X, None, None}},
      {"X.Input := A", [](Stage* const* s) { s[X]->SetInput(s[A]); }, {X, C, None, None}},
      {"A.Output := C skips B",
       [](Stage* const* s) { s[A]->SetOutput(s[C]); },
       {C, None, None, None}},
      {"C.Input := A skips B",
       [](Stage* const* s) { s[C]->SetInput(s[A]); },
       {C, None, None, None}},
      {"B.Input := none", [](Stage* const* s) { s[B]->SetInput(nullptr); }, {None, C, None, None}},
      {"B.Output := none",
       [](Stage* const* s) { s[B]->SetOutput(nullptr); },
       {B, None, None, None}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Stage a(log, "A"), b(log, "B"), cs(log, "C"), x(log, "X");
    Stage* const s[] = {&a, &b, &cs, &x};
    Link(a, b);
    Link(b, cs);
    c.relink(s);
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(s[i]->Output(), c.outputs[i] == None ? nullptr : s[c.outputs[i]]) << s[i]->Name();
    ExpectLinksAgree();
  }
}

// Format propagation ------------------------------------------------------------------------

TEST_F(ChainTest, FormatSetOnTheHeadReachesEveryStageAsItsOwnCopy) {
  Stage a(log, "A"), b(log, "B"), c(log, "C");
  Link(a, b);
  Link(b, c);
  for (const WAVEFORMATEX* f : {&cd, &phone}) {
    SCOPED_TRACE(Describe(f));
    a.SetWaveFormat(f);
    std::set<const void*> records{f};
    for (Stage* s : {&a, &b, &c}) {
      EXPECT_TRUE(SameFormat(s->WaveFormat(), f)) << s->Name();
      records.insert(s->WaveFormat());
    }
    EXPECT_EQ(records.size(), 4u) << "stages share a format record";
  }
  a.SetWaveFormat(nullptr);
  for (Stage* s : {&a, &b, &c}) EXPECT_EQ(s->WaveFormat(), nullptr) << s->Name();
}

TEST_F(ChainTest, LinkingPushesTheUpstreamFormatDownTheChain) {
  struct Case {
    const char* name;
    std::function<void(Stage& a, Stage& b)> link;
  };
  const Case cases[] = {
      {"A.Output := B", [](Stage& a, Stage& b) { a.SetOutput(&b); }},
      {"B.Input := A", [](Stage& a, Stage& b) { b.SetInput(&a); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Stage a(log, "A"), b(log, "B"), cs(log, "C");
    Link(b, cs);
    a.SetWaveFormat(&cd);
    ASSERT_EQ(cs.WaveFormat(), nullptr);
    c.link(a, b);
    EXPECT_TRUE(SameFormat(b.WaveFormat(), &cd));
    EXPECT_TRUE(SameFormat(cs.WaveFormat(), &cd));
  }
}

TEST_F(ChainTest, NothingIsPushedWhileTheFormLoads) {
  TComponent form;
  form.BeginLoading();
  auto* a = new Stage(log, "A", &form);
  auto* b = new Stage(log, "B", &form);
  auto* c = new Stage(log, "C", &form);
  a->SetWaveFormat(&cd);
  Link(*a, *b);
  Link(*b, *c);
  EXPECT_TRUE(SameFormat(a->WaveFormat(), &cd));
  EXPECT_EQ(b->WaveFormat(), nullptr);
  EXPECT_EQ(c->WaveFormat(), nullptr);

  form.EndLoading();
  EXPECT_TRUE(SameFormat(b->WaveFormat(), &cd));
  EXPECT_TRUE(SameFormat(c->WaveFormat(), &cd));
}

// Block size and default notifications ----------------------------------------------------

TEST_F(ChainTest, OpenedFixesTheBlockSizeToWholeFrames) {
  const WAVEFORMATEX mono16 = Pcm(16, 1, 22050);
  struct Case {
    const char* name;
    const WAVEFORMATEX* f;
    int32_t size, real;
  };
  const Case cases[] = {
      {"4-byte frames, 4097", &cd, 4097, 4096},     {"4-byte frames, 3", &cd, 3, 4},
      {"4-byte frames, 4096", &cd, 4096, 4096},     {"4-byte frames, 4", &cd, 4, 4},
      {"2-byte frames, 4097", &mono16, 4097, 4096}, {"1-byte frames, 4097", &phone, 4097, 4097},
      {"no format, 4097", nullptr, 4097, 4097},     {"no format, 3", nullptr, 3, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Stage s(log, "S");
    EXPECT_EQ(s.BufferSize(), 2048);
    s.SetWaveFormat(c.f);
    s.SetBufferSize(c.size);
    EXPECT_EQ(s.BufferSize(), c.size);
    s.Opened();
    EXPECT_EQ(s.RealBufferSize(), c.real);
    EXPECT_EQ(s.BufferSize(), c.real);
    // Already open: a new size waits for the next open.
    s.SetBufferSize(c.size + 4);
    s.Opened();
    EXPECT_EQ(s.RealBufferSize(), c.real);
    EXPECT_EQ(s.BufferSize(), c.real);
    s.Closed();
    EXPECT_EQ(s.BufferSize(), c.size + 4);
  }
}

TEST_F(ChainTest, DefaultNotificationsFollowTheStateTable) {
  using Notify = void (TMMDSPComponent::*)();
  const Notify Opened = &TMMDSPComponent::Opened, Closed = &TMMDSPComponent::Closed,
               Started = &TMMDSPComponent::Started, Paused = &TMMDSPComponent::Paused,
               Restarted = &TMMDSPComponent::Restarted, Stopped = &TMMDSPComponent::Stopped,
               Reset = &TMMDSPComponent::Reset;
  struct Case {
    const char* name;
    std::vector<Notify> sequence;
    bool opened, started, paused;
  };
  const Case cases[] = {
      {"Started needs Opened", {Started}, false, false, false},
      {"Opened, Started", {Opened, Started}, true, true, false},
      {"Paused", {Opened, Started, Paused}, true, true, true},
      {"Restarted", {Opened, Started, Paused, Restarted}, true, true, false},
      {"Stopped clears Paused", {Opened, Started, Paused, Stopped}, true, false, false},
      {"second Opened leaves a running stage alone",
       {Opened, Started, Paused, Opened},
       true,
       true,
       true},
      {"reopening starts from rest", {Opened, Started, Paused, Closed, Opened}, true, false, false},
      {"Closed", {Opened, Closed}, false, false, false},
      {"Reset changes nothing", {Opened, Started, Reset}, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Stage s(log, "S");
    for (Notify n : c.sequence) (s.*n)();
    EXPECT_EQ(s.IsOpened(), c.opened);
    EXPECT_EQ(s.IsStarted(), c.started);
    EXPECT_EQ(s.IsPaused(), c.paused);
  }
}

// Only the changed stage stops; the device keeps running.
TEST_F(ChainTest, ChangingARunningStageStopsThatStageFirst) {
  struct Case {
    const char* name;
    std::function<void(Stage& b)> change;
    bool stops;
  };
  const Case cases[] = {
      {"new format", [this](Stage& b) { b.SetWaveFormat(&phone); }, true},
      {"new BufferSize", [](Stage& b) { b.SetBufferSize(1000); }, true},
      {"the format it holds", [](Stage& b) { b.SetWaveFormat(b.WaveFormat()); }, false},
      {"the same BufferSize", [](Stage& b) { b.SetBufferSize(2048); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Device d(log, "D");
    Stage b(log, "B");
    Link(d, b);
    d.SetWaveFormat(&cd);
    d.Opened();
    d.Started();
    ASSERT_TRUE(b.IsStarted());
    const WAVEFORMATEX* held = b.WaveFormat();
    bool stopped = false;
    uint32_t rateWhenStopped = 0;
    b.probe = [&](const std::string& what) {
      if (what != "Stopped") return;
      stopped = true;
      rateWhenStopped = b.WaveFormat() ? b.WaveFormat()->nSamplesPerSec : 0;
    };
    log.Take();

    c.change(b);

    EXPECT_EQ(stopped, c.stops);
    EXPECT_EQ(b.IsStarted(), !c.stops);
    if (c.stops) {
      EXPECT_EQ(rateWhenStopped, 44100u) << "stopped after the change";
    } else {
      EXPECT_EQ(b.WaveFormat(), held);
    }
    EXPECT_TRUE(d.IsStarted());
    EXPECT_FALSE(log.Mentions("D"));
    b.probe = nullptr;
  }
}

// State spreading by a device stage ---------------------------------------------------------

TEST_F(ChainTest, DeviceOpensItsChainWithItsBlockSizeBeforeItself) {
  Device d(log, "D");
  Stage b(log, "B"), c(log, "C");
  Link(d, b);
  Link(b, c);
  d.SetWaveFormat(&cd);
  d.SetBufferSize(4097);
  std::vector<bool> deviceOpenWhenTold;
  auto watch = [&](const std::string& what) {
    if (what == "Opened") deviceOpenWhenTold.push_back(d.IsOpened());
  };
  b.probe = watch;
  c.probe = watch;
  log.Take();

  d.Opened();

  // The stages get the configured 4097, not the device's fixed 4096.
  EXPECT_EQ(log.Take(), (std::vector<std::string>{"D:Opened", "B:BufferSize 4097", "B:Opened",
                                                  "C:BufferSize 4097", "C:Opened"}));
  EXPECT_EQ(deviceOpenWhenTold, (std::vector<bool>{false, false}));
  for (TMMDSPComponent* s : std::initializer_list<TMMDSPComponent*>{&d, &b, &c}) {
    EXPECT_TRUE(s->IsOpened()) << s->Name();
    EXPECT_EQ(s->RealBufferSize(), 4096) << s->Name();
  }
  b.probe = nullptr;
  c.probe = nullptr;
}

TEST_F(ChainTest, DeviceTellsItsChainInOrderBeforeItself) {
  using Notify = void (TMMDSPComponent::*)();
  using State = bool (TMMDSPComponent::*)() const;
  struct Case {
    const char* name;
    std::vector<Notify> before;
    Notify act;
    State state;  // the device's state the notification changes
    bool stateWhileChainIsTold;
  };
  const Case cases[] = {
      {"Started",
       {&TMMDSPComponent::Opened},
       &TMMDSPComponent::Started,
       &TMMDSPComponent::IsStarted,
       false},
      {"Paused",
       {&TMMDSPComponent::Opened, &TMMDSPComponent::Started},
       &TMMDSPComponent::Paused,
       &TMMDSPComponent::IsPaused,
       false},
      {"Restarted",
       {&TMMDSPComponent::Opened, &TMMDSPComponent::Started, &TMMDSPComponent::Paused},
       &TMMDSPComponent::Restarted,
       &TMMDSPComponent::IsPaused,
       true},
      {"Stopped",
       {&TMMDSPComponent::Opened, &TMMDSPComponent::Started},
       &TMMDSPComponent::Stopped,
       &TMMDSPComponent::IsStarted,
       true},
      {"Closed",
       {&TMMDSPComponent::Opened},
       &TMMDSPComponent::Closed,
       &TMMDSPComponent::IsOpened,
       true},
      {"Reset", {&TMMDSPComponent::Opened}, &TMMDSPComponent::Reset, nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Device d(log, "D");
    Stage b(log, "B"), cs(log, "C");
    Link(d, b);
    Link(b, cs);
    for (Notify n : c.before) (d.*n)();
    std::vector<bool> seen;
    auto watch = [&](const std::string& what) {
      if (what == c.name && c.state) seen.push_back((d.*c.state)());
    };
    b.probe = watch;
    cs.probe = watch;
    log.Take();

    (d.*c.act)();

    const std::string n = c.name;
    EXPECT_EQ(log.Take(), (std::vector<std::string>{"D:" + n, "B:" + n, "C:" + n}));
    if (c.state) {
      EXPECT_EQ(seen, (std::vector<bool>{c.stateWhileChainIsTold, c.stateWhileChainIsTold}));
      EXPECT_EQ((d.*c.state)(), !c.stateWhileChainIsTold);
    }
    b.probe = nullptr;
    cs.probe = nullptr;
  }
}

// Stages named "D..." are device stages; the first device gets BufferSize 3000.
std::vector<std::unique_ptr<TMMDSPComponent>> BuildChain(EventLog& log,
                                                         const std::vector<std::string>& names) {
  std::vector<std::unique_ptr<TMMDSPComponent>> chain;
  bool firstDevice = true;
  for (const std::string& n : names) {
    if (n[0] == 'D') {
      chain.push_back(std::make_unique<Device>(log, n));
      if (firstDevice) chain.back()->SetBufferSize(3000);
      firstDevice = false;
    } else {
      chain.push_back(std::make_unique<Stage>(log, n));
    }
    if (chain.size() > 1) Link(*chain[chain.size() - 2], *chain.back());
  }
  return chain;
}

TEST_F(ChainTest, DeviceNotificationsStopAtTheNextDevice) {
  using Notify = void (TMMDSPComponent::*)();
  using Log = std::vector<std::string>;
  const std::vector<std::string> twoDevices = {"D1", "X", "D2", "Y"};
  const std::vector<std::string> deviceInMiddle = {"A", "D", "B"};
  struct Case {
    const char* name;
    const std::vector<std::string>& chain;
    std::string device;
    Notify act;
    Log expected;
  };
  const Case cases[] = {
      {"D1 Opened reaches D2 once, D2 opens its own part",
       twoDevices,
       "D1",
       &TMMDSPComponent::Opened,
       {"D1:Opened", "X:BufferSize 3000", "X:Opened", "D2:BufferSize 3000", "D2:Opened",
        "Y:BufferSize 3000", "Y:Opened"}},
      {"D1 Started",
       twoDevices,
       "D1",
       &TMMDSPComponent::Started,
       {"D1:Started", "X:Started", "D2:Started", "Y:Started"}},
      {"D1 Paused",
       twoDevices,
       "D1",
       &TMMDSPComponent::Paused,
       {"D1:Paused", "X:Paused", "D2:Paused", "Y:Paused"}},
      {"D1 Stopped tells D2 first and only once",
       twoDevices,
       "D1",
       &TMMDSPComponent::Stopped,
       {"D1:Stopped", "D2:Stopped", "Y:Stopped", "X:Stopped"}},
      {"D1 Closed tells D2 first and only once",
       twoDevices,
       "D1",
       &TMMDSPComponent::Closed,
       {"D1:Closed", "D2:Closed", "Y:Closed", "X:Closed"}},
      {"D2 Opened starts its walk at D2",
       twoDevices,
       "D2",
       &TMMDSPComponent::Opened,
       {"D2:Opened", "Y:BufferSize 2048", "Y:Opened"}},
      {"D2 Started starts its walk at D2",
       twoDevices,
       "D2",
       &TMMDSPComponent::Started,
       {"D2:Started", "Y:Started"}},
      {"D2 Stopped starts its walk at D2",
       twoDevices,
       "D2",
       &TMMDSPComponent::Stopped,
       {"D2:Stopped", "Y:Stopped"}},
      {"a lone device walks from the top of its chain",
       deviceInMiddle,
       "D",
       &TMMDSPComponent::Opened,
       {"D:Opened", "A:BufferSize 3000", "A:Opened", "B:BufferSize 3000", "B:Opened"}},
      {"a lone device stops from the top of its chain",
       deviceInMiddle,
       "D",
       &TMMDSPComponent::Stopped,
       {"D:Stopped", "A:Stopped", "B:Stopped"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto chain = BuildChain(log, c.chain);
    log.Take();
    for (auto& s : chain)
      if (s->Name() == c.device) ((*s).*c.act)();
    EXPECT_EQ(log.Take(), c.expected);
  }
}

// Delivery ------------------------------------------------------------------------------------

TEST_F(ChainTest, BufferReadyHandsTheSameBufferDownInPlace) {
  Device d(log, "D");
  Stage b(log, "B"), c(log, "C");
  Link(d, b);
  Link(b, c);
  log.Take();

  // One pooled block: the header, then the data right behind it.
  constexpr uint32_t kData = 64;
  TMMAllocator pool;
  auto* buf = static_cast<TMMChainBuffer*>(pool.Acquire(0, sizeof(TMMChainBuffer) + kData));
  ASSERT_NE(buf, nullptr);
  buf->lpData = reinterpret_cast<char*>(buf + 1);
  buf->dwBufferLength = kData;
  buf->dwBytesRecorded = kData;
  std::memset(buf->lpData, 1, kData);
  char* const data = buf->lpData;
  PWaveHdr const sent = buf;

  d.OnBufferReady = [&](TComponent* sender, PWaveHdr h) {
    log.events.push_back("D:hook");
    EXPECT_EQ(sender, &d);
    EXPECT_EQ(h, sent);
  };
  // B works on the samples in place and keeps only half of them.
  b.OnBufferReady = [&](TComponent* sender, PWaveHdr h) {
    log.events.push_back("B:hook");
    EXPECT_EQ(sender, &b);
    h->lpData[0] = 42;
    h->dwBytesRecorded = kData / 2;
  };
  const char* dataSeenByC = nullptr;
  char firstSeenByC = 0;
  uint32_t bytesSeenByC = 0;
  c.OnBufferReady = [&](TComponent*, PWaveHdr h) {
    log.events.push_back("C:hook");
    dataSeenByC = h->lpData;
    firstSeenByC = h->lpData[0];
    bytesSeenByC = h->dwBytesRecorded;
  };

  d.BufferReady(buf);

  EXPECT_EQ(log.Take(), (std::vector<std::string>{"D:BufferReady", "D:hook", "B:BufferReady",
                                                  "B:hook", "C:BufferReady", "C:hook"}));
  for (Stage* s : std::initializer_list<Stage*>{&b, &c})
    EXPECT_EQ(s->buffers, std::vector<PWaveHdr>{sent}) << s->Name();
  EXPECT_EQ(d.buffers, std::vector<PWaveHdr>{sent});
  EXPECT_EQ(dataSeenByC, data);
  EXPECT_EQ(firstSeenByC, 42);
  EXPECT_EQ(bytesSeenByC, kData / 2);

  pool.Release(buf);
  EXPECT_EQ(buf, nullptr);
}

TEST_F(ChainTest, BufferLoadWalksUpstreamWithMoreUntouched) {
  Stage a(log, "A"), b(log, "B"), c(log, "C");
  Link(a, b);
  Link(b, c);
  log.Take();
  TMMChainBuffer buf{};
  for (bool more : {true, false}) {
    SCOPED_TRACE(more);
    bool m = more;
    c.BufferLoad(&buf, m);
    EXPECT_EQ(m, more);
    EXPECT_EQ(log.Take(),
              (std::vector<std::string>{"C:BufferLoad", "B:BufferLoad", "A:BufferLoad"}));
  }
  for (Stage* s : {&a, &b, &c})
    EXPECT_EQ(s->buffers, (std::vector<PWaveHdr>{&buf, &buf})) << s->Name();
}

// Destruction and the stage list --------------------------------------------------------------

TEST_F(ChainTest, DestroyingTheMiddleStageUnlinksItsNeighbours) {
  for (bool byOwner : {false, true}) {
    SCOPED_TRACE(byOwner ? "destroyed by its owner" : "destroyed directly");
    Stage a(log, "A"), c(log, "C");
    auto form = std::make_unique<TComponent>();
    auto* b = new Stage(log, "B", byOwner ? form.get() : nullptr);
    Link(a, *b);
    Link(*b, c);
    a.SetWaveFormat(&cd);
    ASSERT_TRUE(SameFormat(c.WaveFormat(), &cd));

    if (byOwner)
      form.reset();
    else
      delete b;

    EXPECT_EQ(a.Output(), nullptr);
    EXPECT_EQ(c.Input(), nullptr);
    EXPECT_TRUE(SameFormat(a.WaveFormat(), &cd));
    EXPECT_EQ(c.WaveFormat(), nullptr);
    EXPECT_EQ(DSPComponentList(), (std::vector<TMMDSPComponent*>{&a, &c}));
    ExpectLinksAgree();
  }
}

TEST_F(ChainTest, StageListHoldsTheLiveStagesInCreationOrder) {
  {
    auto a = std::make_unique<Stage>(log, "A");
    auto b = std::make_unique<Stage>(log, "B");
    auto c = std::make_unique<Stage>(log, "C");
    EXPECT_TRUE(DSPComponentListExists());
    EXPECT_EQ(DSPComponentList(), (std::vector<TMMDSPComponent*>{a.get(), b.get(), c.get()}));
    b.reset();
    auto d = std::make_unique<Device>(log, "D");
    EXPECT_EQ(DSPComponentList(), (std::vector<TMMDSPComponent*>{a.get(), c.get(), d.get()}));
  }
  EXPECT_FALSE(DSPComponentListExists());

  // A form that owns a whole linked chain takes it, and the list, with it.
  {
    TComponent form;
    auto* a = new Stage(log, "A", &form);
    auto* b = new Stage(log, "B", &form);
    auto* c = new EndStage(log, "C", &form);
    Link(*a, *b);
    Link(*b, *c);
    a->SetWaveFormat(&cd);
  }
  EXPECT_FALSE(DSPComponentListExists());
}

// Block pool --------------------------------------------------------------------------------

TEST(BlockPool, ReusesAnExactFreeBlockFirstThenTheFirstLargeEnough) {
  struct Case {
    const char* name;
    std::vector<size_t> sizes;  // acquired in this order
    std::vector<int> released;
    size_t request;
    int expected;  // index of the block handed back, or -1 for a new one
  };
  const Case cases[] = {
      {"exact size among two free", {4156, 8252}, {0, 1}, 4156, 0},
      {"exact size beats an earlier larger one", {8252, 4156}, {0, 1}, 4156, 1},
      {"only a larger one free", {8252, 4156}, {0}, 4156, 0},
      {"first of two larger ones", {9000, 8252}, {0, 1}, 4156, 0},
      {"only a smaller one free", {2048, 4156}, {0}, 4156, -1},
      {"the same size still in use", {4156}, {}, 4156, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMMAllocator pool;
    std::vector<void*> blocks;
    for (size_t size : c.sizes) {
      blocks.push_back(pool.Acquire(0, size));
      ASSERT_NE(blocks.back(), nullptr);
    }
    const std::vector<void*> acquired = blocks;
    for (int i : c.released) {
      pool.Release(blocks[i]);
      EXPECT_EQ(blocks[i], nullptr);
    }

    void* got = pool.Acquire(0, c.request);

    ASSERT_NE(got, nullptr);
    if (c.expected >= 0) {
      EXPECT_EQ(got, acquired[c.expected]);
      EXPECT_EQ(pool.EntryCount(), c.sizes.size());
    } else {
      EXPECT_EQ(std::count(acquired.begin(), acquired.end(), got), 0);
      EXPECT_EQ(pool.EntryCount(), c.sizes.size() + 1);
    }
  }
}

TEST(BlockPool, BlocksStayPooledUntilFreeAll) {
  TMMAllocator pool;
  auto* p = static_cast<uint8_t*>(pool.Acquire(0, 4156));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::count(p, p + 4156, 0), 4156) << "new blocks are zero-filled";
  uint8_t* const first = p;

  pool.Release(p);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(pool.EntryCount(), 1u);
  void* none = nullptr;
  pool.Release(none);  // releasing nothing is harmless
  EXPECT_EQ(pool.EntryCount(), 1u);

  // Open and close again: the same memory comes back.
  for (int round = 0; round < 3; ++round) {
    auto* again = static_cast<uint8_t*>(pool.Acquire(0, 4156));
    EXPECT_EQ(again, first);
    pool.Release(again);
  }
  EXPECT_EQ(pool.EntryCount(), 1u);

  pool.FreeAll();
  EXPECT_EQ(pool.EntryCount(), 0u);
  void* fresh = pool.Acquire(0, 64);
  EXPECT_NE(fresh, nullptr);
  EXPECT_EQ(pool.EntryCount(), 1u);
}

// The lock: no block is ever held by two threads at once.
TEST(BlockPool, ConcurrentUsersNeverShareABlock) {
  TMMAllocator pool;
  std::atomic<int> clashes{0};
  std::vector<std::thread> threads;
  for (int t = 1; t <= 4; ++t) {
    threads.emplace_back([&pool, &clashes, t] {
      for (int i = 0; i < 2000; ++i) {
        const size_t size = (i % 2) ? 128 : 256;
        auto* p = static_cast<volatile int*>(pool.Acquire(0, size));
        if (!p) {
          ++clashes;
          continue;
        }
        for (int k = 0; k < 8; ++k) p[k] = t;
        for (int k = 0; k < 8; ++k)
          if (p[k] != t) ++clashes;
        void* block = const_cast<int*>(p);
        pool.Release(block);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(clashes.load(), 0);
}

}  // namespace
