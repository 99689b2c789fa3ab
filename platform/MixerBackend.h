#pragma once
// The sound card's mixer as the multimedia interface presents it: per mixer a set of lines
// (destinations, each fed by source lines) carrying controls (volumes, mutes, source
// selectors), looked up by number, component type or target, read and written per channel
// and per list item; and the notices line changed and control changed, delivered on the
// thread that opened the mixer.
//
// Also the mapping that builds that model from a sound card's simple mixer elements, kept
// apart from ALSA so that it runs over plain element lists.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/MMSystem.h"

struct MIXERCAPS {
  uint16_t wMid;
  uint16_t wPid;
  uint32_t vDriverVersion;
  char szPname[32];  // the name of the recording device the mixer belongs to
  uint32_t fdwSupport;
  uint32_t cDestinations;
};

struct MIXERLINE {
  uint32_t dwDestination;  // destination index; also the input of the destination queries
  uint32_t dwSource;       // source index within the destination; input of the source query
  uint32_t dwLineID;
  uint32_t fdwLine;  // MIXERLINE_LINEF_*
  uintptr_t dwUser;
  uint32_t dwComponentType;
  uint32_t cChannels;
  uint32_t cConnections;  // a destination's number of sources; 0 for a source
  uint32_t cControls;
  char szShortName[MIXER_SHORT_NAME_CHARS];
  char szName[MIXER_LONG_NAME_CHARS];
  struct {
    uint32_t dwType;  // MIXERLINE_TARGETTYPE_*
    uint32_t dwDeviceID;
    uint16_t wMid;
    uint16_t wPid;
    uint32_t vDriverVersion;
    char szPname[32];
  } Target;
};

struct MIXERCONTROL {
  uint32_t dwControlID;
  uint32_t dwControlType;  // MIXERCONTROL_CONTROLTYPE_*
  uint32_t fdwControl;     // MIXERCONTROL_CONTROLF_*
  uint32_t cMultipleItems;
  char szShortName[MIXER_SHORT_NAME_CHARS];
  char szName[MIXER_LONG_NAME_CHARS];
  union {
    struct {
      int32_t lMinimum;
      int32_t lMaximum;
    };
    struct {
      uint32_t dwMinimum;
      uint32_t dwMaximum;
    };
    uint32_t dwReserved[6];
  } Bounds;
  union {
    uint32_t cSteps;
    uint32_t cbCustomData;
    uint32_t dwReserved[6];
  } Metrics;
};

struct MIXERLINECONTROLS {
  uint32_t dwLineID;  // filled in by the query by control id
  union {
    uint32_t dwControlID;
    uint32_t dwControlType;
  };
  uint32_t cControls;  // 1 for the queries of one control; the line's count for all
  uint32_t cbmxctrl;   // sizeof(MIXERCONTROL)
  MIXERCONTROL* pamxctrl;
};

struct MIXERCONTROLDETAILS {
  uint32_t dwControlID;
  // 1 reads or writes all channels as one; otherwise the control's channel count.
  uint32_t cChannels;
  uint32_t cMultipleItems;  // the control's item count for a list control, else 0
  uint32_t cbDetails;       // size of one entry: 4 for values, 72 for list texts
  // max(items, 1) × cChannels entries, item by item, the channels of one item side by side.
  void* paDetails;
};

struct MIXERCONTROLDETAILS_BOOLEAN {
  int32_t fValue;
};
struct MIXERCONTROLDETAILS_SIGNED {
  int32_t lValue;
};
struct MIXERCONTROLDETAILS_UNSIGNED {
  uint32_t dwValue;
};
struct MIXERCONTROLDETAILS_LISTTEXT {
  uint32_t dwParam1;  // for a source selector: the line id of the item's source
  uint32_t dwParam2;  // ... and its component type
  char szName[MIXER_LONG_NAME_CHARS];
};
static_assert(sizeof(MIXERCONTROLDETAILS_BOOLEAN) == 4);
static_assert(sizeof(MIXERCONTROLDETAILS_LISTTEXT) == 72);

// A handle names one opening of a mixer; handles are never reused within a process.
using HMIXER = uintptr_t;
// The object of a query: a mixer number, an open handle, or a device of another kind, as the
// MIXER_OBJECTF_* bits of the query's flags say.
using HMIXEROBJ = uintptr_t;

// Receives the notices of one opening, on the thread that opened it, from its event loop.
class MixerClient {
 public:
  virtual ~MixerClient() = default;
  virtual void LineChange(HMIXER mixer, uint32_t lineId) = 0;
  virtual void ControlChange(HMIXER mixer, uint32_t controlId) = 0;
};

// Lookups and value access work on a mixer number whether or not the mixer is open; opening
// only subscribes to the notices. Open and Close belong to a thread with an event loop.
class MixerBackend {
 public:
  virtual ~MixerBackend() = default;
  virtual uint32_t GetNumDevs() = 0;
  virtual MMRESULT GetDevCaps(TMMDeviceId mixerId, MIXERCAPS* caps) = 0;
  // client may be null: an opening without notices.
  virtual MMRESULT Open(HMIXER* handle, TMMDeviceId mixerId, MixerClient* client) = 0;
  virtual MMRESULT Close(HMIXER handle) = 0;
  // The mixer number of a mixer object; MMSYSERR_NODRIVER (and -1) for a device no mixer serves.
  virtual MMRESULT GetID(HMIXEROBJ object, TMMDeviceId* mixerId, uint32_t flags) = 0;
  virtual MMRESULT GetLineInfo(HMIXEROBJ object, MIXERLINE* line, uint32_t flags) = 0;
  virtual MMRESULT GetLineControls(HMIXEROBJ object, MIXERLINECONTROLS* controls,
                                   uint32_t flags) = 0;
  virtual MMRESULT GetControlDetails(HMIXEROBJ object, MIXERCONTROLDETAILS* details,
                                     uint32_t flags) = 0;
  virtual MMRESULT SetControlDetails(HMIXEROBJ object, const MIXERCONTROLDETAILS* details,
                                     uint32_t flags) = 0;
};

// A backend without mixers: what a mixer device uses when it is given none.
MixerBackend& NoMixerDevices();

// Mapping ---------------------------------------------------------------------------------------

// One simple mixer element of a card, as ALSA describes it. Value vectors hold one entry per
// channel of that direction.
struct MixerElement {
  std::string name;
  unsigned index = 0;
  bool hasPlaybackVolume = false;
  bool hasPlaybackSwitch = false;
  bool hasCaptureVolume = false;
  bool hasCaptureSwitch = false;
  bool playbackVolumeJoined = false;  // one value for all channels
  bool playbackSwitchJoined = false;
  bool captureVolumeJoined = false;
  bool captureSwitchJoined = false;
  // Capture switches of one exclusive group select one source among them.
  bool captureSwitchExclusive = false;
  int captureGroup = -1;
  long playbackMin = 0, playbackMax = 0;
  long captureMin = 0, captureMax = 0;
  std::vector<long> playbackVolume;
  std::vector<bool> playbackSwitch;
  std::vector<long> captureVolume;
  std::vector<bool> captureSwitch;
  // Removed from the card while the mixer was open: its lines show as disconnected.
  bool gone = false;

  bool HasPlayback() const { return hasPlaybackVolume || hasPlaybackSwitch; }
  bool HasCapture() const { return hasCaptureVolume || hasCaptureSwitch; }
};

// Which values of an element a write changed, for the backend to pass on to the card.
enum class ElementPart { PlaybackVolume, PlaybackSwitch, CaptureVolume, CaptureSwitch };
struct ElementWrite {
  size_t element;
  ElementPart part;
  bool operator==(const ElementWrite&) const = default;
};

// The lines and controls of one mixer, built from its element list. Destination 0 is the
// playback output (its sources the elements that play), destination 1 the recording input
// (its sources the elements that capture). Ids follow from the list alone, so the same list
// always gives the same ids: a destination's line id is its index, a source's is
// (source index + 1) << 16 | destination; controls are numbered from 0 in line order.
// A recording side without a line-in or a microphone gets them from the "Capture" element: one
// source line of each missing type over it. A real line of such a type can only play, and the
// playback lines come first: a search by type finds that one before the stand-in.
class MixerMap {
 public:
  // name: the mixer's name, the target name of the recording destination; mixerId its number.
  MixerMap(std::vector<MixerElement> elements, const std::string& name, TMMDeviceId mixerId);
  // A mixer without a control device: no lines at all.
  MixerMap() = default;

  uint32_t Destinations() const { return static_cast<uint32_t>(dests_.size()); }
  const std::vector<MixerElement>& Elements() const { return elements_; }

  MMRESULT GetLineInfo(MIXERLINE* line, uint32_t query) const;
  MMRESULT GetLineControls(MIXERLINECONTROLS* controls, uint32_t query) const;
  MMRESULT GetControlDetails(MIXERCONTROLDETAILS* details, uint32_t query) const;
  // Changes the element values; `writes` receives what changed, in order, without repeats.
  MMRESULT SetControlDetails(const MIXERCONTROLDETAILS* details, uint32_t query,
                             std::vector<ElementWrite>* writes);

  // Takes new element values (the same elements, as read again from the card) and tells which
  // controls now read differently and which lines changed state (an element gone).
  void Update(const std::vector<MixerElement>& elements, std::vector<uint32_t>* changedLines,
              std::vector<uint32_t>* changedControls);

 private:
  enum class Kind { PlaybackVolume, PlaybackMute, CaptureVolume, Selector };
  struct Line {
    uint32_t id;
    uint32_t dest;
    uint32_t source;  // index within the destination; unused for a destination
    int element;      // -1 for a destination
    uint32_t componentType;
    std::vector<uint32_t> sources;   // a destination's source lines (indices into lines_)
    std::vector<uint32_t> controls;  // indices into controls_
  };
  struct Control {
    uint32_t id;
    uint32_t line;  // index into lines_
    Kind kind;
    int element;                // -1 for the selector
    std::vector<size_t> items;  // the selector's sources (element indices)
    std::vector<uint32_t> itemLines;
    bool mux = false;
  };

  const Line* FindLine(uint32_t lineId) const;
  const Control* FindControl(uint32_t controlId) const;
  void FillLine(const Line& line, MIXERLINE* out) const;
  void FillControl(const Control& control, MIXERCONTROL* out) const;
  uint32_t LineChannels(const Line& line) const;
  uint32_t ControlChannels(const Control& control) const;
  bool Uniform(const Control& control) const;
  // One value per channel (per item for the selector), as the interface reads it.
  std::vector<long> Values(const Control& control, const std::vector<MixerElement>& from) const;

  std::vector<MixerElement> elements_;
  std::string name_;
  TMMDeviceId mixerId_ = -1;
  std::vector<Line> lines_;
  std::vector<uint32_t> dests_;  // indices into lines_
  std::vector<Control> controls_;
};

// The component type a source of the given element name has.
uint32_t ComponentTypeOfElement(const std::string& name);

// Which mixer a query means. A handle resolves through `handleMixer` (false for an unknown
// handle); a recording device is the mixer of the same number; a device of any other kind
// has no mixer (MMSYSERR_NODRIVER).
MMRESULT ResolveMixerObject(HMIXEROBJ object, uint32_t flags, uint32_t mixerCount,
                            const std::function<bool(HMIXER, TMMDeviceId*)>& handleMixer,
                            TMMDeviceId* mixerId);

class QObject;

// Delivers the notices of one opening on the thread that created the route, from its event
// loop. Post is thread-safe; what is still queued when the route goes is dropped.
class MixerRoute {
 public:
  MixerRoute();
  ~MixerRoute();
  MixerRoute(const MixerRoute&) = delete;
  MixerRoute& operator=(const MixerRoute&) = delete;
  void Post(std::function<void()> deliver);

 private:
  QObject* context_;
};
