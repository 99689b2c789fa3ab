#pragma once
// The records, result codes and flags of the multimedia interface that the audio stages share
// with the capture and mixer backends.

#include <cstdint>

#pragma pack(push, 1)
struct WAVEFORMATEX {
  uint16_t wFormatTag;
  uint16_t nChannels;
  uint32_t nSamplesPerSec;
  uint32_t nAvgBytesPerSec;
  uint16_t nBlockAlign;
  uint16_t wBitsPerSample;
  uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);
using PWaveFormatEx = WAVEFORMATEX*;

constexpr uint16_t WAVE_FORMAT_PCM = 1;
constexpr uint16_t WAVE_FORMAT_MPEGLAYER3 = 0x55;

struct WAVEHDR {
  char* lpData;
  uint32_t dwBufferLength;
  uint32_t dwBytesRecorded;
  uint32_t dwUser;
  uint32_t dwFlags;
  uint32_t dwLoops;
  WAVEHDR* lpNext;
  uintptr_t reserved;
};
using PWaveHdr = WAVEHDR*;

constexpr uint32_t WHDR_DONE = 1;
constexpr uint32_t WHDR_PREPARED = 2;

using MMRESULT = uint32_t;
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;
constexpr MMRESULT MIXERR_INVALLINE = 1024;
constexpr MMRESULT MIXERR_INVALCONTROL = 1025;
constexpr MMRESULT MIXERR_INVALVALUE = 1026;

constexpr uint32_t WAVE_FORMAT_QUERY = 1;

// Standard-format bits of a device's capabilities.
constexpr uint32_t WAVE_FORMAT_1M08 = 0x1, WAVE_FORMAT_1S08 = 0x2, WAVE_FORMAT_1M16 = 0x4,
                   WAVE_FORMAT_1S16 = 0x8, WAVE_FORMAT_2M08 = 0x10, WAVE_FORMAT_2S08 = 0x20,
                   WAVE_FORMAT_2M16 = 0x40, WAVE_FORMAT_2S16 = 0x80, WAVE_FORMAT_4M08 = 0x100,
                   WAVE_FORMAT_4S08 = 0x200, WAVE_FORMAT_4M16 = 0x400, WAVE_FORMAT_4S16 = 0x800;
constexpr uint32_t WAVE_FORMAT_ALL_STANDARD = 0xFFF;

// Device numbers: -1 is the mapper, -2 no valid device.
using TMMDeviceId = int32_t;
constexpr TMMDeviceId MapperId = -1;
constexpr TMMDeviceId InvalidId = -2;

// Mixer ------------------------------------------------------------------------------------------

constexpr uint32_t MIXER_SHORT_NAME_CHARS = 16;
constexpr uint32_t MIXER_LONG_NAME_CHARS = 64;

// The two change notices, as window messages (the mixer handle in wParam, the id in lParam).
constexpr uint32_t MM_MIXM_LINE_CHANGE = 0x3D0;
constexpr uint32_t MM_MIXM_CONTROL_CHANGE = 0x3D1;

// What the object of a mixer query is: a mixer number, an open mixer handle, or a device of
// another kind whose mixer is meant. Or'ed into the query flags.
constexpr uint32_t MIXER_OBJECTF_HANDLE = 0x80000000;
constexpr uint32_t MIXER_OBJECTF_MIXER = 0x00000000;
constexpr uint32_t MIXER_OBJECTF_HMIXER = MIXER_OBJECTF_HANDLE | MIXER_OBJECTF_MIXER;
constexpr uint32_t MIXER_OBJECTF_WAVEOUT = 0x10000000;
constexpr uint32_t MIXER_OBJECTF_HWAVEOUT = MIXER_OBJECTF_HANDLE | MIXER_OBJECTF_WAVEOUT;
constexpr uint32_t MIXER_OBJECTF_WAVEIN = 0x20000000;
constexpr uint32_t MIXER_OBJECTF_HWAVEIN = MIXER_OBJECTF_HANDLE | MIXER_OBJECTF_WAVEIN;
constexpr uint32_t MIXER_OBJECTF_MIDIOUT = 0x30000000;
constexpr uint32_t MIXER_OBJECTF_HMIDIOUT = MIXER_OBJECTF_HANDLE | MIXER_OBJECTF_MIDIOUT;
constexpr uint32_t MIXER_OBJECTF_MIDIIN = 0x40000000;
constexpr uint32_t MIXER_OBJECTF_HMIDIIN = MIXER_OBJECTF_HANDLE | MIXER_OBJECTF_MIDIIN;
constexpr uint32_t MIXER_OBJECTF_AUX = 0x50000000;
constexpr uint32_t MIXER_OBJECTF_TYPEMASK = 0xF0000000;

// Line flags.
constexpr uint32_t MIXERLINE_LINEF_ACTIVE = 0x00000001;
constexpr uint32_t MIXERLINE_LINEF_DISCONNECTED = 0x00008000;
constexpr uint32_t MIXERLINE_LINEF_SOURCE = 0x80000000;

// Component types of lines: destinations, then sources.
constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_UNDEFINED = 0x0;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_DIGITAL = 0x1;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_LINE = 0x2;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_MONITOR = 0x3;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_SPEAKERS = 0x4;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_HEADPHONES = 0x5;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_TELEPHONE = 0x6;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_WAVEIN = 0x7;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_VOICEIN = 0x8;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED = 0x1000;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_DIGITAL = 0x1001;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_LINE = 0x1002;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE = 0x1003;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER = 0x1004;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC = 0x1005;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_TELEPHONE = 0x1006;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER = 0x1007;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT = 0x1008;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY = 0x1009;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_ANALOG = 0x100A;

// The device a line stands for (the target of a line).
constexpr uint32_t MIXERLINE_TARGETTYPE_UNDEFINED = 0;
constexpr uint32_t MIXERLINE_TARGETTYPE_WAVEOUT = 1;
constexpr uint32_t MIXERLINE_TARGETTYPE_WAVEIN = 2;
constexpr uint32_t MIXERLINE_TARGETTYPE_MIDIOUT = 3;
constexpr uint32_t MIXERLINE_TARGETTYPE_MIDIIN = 4;
constexpr uint32_t MIXERLINE_TARGETTYPE_AUX = 5;

// How a line is looked up (the low bits of the flags of a line query).
constexpr uint32_t MIXER_GETLINEINFOF_DESTINATION = 0;
constexpr uint32_t MIXER_GETLINEINFOF_SOURCE = 1;
constexpr uint32_t MIXER_GETLINEINFOF_LINEID = 2;
constexpr uint32_t MIXER_GETLINEINFOF_COMPONENTTYPE = 3;
constexpr uint32_t MIXER_GETLINEINFOF_TARGETTYPE = 4;
constexpr uint32_t MIXER_GETLINEINFOF_QUERYMASK = 0xF;

// How controls are looked up.
constexpr uint32_t MIXER_GETLINECONTROLSF_ALL = 0;
constexpr uint32_t MIXER_GETLINECONTROLSF_ONEBYID = 1;
constexpr uint32_t MIXER_GETLINECONTROLSF_ONEBYTYPE = 2;
constexpr uint32_t MIXER_GETLINECONTROLSF_QUERYMASK = 0xF;

// What a control-details call reads or writes.
constexpr uint32_t MIXER_GETCONTROLDETAILSF_VALUE = 0;
constexpr uint32_t MIXER_GETCONTROLDETAILSF_LISTTEXT = 1;
constexpr uint32_t MIXER_GETCONTROLDETAILSF_QUERYMASK = 0xF;
constexpr uint32_t MIXER_SETCONTROLDETAILSF_VALUE = 0;
constexpr uint32_t MIXER_SETCONTROLDETAILSF_QUERYMASK = 0xF;

// Control flags.
constexpr uint32_t MIXERCONTROL_CONTROLF_UNIFORM = 0x00000001;
constexpr uint32_t MIXERCONTROL_CONTROLF_MULTIPLE = 0x00000002;
constexpr uint32_t MIXERCONTROL_CONTROLF_DISABLED = 0x80000000;

// Control types: class in the top four bits, units and subclass below.
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_CUSTOM = 0x00000000;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_BOOLEANMETER = 0x10010000;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_SIGNEDMETER = 0x10020000;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_PEAKMETER = 0x10020001;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_UNSIGNEDMETER = 0x10030000;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_BOOLEAN = 0x20010000;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_ONOFF = 0x20010001;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_MUTE = 0x20010002;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_MONO = 0x20010003;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_LOUDNESS = 0x20010004;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_STEREOENH = 0x20010005;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_BUTTON = 0x21010000;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_SIGNED = 0x30020000;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_UNSIGNED = 0x30030000;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_DECIBELS = 0x30040000;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_PERCENT = 0x30050000;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_SLIDER = 0x40020000;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_PAN = 0x40020001;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_QSOUNDPAN = 0x40020002;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_FADER = 0x50030000;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_VOLUME = 0x50030001;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_BASS = 0x50030002;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_TREBLE = 0x50030003;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_EQUALIZER = 0x50030004;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_MICROTIME = 0x60030000;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_MILLITIME = 0x61030000;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_SINGLESELECT = 0x70010000;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_MUX = 0x70010001;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_MULTIPLESELECT = 0x71010000;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_MIXER = 0x71010001;
