// The mixer layer: the mapping of card-like simple mixer elements onto lines and controls, the
// lookups and value access of the simulated backend with their result codes and notices, and
// the real ALSA backend over the pulse control of a private PulseAudio daemon.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "PulseDaemon.h"
#include "platform/AlsaMixer.h"
#include "platform/MixerBackend.h"
#include "platform/SimMixer.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Card-like elements -----------------------------------------------------------------------------

enum Caps : unsigned { PVol = 1, PSw = 2, CVol = 4, CSw = 8 };

// An element with the given capabilities: playback range 0..31 at 20, switches on; capture
// range 0..15 at 8, capture switch off. group >= 0 makes the capture switch exclusive.
MixerElement El(const std::string& name, unsigned caps, unsigned channels = 2, int group = -1,
                unsigned index = 0) {
  MixerElement e;
  e.name = name;
  e.index = index;
  e.hasPlaybackVolume = caps & PVol;
  e.hasPlaybackSwitch = caps & PSw;
  e.hasCaptureVolume = caps & CVol;
  e.hasCaptureSwitch = caps & CSw;
  e.playbackMax = 31;
  e.captureMax = 15;
  if (e.hasPlaybackVolume) e.playbackVolume.assign(channels, 20);
  if (e.hasPlaybackSwitch) e.playbackSwitch.assign(channels, true);
  if (e.hasCaptureVolume) e.captureVolume.assign(channels, 8);
  if (e.hasCaptureSwitch) e.captureSwitch.assign(channels, false);
  if (group >= 0) {
    e.captureSwitchExclusive = true;
    e.captureGroup = group;
  }
  return e;
}

// An older codec: inputs that play back and record, the recording source chosen among them by
// one exclusive group; a master capture level beside them.
std::vector<MixerElement> ExclusiveCard() {
  return {El("Master", PVol | PSw),
          El("PCM", PVol | PSw),
          El("Line", PVol | PSw | CVol | CSw, 2, 1),
          El("Mic", PVol | PSw | CVol | CSw, 1, 1),
          El("Front Mic", PVol | PSw | CSw, 2, 1),
          El("CD", PVol | PSw | CSw, 2, 1),
          El("Aux", PVol | PSw | CSw, 2, 1),
          El("Capture", CVol | CSw)};
}

// A card whose inputs each have a capture switch of their own.
std::vector<MixerElement> IndependentCard() {
  return {El("Master", PVol | PSw), El("Line", CVol | CSw), El("Rear Mic", CVol | CSw, 1),
          El("Capture", CVol | CSw)};
}

std::string Hex(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "%X", v);
  return b;
}

// One text per line, in lookup order: destination and source index, name, component type,
// flags, then its controls with their bounds, channels and items.
std::vector<std::string> Describe(const MixerMap& map) {
  std::vector<std::string> out;
  auto line = [&](MIXERLINE& l, const std::string& where) {
    std::string s = where + " " + l.szName + " " + Hex(l.dwComponentType) + " f" + Hex(l.fdwLine) +
                    " ch" + std::to_string(l.cChannels);
    std::vector<MIXERCONTROL> mc(l.cControls);
    MIXERLINECONTROLS mlc{};
    mlc.dwLineID = l.dwLineID;
    mlc.cControls = l.cControls;
    mlc.cbmxctrl = sizeof(MIXERCONTROL);
    mlc.pamxctrl = mc.data();
    if (l.cControls > 0) {
      EXPECT_EQ(map.GetLineControls(&mlc, MIXER_GETLINECONTROLSF_ALL), 0u);
    }
    for (const MIXERCONTROL& c : mc) {
      s += " | " + std::string(c.szShortName) + " " + Hex(c.dwControlType) + " f" +
           Hex(c.fdwControl);
      if (c.dwControlType == MIXERCONTROL_CONTROLTYPE_VOLUME)
        s += " " + std::to_string(c.Bounds.lMinimum) + ".." + std::to_string(c.Bounds.lMaximum);
      if (c.cMultipleItems > 0) {
        std::vector<MIXERCONTROLDETAILS_LISTTEXT> texts(c.cMultipleItems);
        MIXERCONTROLDETAILS d{c.dwControlID, 1, c.cMultipleItems,
                              sizeof(MIXERCONTROLDETAILS_LISTTEXT), texts.data()};
        EXPECT_EQ(map.GetControlDetails(&d, MIXER_GETCONTROLDETAILSF_LISTTEXT), 0u);
        s += " [";
        for (const auto& t : texts) s += std::string(t.szName) + ";";
        s += "]";
      }
    }
    out.push_back(s);
  };
  for (uint32_t d = 0; d < map.Destinations(); ++d) {
    MIXERLINE dest{};
    dest.dwDestination = d;
    EXPECT_EQ(map.GetLineInfo(&dest, MIXER_GETLINEINFOF_DESTINATION), 0u);
    line(dest, "D" + std::to_string(d));
    for (uint32_t s = 0; s < dest.cConnections; ++s) {
      MIXERLINE src{};
      src.dwDestination = d;
      src.dwSource = s;
      EXPECT_EQ(map.GetLineInfo(&src, MIXER_GETLINEINFOF_SOURCE), 0u);
      EXPECT_EQ(src.dwDestination, d);
      line(src, "  S" + std::to_string(s));
    }
  }
  return out;
}

struct MappingCase {
  const char* what;
  std::vector<MixerElement> elements;
  std::vector<std::string> lines;
};

TEST(MixerMapping, CardElementsBecomeLinesAndControls) {
  // Types: 4 speakers, 7 recording; sources 1000 undefined, 1002 line, 1003 microphone,
  // 1005 CD, 1008 wave out, 1009 aux. Controls: 50030001 volume, 20010002 mute, 70010001 mux,
  // 71010001 mixer. Flags: 1 uniform, 2 multiple; lines 1 active, 80000001 source.
  const std::vector<MappingCase> cases = {
      {"one exclusive capture group: a mux over its members",
       ExclusiveCard(),
       {"D0 Playback 4 f1 ch2",
        "  S0 Master 1000 f80000001 ch2 | Volume 50030001 f0 0..31 | Mute 20010002 f0",
        "  S1 PCM 1008 f80000001 ch2 | Volume 50030001 f0 0..31 | Mute 20010002 f0",
        "  S2 Line 1002 f80000001 ch2 | Volume 50030001 f0 0..31 | Mute 20010002 f0",
        "  S3 Mic 1003 f80000001 ch1 | Volume 50030001 f1 0..31 | Mute 20010002 f1",
        "  S4 Front Mic 1003 f80000001 ch2 | Volume 50030001 f0 0..31 | Mute 20010002 f0",
        "  S5 CD 1005 f80000001 ch2 | Volume 50030001 f0 0..31 | Mute 20010002 f0",
        "  S6 Aux 1009 f80000001 ch2 | Volume 50030001 f0 0..31 | Mute 20010002 f0",
        "D1 Recording 7 f1 ch2 | Source 70010001 f3 [Line;Mic;Front Mic;CD;Aux;]",
        "  S0 Line 1002 f80000001 ch2 | Volume 50030001 f0 0..15",
        "  S1 Mic 1003 f80000001 ch1 | Volume 50030001 f1 0..15",
        "  S2 Front Mic 1003 f80000001 ch2", "  S3 CD 1005 f80000001 ch2",
        "  S4 Aux 1009 f80000001 ch2",
        "  S5 Capture 1000 f80000001 ch2 | Volume 50030001 f0 0..15"}},
      {"independent capture switches: a mixer over every switched source",
       IndependentCard(),
       {"D0 Playback 4 f1 ch2",
        "  S0 Master 1000 f80000001 ch2 | Volume 50030001 f0 0..31 | Mute 20010002 f0",
        "D1 Recording 7 f1 ch2 | Sources 71010001 f3 [Line;Rear Mic;Capture;]",
        "  S0 Line 1002 f80000001 ch2 | Volume 50030001 f0 0..15",
        "  S1 Rear Mic 1003 f80000001 ch1 | Volume 50030001 f1 0..15",
        "  S2 Capture 1000 f80000001 ch2 | Volume 50030001 f0 0..15"}},
      {"two exclusive groups are no single choice: a mixer",
       {El("Line", CSw, 2, 1), El("Mic", CSw, 2, 2)},
       {"D0 Playback 4 f1 ch1", "D1 Recording 7 f1 ch2 | Sources 71010001 f3 [Line;Mic;]",
        "  S0 Line 1002 f80000001 ch2", "  S1 Mic 1003 f80000001 ch2"}},
      {"no capture switch: no selector; joined volumes are uniform; a second index is named",
       [] {
         auto v = std::vector<MixerElement>{El("Capture", CVol), El("Capture", CVol, 2, -1, 1),
                                            El("Headphone", PSw)};
         v[1].captureVolumeJoined = true;
         return v;
       }(),
       {"D0 Playback 4 f1 ch2", "  S0 Headphone 1000 f80000001 ch2 | Mute 20010002 f0",
        "D1 Recording 7 f1 ch2", "  S0 Capture 1002 f80000001 ch2 | Volume 50030001 f0 0..15",
        "  S1 Capture 1003 f80000001 ch2 | Volume 50030001 f0 0..15",
        "  S2 Capture 1 1000 f80000001 ch2 | Volume 50030001 f1 0..15"}},
      {"line and microphone only play: Capture records for both, one selector item",
       {El("Master", PVol | PSw), El("Line", PVol | PSw), El("Mic", PVol | PSw),
        El("Capture", CVol | CSw)},
       {"D0 Playback 4 f1 ch2",
        "  S0 Master 1000 f80000001 ch2 | Volume 50030001 f0 0..31 | Mute 20010002 f0",
        "  S1 Line 1002 f80000001 ch2 | Volume 50030001 f0 0..31 | Mute 20010002 f0",
        "  S2 Mic 1003 f80000001 ch2 | Volume 50030001 f0 0..31 | Mute 20010002 f0",
        "D1 Recording 7 f1 ch2 | Sources 71010001 f3 [Capture;]",
        "  S0 Capture 1002 f80000001 ch2 | Volume 50030001 f0 0..15",
        "  S1 Capture 1003 f80000001 ch2 | Volume 50030001 f0 0..15"}},
      {"a microphone records but no line: Capture stands for the line only",
       {El("Mic", CVol | CSw, 1), El("Capture", CVol)},
       {"D0 Playback 4 f1 ch1", "D1 Recording 7 f1 ch2 | Sources 71010001 f3 [Mic;]",
        "  S0 Mic 1003 f80000001 ch1 | Volume 50030001 f1 0..15",
        "  S1 Capture 1002 f80000001 ch2 | Volume 50030001 f0 0..15"}},
  };
  for (const MappingCase& c : cases) {
    SCOPED_TRACE(c.what);
    const MixerMap map(c.elements, "Card", 0);
    EXPECT_EQ(Describe(map), c.lines);
  }
}

// Ids follow from the element list, and every id found leads back to its line or control.
TEST(MixerMapping, IdsAreStableAndLeadBackToTheirObjects) {
  const MixerMap a(ExclusiveCard(), "Card", 0), b(ExclusiveCard(), "Card", 0);
  EXPECT_EQ(Describe(a), Describe(b));
  std::map<uint32_t, std::string> lineIds;
  std::map<uint32_t, uint32_t> controlLine;
  for (uint32_t d = 0; d < a.Destinations(); ++d) {
    MIXERLINE dest{};
    dest.dwDestination = d;
    ASSERT_EQ(a.GetLineInfo(&dest, MIXER_GETLINEINFOF_DESTINATION), 0u);
    EXPECT_EQ(dest.dwLineID, d) << "a destination's id is its index";
    std::vector<MIXERLINE> lines{dest};
    for (uint32_t s = 0; s < dest.cConnections; ++s) {
      MIXERLINE src{};
      src.dwDestination = d;
      src.dwSource = s;
      ASSERT_EQ(a.GetLineInfo(&src, MIXER_GETLINEINFOF_SOURCE), 0u);
      MIXERLINE again = src;
      ASSERT_EQ(b.GetLineInfo(&again, MIXER_GETLINEINFOF_SOURCE), 0u);
      EXPECT_EQ(again.dwLineID, src.dwLineID);
      lines.push_back(src);
    }
    for (MIXERLINE& l : lines) {
      EXPECT_TRUE(lineIds.emplace(l.dwLineID, l.szName).second) << "line id repeated: " << l.szName;
      MIXERLINE byId{};
      byId.dwLineID = l.dwLineID;
      ASSERT_EQ(b.GetLineInfo(&byId, MIXER_GETLINEINFOF_LINEID), 0u);
      EXPECT_STREQ(byId.szName, l.szName);
      EXPECT_EQ(byId.dwDestination, l.dwDestination);
      std::vector<MIXERCONTROL> mc(l.cControls);
      MIXERLINECONTROLS mlc{l.dwLineID, {0}, l.cControls, sizeof(MIXERCONTROL), mc.data()};
      if (l.cControls) {
        ASSERT_EQ(a.GetLineControls(&mlc, MIXER_GETLINECONTROLSF_ALL), 0u);
      }
      for (const MIXERCONTROL& c : mc) {
        EXPECT_TRUE(controlLine.emplace(c.dwControlID, l.dwLineID).second);
        MIXERCONTROL one{};
        MIXERLINECONTROLS q{0, {c.dwControlID}, 1, sizeof(MIXERCONTROL), &one};
        ASSERT_EQ(b.GetLineControls(&q, MIXER_GETLINECONTROLSF_ONEBYID), 0u);
        EXPECT_EQ(q.dwLineID, l.dwLineID) << "a control's line comes back with it";
        EXPECT_EQ(one.dwControlType, c.dwControlType);
      }
    }
  }
  EXPECT_EQ(lineIds.size(), 2u + 7u + 6u);
}

// The "Capture" element standing for the inputs: both lines reach its one level, the selector
// item names the first, and a search by type takes a real line of the type first.
TEST(MixerMapping, CaptureStandsInAfterTheRealLines) {
  MixerMap map({El("Master", PVol | PSw), El("Capture", CVol | CSw)}, "Server", 0);
  auto source = [&](uint32_t s) {
    MIXERLINE l{};
    l.dwDestination = 1;
    l.dwSource = s;
    EXPECT_EQ(map.GetLineInfo(&l, MIXER_GETLINEINFOF_SOURCE), 0u);
    return l;
  };
  const MIXERLINE line = source(0), mic = source(1);
  ASSERT_EQ(line.dwComponentType, MIXERLINE_COMPONENTTYPE_SRC_LINE);
  ASSERT_EQ(mic.dwComponentType, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE);
  auto byType = [](const MixerMap& m, uint32_t type) {
    MIXERLINE l{};
    l.dwComponentType = type;
    EXPECT_EQ(m.GetLineInfo(&l, MIXER_GETLINEINFOF_COMPONENTTYPE), 0u);
    return l.dwLineID;
  };
  EXPECT_EQ(byType(map, MIXERLINE_COMPONENTTYPE_SRC_LINE), line.dwLineID);
  EXPECT_EQ(byType(map, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE), mic.dwLineID);
  const MixerMap playing({El("Capture", CVol | CSw), El("Line", PVol | PSw)}, "Card", 0);
  EXPECT_EQ(byType(playing, MIXERLINE_COMPONENTTYPE_SRC_LINE), (1u << 16) | 0u)
      << "the line that plays, though the stand-in comes first in the element list";
  auto volumeOf = [&](const MIXERLINE& l) {
    MIXERCONTROL c{};
    MIXERLINECONTROLS q{l.dwLineID, {MIXERCONTROL_CONTROLTYPE_VOLUME}, 1, sizeof c, &c};
    EXPECT_EQ(map.GetLineControls(&q, MIXER_GETLINECONTROLSF_ONEBYTYPE), 0u);
    return c.dwControlID;
  };
  int32_t v = 13;
  MIXERCONTROLDETAILS set{volumeOf(line), 1, 0, 4, &v};
  std::vector<ElementWrite> writes;
  ASSERT_EQ(map.SetControlDetails(&set, MIXER_SETCONTROLDETAILSF_VALUE, &writes), 0u);
  EXPECT_EQ(writes, (std::vector<ElementWrite>{{1, ElementPart::CaptureVolume}}));
  int32_t read = 0;
  MIXERCONTROLDETAILS get{volumeOf(mic), 1, 0, 4, &read};
  ASSERT_EQ(map.GetControlDetails(&get, MIXER_GETCONTROLDETAILSF_VALUE), 0u);
  EXPECT_EQ(read, 13);

  MIXERCONTROL sel{};
  MIXERLINECONTROLS q{1, {MIXERCONTROL_CONTROLTYPE_MIXER}, 1, sizeof sel, &sel};
  ASSERT_EQ(map.GetLineControls(&q, MIXER_GETLINECONTROLSF_ONEBYTYPE), 0u);
  ASSERT_EQ(sel.cMultipleItems, 1u);
  MIXERCONTROLDETAILS_LISTTEXT text{};
  MIXERCONTROLDETAILS texts{sel.dwControlID, 1, 1, sizeof text, &text};
  ASSERT_EQ(map.GetControlDetails(&texts, MIXER_GETCONTROLDETAILSF_LISTTEXT), 0u);
  EXPECT_EQ(text.dwParam1, line.dwLineID);
  EXPECT_EQ(text.dwParam2, MIXERLINE_COMPONENTTYPE_SRC_LINE);
}

// The simulated backend ------------------------------------------------------------------------

struct Notice {
  HMIXER mixer;
  bool control;
  uint32_t id;
  bool operator==(const Notice&) const = default;
};

class RecordingClient : public MixerClient {
 public:
  void LineChange(HMIXER mixer, uint32_t lineId) override {
    notices.push_back({mixer, false, lineId});
  }
  void ControlChange(HMIXER mixer, uint32_t controlId) override {
    notices.push_back({mixer, true, controlId});
  }
  std::vector<Notice> notices;
};

// Pumps the event loop until `done` or the limit.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// Lets whatever is queued be delivered.
void Settle() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

class SimMixerTest : public ::testing::Test {
 protected:
  SimMixerTest()
      : sim_({{"Card A", ExclusiveCard(), true, MMSYSERR_NOERROR},
              {"Card B", IndependentCard(), true, MMSYSERR_NOERROR},
              {"File input", {}, false, MMSYSERR_NOERROR}}) {}

  MIXERLINE Line(uint32_t query, const std::function<void(MIXERLINE&)>& fill, HMIXEROBJ mixer = 0) {
    MIXERLINE l{};
    fill(l);
    EXPECT_EQ(sim_.GetLineInfo(mixer, &l, MIXER_OBJECTF_MIXER | query), 0u);
    return l;
  }
  MIXERLINE Source(uint32_t dest, const std::string& name, HMIXEROBJ mixer = 0) {
    MIXERLINE d = Line(
        MIXER_GETLINEINFOF_DESTINATION, [&](MIXERLINE& l) { l.dwDestination = dest; }, mixer);
    for (uint32_t s = 0; s < d.cConnections; ++s) {
      MIXERLINE l = Line(
          MIXER_GETLINEINFOF_SOURCE,
          [&](MIXERLINE& x) {
            x.dwDestination = dest;
            x.dwSource = s;
          },
          mixer);
      if (name == l.szName) return l;
    }
    ADD_FAILURE() << "no source " << name;
    return {};
  }
  MIXERCONTROL Control(uint32_t lineId, uint32_t type, HMIXEROBJ mixer = 0) {
    MIXERCONTROL c{};
    MIXERLINECONTROLS q{lineId, {type}, 1, sizeof(MIXERCONTROL), &c};
    EXPECT_EQ(
        sim_.GetLineControls(mixer, &q, MIXER_OBJECTF_MIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE),
        0u);
    return c;
  }
  MMRESULT Get(uint32_t controlId, uint32_t channels, uint32_t items, std::vector<int32_t>& out,
               HMIXEROBJ mixer = 0) {
    out.assign(std::max(channels, 1u) * std::max(items, 1u), -99);
    MIXERCONTROLDETAILS d{controlId, channels, items, 4, out.data()};
    return sim_.GetControlDetails(mixer, &d, MIXER_OBJECTF_MIXER | MIXER_GETCONTROLDETAILSF_VALUE);
  }
  MMRESULT Set(uint32_t controlId, uint32_t channels, uint32_t items, std::vector<int32_t> in,
               HMIXEROBJ mixer = 0) {
    MIXERCONTROLDETAILS d{controlId, channels, items, 4, in.data()};
    return sim_.SetControlDetails(mixer, &d, MIXER_OBJECTF_MIXER | MIXER_SETCONTROLDETAILSF_VALUE);
  }

  SimMixerBackend sim_;
};

TEST_F(SimMixerTest, DevicesNumbersAndCapabilities) {
  EXPECT_EQ(sim_.GetNumDevs(), 3u);
  MIXERCAPS caps{};
  ASSERT_EQ(sim_.GetDevCaps(1, &caps), 0u);
  EXPECT_STREQ(caps.szPname, "Card B");
  EXPECT_EQ(caps.cDestinations, 2u);
  ASSERT_EQ(sim_.GetDevCaps(2, &caps), 0u);
  EXPECT_EQ(caps.cDestinations, 0u) << "a device without a control device has no lines";
  EXPECT_EQ(sim_.GetDevCaps(-1, &caps), MMSYSERR_BADDEVICEID) << "no mixer mapper";
  EXPECT_EQ(sim_.GetDevCaps(3, &caps), MMSYSERR_BADDEVICEID);

  HMIXER h = 0;
  ASSERT_EQ(sim_.Open(&h, 1, nullptr), 0u);
  struct IdCase {
    HMIXEROBJ object;
    uint32_t flags;
    MMRESULT result;
    TMMDeviceId id;
  };
  const IdCase idCases[] = {
      {h, MIXER_OBJECTF_HMIXER, MMSYSERR_NOERROR, 1},
      {h + 1000, MIXER_OBJECTF_HMIXER, MMSYSERR_INVALHANDLE, -1},
      {2, MIXER_OBJECTF_MIXER, MMSYSERR_NOERROR, 2},
      {3, MIXER_OBJECTF_MIXER, MMSYSERR_BADDEVICEID, -1},
      {2, MIXER_OBJECTF_WAVEIN, MMSYSERR_NOERROR, 2},  // mixer n serves recording device n
      {static_cast<HMIXEROBJ>(-1), MIXER_OBJECTF_WAVEIN, MMSYSERR_NODRIVER, -1},
      {0xFFFFFFFFu, MIXER_OBJECTF_WAVEIN, MMSYSERR_NODRIVER, -1},
      {5, MIXER_OBJECTF_WAVEIN, MMSYSERR_BADDEVICEID, -1},
      {0, MIXER_OBJECTF_WAVEOUT, MMSYSERR_NODRIVER, -1},
      {0, MIXER_OBJECTF_MIDIIN, MMSYSERR_NODRIVER, -1},
  };
  for (const IdCase& c : idCases) {
    SCOPED_TRACE(Hex(c.flags) + " object " + std::to_string(c.object));
    TMMDeviceId id = 77;
    EXPECT_EQ(sim_.GetID(c.object, &id, c.flags), c.result);
    EXPECT_EQ(id, c.id);
  }
  EXPECT_EQ(sim_.Close(h), 0u);
  EXPECT_EQ(sim_.Close(h), MMSYSERR_INVALHANDLE);
  TMMDeviceId id = 0;
  EXPECT_EQ(sim_.GetID(h, &id, MIXER_OBJECTF_HMIXER), MMSYSERR_INVALHANDLE) << "closed";
}

TEST_F(SimMixerTest, LinesAreFoundEveryWayTheUpperLayersAsk) {
  // By component type: the first line of that type, which for a line input is the monitoring
  // path on the playback side.
  const MIXERLINE monitor = Line(MIXER_GETLINEINFOF_COMPONENTTYPE, [](MIXERLINE& l) {
    l.dwComponentType = MIXERLINE_COMPONENTTYPE_SRC_LINE;
  });
  EXPECT_STREQ(monitor.szName, "Line");
  EXPECT_EQ(monitor.dwDestination, 0u);
  EXPECT_EQ(monitor.fdwLine, MIXERLINE_LINEF_SOURCE | MIXERLINE_LINEF_ACTIVE);

  const MIXERLINE rec = Line(MIXER_GETLINEINFOF_COMPONENTTYPE, [](MIXERLINE& l) {
    l.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
  });
  EXPECT_EQ(rec.dwDestination, 1u);
  EXPECT_EQ(rec.dwLineID, 1u);
  EXPECT_EQ(rec.cConnections, 6u);
  EXPECT_EQ(rec.fdwLine, MIXERLINE_LINEF_ACTIVE);
  EXPECT_EQ(rec.Target.dwType, MIXERLINE_TARGETTYPE_WAVEIN);
  EXPECT_STREQ(rec.Target.szPname, "Card A");

  // The recording side's line input, by its source index, differs from the monitoring one.
  const MIXERLINE lineIn = Line(MIXER_GETLINEINFOF_SOURCE, [](MIXERLINE& l) {
    l.dwDestination = 1;
    l.dwSource = 0;
  });
  EXPECT_STREQ(lineIn.szName, "Line");
  EXPECT_EQ(lineIn.dwComponentType, MIXERLINE_COMPONENTTYPE_SRC_LINE);
  EXPECT_NE(lineIn.dwLineID, monitor.dwLineID);
  const MIXERLINE byId =
      Line(MIXER_GETLINEINFOF_LINEID, [&](MIXERLINE& l) { l.dwLineID = lineIn.dwLineID; });
  EXPECT_EQ(byId.dwDestination, 1u);
  EXPECT_EQ(byId.dwSource, 0u);

  // By target: the recording destination of the named device.
  const MIXERLINE byTarget = Line(
      MIXER_GETLINEINFOF_TARGETTYPE,
      [](MIXERLINE& l) {
        l.Target.dwType = MIXERLINE_TARGETTYPE_WAVEIN;
        std::strcpy(l.Target.szPname, "Card B");
      },
      1);
  EXPECT_EQ(byTarget.dwComponentType, MIXERLINE_COMPONENTTYPE_DST_WAVEIN);

  // The same questions through an open handle.
  HMIXER h = 0;
  ASSERT_EQ(sim_.Open(&h, 1, nullptr), 0u);
  MIXERLINE l{};
  l.dwComponentType = MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
  ASSERT_EQ(sim_.GetLineInfo(h, &l, MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_COMPONENTTYPE), 0u);
  EXPECT_STREQ(l.szName, "Rear Mic");
  EXPECT_EQ(sim_.Close(h), 0u);
}

TEST_F(SimMixerTest, BadLinesAndControlsGiveTheirResultCodes) {
  struct LineCase {
    const char* what;
    HMIXEROBJ mixer;
    uint32_t flags;
    std::function<void(MIXERLINE&)> fill;
    MMRESULT result;
  };
  const LineCase lineCases[] = {
      {"line id", 0, MIXER_GETLINEINFOF_LINEID, [](MIXERLINE& l) { l.dwLineID = 0x7777; },
       MIXERR_INVALLINE},
      {"destination", 0, MIXER_GETLINEINFOF_DESTINATION, [](MIXERLINE& l) { l.dwDestination = 2; },
       MIXERR_INVALLINE},
      {"source", 0, MIXER_GETLINEINFOF_SOURCE,
       [](MIXERLINE& l) {
         l.dwDestination = 1;
         l.dwSource = 6;
       },
       MIXERR_INVALLINE},
      {"component type", 0, MIXER_GETLINEINFOF_COMPONENTTYPE,
       [](MIXERLINE& l) { l.dwComponentType = MIXERLINE_COMPONENTTYPE_SRC_TELEPHONE; },
       MIXERR_INVALLINE},
      {"target of another name", 0, MIXER_GETLINEINFOF_TARGETTYPE,
       [](MIXERLINE& l) {
         l.Target.dwType = MIXERLINE_TARGETTYPE_WAVEIN;
         std::strcpy(l.Target.szPname, "Card B");
       },
       MIXERR_INVALLINE},
      {"query", 0, 9, [](MIXERLINE&) {}, MMSYSERR_INVALFLAG},
      {"mixer number", 3, MIXER_GETLINEINFOF_DESTINATION, [](MIXERLINE&) {}, MMSYSERR_BADDEVICEID},
      {"handle", 0x1234, MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_DESTINATION, [](MIXERLINE&) {},
       MMSYSERR_INVALHANDLE},
      {"mixer with no lines", 2, MIXER_GETLINEINFOF_DESTINATION, [](MIXERLINE&) {},
       MIXERR_INVALLINE},
      {"wave output", 0, MIXER_OBJECTF_WAVEOUT | MIXER_GETLINEINFOF_DESTINATION, [](MIXERLINE&) {},
       MMSYSERR_NODRIVER},
  };
  for (const LineCase& c : lineCases) {
    SCOPED_TRACE(c.what);
    MIXERLINE l{};
    c.fill(l);
    EXPECT_EQ(sim_.GetLineInfo(c.mixer, &l, c.flags), c.result);
  }
  EXPECT_EQ(sim_.GetLineInfo(0, nullptr, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_INVALPARAM);

  const MIXERLINE lineIn = Source(1, "Line");
  const uint32_t volume = Control(lineIn.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME).dwControlID;
  MIXERCONTROL c{};
  struct ControlCase {
    const char* what;
    uint32_t flags;
    MIXERLINECONTROLS q;
    MMRESULT result;
  };
  const ControlCase controlCases[] = {
      {"no mute on a recording source",
       MIXER_GETLINECONTROLSF_ONEBYTYPE,
       {lineIn.dwLineID, {MIXERCONTROL_CONTROLTYPE_MUTE}, 1, sizeof c, &c},
       MIXERR_INVALCONTROL},
      {"type on a bad line",
       MIXER_GETLINECONTROLSF_ONEBYTYPE,
       {0x7777, {MIXERCONTROL_CONTROLTYPE_VOLUME}, 1, sizeof c, &c},
       MIXERR_INVALLINE},
      {"control id",
       MIXER_GETLINECONTROLSF_ONEBYID,
       {0, {999}, 1, sizeof c, &c},
       MIXERR_INVALCONTROL},
      {"all of a bad line",
       MIXER_GETLINECONTROLSF_ALL,
       {0x7777, {0}, 1, sizeof c, &c},
       MIXERR_INVALLINE},
      {"all, with a count other than the line's",
       MIXER_GETLINECONTROLSF_ALL,
       {lineIn.dwLineID, {0}, 2, sizeof c, &c},
       MMSYSERR_INVALPARAM},
      {"record size",
       MIXER_GETLINECONTROLSF_ONEBYID,
       {0, {volume}, 1, 100, &c},
       MMSYSERR_INVALPARAM},
      {"no record",
       MIXER_GETLINECONTROLSF_ONEBYID,
       {0, {volume}, 1, sizeof c, nullptr},
       MMSYSERR_INVALPARAM},
  };
  for (const ControlCase& cc : controlCases) {
    SCOPED_TRACE(cc.what);
    MIXERLINECONTROLS q = cc.q;
    EXPECT_EQ(sim_.GetLineControls(0, &q, cc.flags), cc.result);
  }

  const uint32_t mux = Control(1, MIXERCONTROL_CONTROLTYPE_MUX).dwControlID;
  int32_t values[12] = {};
  MIXERCONTROLDETAILS_LISTTEXT texts[5] = {};
  struct DetailCase {
    const char* what;
    uint32_t flags;
    MIXERCONTROLDETAILS d;
    MMRESULT result;
  };
  const DetailCase detailCases[] = {
      {"control id", 0, {999, 1, 0, 4, values}, MIXERR_INVALCONTROL},
      {"three channels of two", 0, {volume, 3, 0, 4, values}, MMSYSERR_INVALPARAM},
      {"items on a plain control", 0, {volume, 1, 2, 4, values}, MMSYSERR_INVALPARAM},
      {"fewer items than the list has", 0, {mux, 1, 4, 4, values}, MMSYSERR_INVALPARAM},
      {"entry size", 0, {volume, 1, 0, 8, values}, MMSYSERR_INVALPARAM},
      {"no entries", 0, {volume, 1, 0, 4, nullptr}, MMSYSERR_INVALPARAM},
      {"texts of a plain control",
       MIXER_GETCONTROLDETAILSF_LISTTEXT,
       {volume, 1, 0, sizeof texts[0], texts},
       MMSYSERR_INVALPARAM},
      {"query", 5, {volume, 1, 0, 4, values}, MMSYSERR_INVALFLAG},
  };
  for (const DetailCase& dc : detailCases) {
    SCOPED_TRACE(dc.what);
    MIXERCONTROLDETAILS d = dc.d;
    EXPECT_EQ(sim_.GetControlDetails(0, &d, dc.flags), dc.result);
    if (dc.flags == 0) {
      EXPECT_EQ(sim_.SetControlDetails(0, &d, 0), dc.result);
    }
  }
}

TEST_F(SimMixerTest, VolumesAndMutesPerChannel) {
  const uint32_t line = Source(0, "Line").dwLineID;
  const uint32_t volume = Control(line, MIXERCONTROL_CONTROLTYPE_VOLUME).dwControlID;
  const uint32_t mute = Control(line, MIXERCONTROL_CONTROLTYPE_MUTE).dwControlID;
  std::vector<int32_t> v;

  ASSERT_EQ(Set(volume, 2, 0, {10, 25}), 0u);
  ASSERT_EQ(Get(volume, 2, 0, v), 0u);
  EXPECT_EQ(v, (std::vector<int32_t>{10, 25}));
  EXPECT_EQ(sim_.Element(0, "Line").playbackVolume, (std::vector<long>{10, 25}));
  ASSERT_EQ(Get(volume, 1, 0, v), 0u);
  EXPECT_EQ(v, std::vector<int32_t>{25}) << "all channels as one read as the loudest";
  EXPECT_EQ(sim_.Element(0, "Line").captureVolume, (std::vector<long>{8, 8}))
      << "the recording side of the same element is another control";

  ASSERT_EQ(Set(volume, 1, 0, {7}), 0u);
  EXPECT_EQ(sim_.Element(0, "Line").playbackVolume, (std::vector<long>{7, 7}));
  ASSERT_EQ(Set(volume, 2, 0, {-5, 1000}), 0u);
  EXPECT_EQ(sim_.Element(0, "Line").playbackVolume, (std::vector<long>{0, 31}))
      << "held to the element's range";

  // Mute is the inverse of the playback switch.
  ASSERT_EQ(Get(mute, 2, 0, v), 0u);
  EXPECT_EQ(v, (std::vector<int32_t>{0, 0}));
  ASSERT_EQ(Set(mute, 1, 0, {1}), 0u);
  EXPECT_EQ(sim_.Element(0, "Line").playbackSwitch, (std::vector<bool>{false, false}));
  ASSERT_EQ(Set(mute, 2, 0, {0, 1}), 0u);
  EXPECT_EQ(sim_.Element(0, "Line").playbackSwitch, (std::vector<bool>{true, false}));
  ASSERT_EQ(Get(mute, 2, 0, v), 0u);
  EXPECT_EQ(v, (std::vector<int32_t>{0, 1}));

  // A mono element's volume is uniform: one channel only.
  const uint32_t mic = Source(1, "Mic").dwLineID;
  const MIXERCONTROL micVolume = Control(mic, MIXERCONTROL_CONTROLTYPE_VOLUME);
  EXPECT_EQ(micVolume.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM, MIXERCONTROL_CONTROLF_UNIFORM);
  EXPECT_EQ(micVolume.Bounds.lMaximum, 15);
  EXPECT_EQ(micVolume.Metrics.cSteps, 15u);
  EXPECT_EQ(Get(micVolume.dwControlID, 2, 0, v), MMSYSERR_INVALPARAM);
  ASSERT_EQ(Set(micVolume.dwControlID, 1, 0, {12}), 0u);
  EXPECT_EQ(sim_.Element(0, "Mic").captureVolume, std::vector<long>{12});
}

TEST_F(SimMixerTest, SourceSelectorItemsAndTexts) {
  const MIXERCONTROL mux = Control(1, MIXERCONTROL_CONTROLTYPE_MUX);
  ASSERT_EQ(mux.cMultipleItems, 5u);
  EXPECT_EQ(mux.fdwControl, MIXERCONTROL_CONTROLF_MULTIPLE | MIXERCONTROL_CONTROLF_UNIFORM);

  // Each text names the item's source line and its component type.
  std::vector<MIXERCONTROLDETAILS_LISTTEXT> texts(5);
  MIXERCONTROLDETAILS d{mux.dwControlID, 1, 5, sizeof texts[0], texts.data()};
  ASSERT_EQ(sim_.GetControlDetails(0, &d, MIXER_GETCONTROLDETAILSF_LISTTEXT), 0u);
  for (const auto& t : texts) {
    SCOPED_TRACE(t.szName);
    const MIXERLINE l =
        Line(MIXER_GETLINEINFOF_LINEID, [&](MIXERLINE& x) { x.dwLineID = t.dwParam1; });
    EXPECT_STREQ(l.szName, t.szName);
    EXPECT_EQ(l.dwDestination, 1u) << "a source of the recording destination";
    EXPECT_EQ(l.dwComponentType, t.dwParam2);
  }
  EXPECT_EQ(texts[1].dwParam2, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE);

  auto switches = [&] {
    std::vector<bool> on;
    for (const char* n : {"Line", "Mic", "Front Mic", "CD", "Aux"})
      on.push_back(sim_.Element(0, n).captureSwitch[0]);
    return on;
  };
  std::vector<int32_t> v;
  ASSERT_EQ(Set(mux.dwControlID, 1, 5, {0, 0, 0, 1, 0}), 0u);
  EXPECT_EQ(switches(), (std::vector<bool>{false, false, false, true, false}));
  ASSERT_EQ(Set(mux.dwControlID, 1, 5, {0, 1, 0, 0, 0}), 0u);
  EXPECT_EQ(switches(), (std::vector<bool>{false, true, false, false, false}));
  ASSERT_EQ(Get(mux.dwControlID, 1, 5, v), 0u);
  EXPECT_EQ(v, (std::vector<int32_t>{0, 1, 0, 0, 0}));
  EXPECT_EQ(Set(mux.dwControlID, 1, 5, {1, 1, 0, 0, 0}), MMSYSERR_INVALPARAM)
      << "a single-select list takes one source";
  ASSERT_EQ(Set(mux.dwControlID, 1, 5, {0, 0, 0, 0, 0}), 0u);
  EXPECT_EQ(switches(), (std::vector<bool>{false, true, false, false, false}))
      << "one source always records";
  EXPECT_EQ(sim_.Element(0, "Capture").captureSwitch, (std::vector<bool>{false, false}))
      << "outside the group";

  // Independent switches: each item on its own.
  const MIXERCONTROL mixer = Control(1, MIXERCONTROL_CONTROLTYPE_MIXER, 1);
  ASSERT_EQ(mixer.cMultipleItems, 3u);
  ASSERT_EQ(Set(mixer.dwControlID, 1, 3, {1, 0, 1}, 1), 0u);
  EXPECT_EQ(sim_.Element(1, "Line").captureSwitch, (std::vector<bool>{true, true}));
  EXPECT_EQ(sim_.Element(1, "Rear Mic").captureSwitch, std::vector<bool>{false});
  EXPECT_EQ(sim_.Element(1, "Capture").captureSwitch, (std::vector<bool>{true, true}));
  sim_.ChangeElement(1, "Line", 0, [](MixerElement& e) { e.captureSwitch = {false, true}; });
  ASSERT_EQ(Get(mixer.dwControlID, 1, 3, v, 1), 0u);
  EXPECT_EQ(v, (std::vector<int32_t>{1, 0, 1})) << "an item is on while any channel records";
}

TEST_F(SimMixerTest, OutsideChangesReachTheOpeningsOnTheirThread) {
  RecordingClient a, b, other;
  HMIXER ha = 0, hb = 0, hOther = 0;
  ASSERT_EQ(sim_.Open(&ha, 0, &a), 0u);
  ASSERT_EQ(sim_.Open(&hb, 0, &b), 0u);
  ASSERT_EQ(sim_.Open(&hOther, 1, &other), 0u);
  EXPECT_NE(ha, hb);
  const uint32_t line = Source(0, "Line").dwLineID;
  const uint32_t volume = Control(line, MIXERCONTROL_CONTROLTYPE_VOLUME).dwControlID;
  const uint32_t mux = Control(1, MIXERCONTROL_CONTROLTYPE_MUX).dwControlID;

  ASSERT_TRUE(sim_.ChangeElement(0, "Line", 0, [](MixerElement& e) { e.playbackVolume[1] = 3; }));
  EXPECT_TRUE(a.notices.empty()) << "delivered from the event loop, not from inside the change";
  ASSERT_TRUE(PumpUntil([&] { return !a.notices.empty() && !b.notices.empty(); }, 2s));
  Settle();
  EXPECT_EQ(a.notices, (std::vector<Notice>{{ha, true, volume}}));
  EXPECT_EQ(b.notices, (std::vector<Notice>{{hb, true, volume}}));
  EXPECT_TRUE(other.notices.empty());

  // The capture switch is the selector's value; a change that leaves the values as they are
  // tells nothing.
  a.notices.clear();
  sim_.ChangeElement(0, "CD", 0, [](MixerElement& e) { e.captureSwitch = {true, true}; });
  sim_.ChangeElement(0, "PCM", 0, [](MixerElement& e) { e.playbackVolume = {20, 20}; });
  Settle();
  EXPECT_EQ(a.notices, (std::vector<Notice>{{ha, true, mux}}));

  // A write through the backend is heard by every opening, the writer's included.
  a.notices.clear();
  b.notices.clear();
  ASSERT_EQ(Set(volume, 1, 0, {30}), 0u);
  Settle();
  EXPECT_EQ(a.notices, (std::vector<Notice>{{ha, true, volume}}));
  EXPECT_EQ(b.notices, (std::vector<Notice>{{hb, true, volume}}));

  // An element that goes: its lines change and show as disconnected, its controls disabled.
  a.notices.clear();
  const uint32_t cdPlay = Source(0, "CD").dwLineID;
  const uint32_t cdRec = Source(1, "CD").dwLineID;
  sim_.ChangeElement(0, "CD", 0, [](MixerElement& e) { e.gone = true; });
  Settle();
  EXPECT_EQ(a.notices, (std::vector<Notice>{{ha, false, cdPlay}, {ha, false, cdRec}}));
  EXPECT_EQ(Source(0, "CD").fdwLine, MIXERLINE_LINEF_SOURCE | MIXERLINE_LINEF_DISCONNECTED);
  EXPECT_TRUE(Control(cdPlay, MIXERCONTROL_CONTROLTYPE_VOLUME).fdwControl &
              MIXERCONTROL_CONTROLF_DISABLED);

  // Closed, and a notice still queued for it: nothing arrives.
  b.notices.clear();
  sim_.ChangeElement(0, "Master", 0, [](MixerElement& e) { e.playbackSwitch = {false, false}; });
  ASSERT_EQ(sim_.Close(hb), 0u);
  Settle();
  EXPECT_TRUE(b.notices.empty());
  EXPECT_EQ(sim_.Close(ha), 0u);
  EXPECT_EQ(sim_.Close(hOther), 0u);
}

TEST(NoMixers, AnswerAsAMachineWithoutMixers) {
  MixerBackend& none = NoMixerDevices();
  EXPECT_EQ(none.GetNumDevs(), 0u);
  MIXERCAPS caps{};
  EXPECT_EQ(none.GetDevCaps(0, &caps), MMSYSERR_BADDEVICEID);
  HMIXER h = 0;
  EXPECT_EQ(none.Open(&h, 0, nullptr), MMSYSERR_BADDEVICEID);
  TMMDeviceId id = 5;
  EXPECT_EQ(none.GetID(0, &id, MIXER_OBJECTF_WAVEIN), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(id, -1);
  MIXERLINE l{};
  EXPECT_EQ(none.GetLineInfo(0, &l, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_BADDEVICEID);
}

// The real backend numbers its mixers as the capture backend numbers its devices; a PCM of the
// test asoundrc has no control device of its name, so its mixer has no lines.
TEST(AlsaMixer, APcmWithoutControlIsAMixerWithNoLines) {
  AlsaCaptureBackend devices;
  AlsaMixerBackend mixer(devices);
  const auto list = devices.Devices();
  ASSERT_EQ(mixer.GetNumDevs(), list.size());
  TMMDeviceId id = -1;
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i].pcm == "logger_file_in") id = static_cast<TMMDeviceId>(i);
  ASSERT_GE(id, 0);

  MIXERCAPS caps{};
  WAVEINCAPS wave{};
  ASSERT_EQ(mixer.GetDevCaps(id, &caps), 0u);
  ASSERT_EQ(devices.GetDevCaps(id, &wave), 0u);
  EXPECT_STREQ(caps.szPname, wave.szPname) << "the card box lists the same names";
  EXPECT_EQ(caps.cDestinations, 0u);
  TMMDeviceId served = -2;
  EXPECT_EQ(mixer.GetID(static_cast<HMIXEROBJ>(id), &served, MIXER_OBJECTF_WAVEIN), 0u);
  EXPECT_EQ(served, id);
  EXPECT_EQ(mixer.GetDevCaps(static_cast<TMMDeviceId>(list.size()), &caps), MMSYSERR_BADDEVICEID);

  RecordingClient client;
  HMIXER h = 0;
  ASSERT_EQ(mixer.Open(&h, id, &client), 0u);
  MIXERLINE l{};
  EXPECT_EQ(mixer.GetLineInfo(h, &l, MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_DESTINATION),
            MIXERR_INVALLINE);
  l.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
  EXPECT_EQ(mixer.GetLineInfo(static_cast<HMIXEROBJ>(id), &l, MIXER_GETLINEINFOF_COMPONENTTYPE),
            MIXERR_INVALLINE);
  EXPECT_EQ(mixer.GetID(h, &served, MIXER_OBJECTF_HMIXER), 0u);
  EXPECT_EQ(served, id);
  EXPECT_EQ(mixer.Close(h), 0u);
  EXPECT_EQ(mixer.Close(h), MMSYSERR_INVALHANDLE);
}

// The real ALSA mixer over PulseAudio -----------------------------------------------------------

class AlsaMixerPulse : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pulse_.Error(), "");
    // The pulse plugins inside this process connect to the private daemon.
    setenv("PULSE_SERVER", pulse_.Server().c_str(), 1);
  }
  void TearDown() override { unsetenv("PULSE_SERVER"); }

  PulseDaemon pulse_;
};

TEST_F(AlsaMixerPulse, PulseControlAsLinesAndControlsWithNotices) {
  AlsaCaptureBackend devices;
  AlsaMixerBackend mixer(devices);
  TMMDeviceId id = -1;
  std::string names;
  const auto list = devices.Devices();
  for (size_t i = 0; i < list.size(); ++i) {
    names += list[i].pcm + " ";
    if (list[i].pcm == "pulse") id = static_cast<TMMDeviceId>(i);
  }
  ASSERT_GE(id, 0) << "no pulse PCM among the recording devices: " << names;
  ASSERT_EQ(mixer.GetNumDevs(), list.size());
  MIXERCAPS caps{};
  ASSERT_EQ(mixer.GetDevCaps(id, &caps), 0u);
  EXPECT_EQ(caps.cDestinations, 2u);
  EXPECT_EQ(caps.szPname, list[static_cast<size_t>(id)].name);
  TMMDeviceId served = -1;
  EXPECT_EQ(mixer.GetID(static_cast<HMIXEROBJ>(id), &served, MIXER_OBJECTF_WAVEIN), 0u);
  EXPECT_EQ(served, id);

  RecordingClient client;
  HMIXER h = 0;
  ASSERT_EQ(mixer.Open(&h, id, &client), 0u);
  auto source = [&](uint32_t dest, const char* name) {
    MIXERLINE d{};
    d.dwDestination = dest;
    EXPECT_EQ(mixer.GetLineInfo(h, &d, MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_DESTINATION), 0u);
    for (uint32_t s = 0; s < d.cConnections; ++s) {
      MIXERLINE l{};
      l.dwDestination = dest;
      l.dwSource = s;
      EXPECT_EQ(mixer.GetLineInfo(h, &l, MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_SOURCE), 0u);
      if (std::string(l.szName) == name) return l;
    }
    ADD_FAILURE() << "no line " << name << " on destination " << dest;
    return MIXERLINE{};
  };
  auto control = [&](uint32_t line, uint32_t type) {
    MIXERCONTROL c{};
    MIXERLINECONTROLS q{line, {type}, 1, sizeof(MIXERCONTROL), &c};
    EXPECT_EQ(mixer.GetLineControls(h, &q, MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE),
              0u)
        << Hex(type);
    return c;
  };
  auto value = [&](uint32_t controlId) {
    int32_t v = -1;
    MIXERCONTROLDETAILS d{controlId, 1, 0, 4, &v};
    EXPECT_EQ(mixer.GetControlDetails(h, &d, MIXER_OBJECTF_HMIXER), 0u);
    return v;
  };

  const MIXERLINE master = source(0, "Master");
  const MIXERLINE capture = source(1, "Capture");
  EXPECT_EQ(capture.dwComponentType, MIXERLINE_COMPONENTTYPE_SRC_LINE) << "stands for the line-in";
  const MIXERCONTROL masterVolume = control(master.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME);
  const MIXERCONTROL masterMute = control(master.dwLineID, MIXERCONTROL_CONTROLTYPE_MUTE);
  const MIXERCONTROL captureVolume = control(capture.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME);
  const MIXERCONTROL selector = control(1, MIXERCONTROL_CONTROLTYPE_MIXER);
  EXPECT_EQ(selector.cMultipleItems, 1u);
  EXPECT_GT(captureVolume.Bounds.lMaximum, captureVolume.Bounds.lMinimum);

  // Notices arrive while the event loop runs. Bound: 2 s rather than the 200 ms they take on an
  // idle machine, so that a loaded one passes too.
  auto heard = [&](uint32_t controlId) {
    return PumpUntil(
        [&] {
          for (const Notice& n : client.notices)
            if (n.mixer == h && n.control && n.id == controlId) return true;
          return false;
        },
        2s);
  };

  // A write through the backend reaches the sound server, and is told like any other change.
  int32_t half = captureVolume.Bounds.lMaximum / 2;
  MIXERCONTROLDETAILS d{captureVolume.dwControlID, 1, 0, 4, &half};
  ASSERT_EQ(mixer.SetControlDetails(h, &d, MIXER_OBJECTF_HMIXER), 0u);
  const auto [rc, text] = pulse_.Pactl("get-source-volume @DEFAULT_SOURCE@");
  ASSERT_EQ(rc, 0) << text;
  EXPECT_EQ(PactlVolume(text), half) << text;
  EXPECT_EQ(value(captureVolume.dwControlID), half);
  EXPECT_TRUE(heard(captureVolume.dwControlID));

  // Changes made by another program.
  client.notices.clear();
  ASSERT_EQ(pulse_.Pactl("set-sink-volume @DEFAULT_SINK@ 40%").first, 0);
  EXPECT_TRUE(heard(masterVolume.dwControlID));
  const auto sink = pulse_.Pactl("get-sink-volume @DEFAULT_SINK@");
  EXPECT_EQ(value(masterVolume.dwControlID), PactlVolume(sink.second)) << sink.second;

  client.notices.clear();
  ASSERT_EQ(pulse_.Pactl("set-sink-mute @DEFAULT_SINK@ 1").first, 0);
  EXPECT_TRUE(heard(masterMute.dwControlID));
  EXPECT_EQ(value(masterMute.dwControlID), 1);
  Settle();
  for (const Notice& n : client.notices) {
    EXPECT_NE(n.id, masterVolume.dwControlID) << "only what changed is told";
    EXPECT_NE(n.id, captureVolume.dwControlID) << "only what changed is told";
  }

  EXPECT_EQ(mixer.Close(h), 0u);
}

}  // namespace
