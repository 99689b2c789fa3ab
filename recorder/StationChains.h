#pragma once
// The eight station chains of the recorder (WaveInRn → VolumeRn → ConnectorRn →
// MP3EncoderRn, n = 1..8), built once and owned by the window, and the settings of each
// station as loaded from cfg.ini, all kept as the text read and converted where used.

#include <array>
#include <functional>
#include <string>

#include "audio/MMWavIn.h"
#include "common/PrivateProfile.h"
#include "common/Settings.h"
#include "platform/Component.h"
#include "platform/DurableFiles.h"

class TMMVolume;
class TMMConnector;
class TMMMP3Encoder;

struct StationSettings {
  std::string Placa;
  std::string Local;
  std::string Copia;
  std::string LocalCopia;
  std::string Controle;
  std::string Canal;
  std::string Emissoras;
  // The station's chain, bound at load.
  TMMWaveIn* WaveIn = nullptr;
  TMMVolume* Volume = nullptr;
  TMMConnector* Connector = nullptr;
  TMMMP3Encoder* Encoder = nullptr;
  // False when the station's settings could not be applied to its chain: it does not record.
  bool Configured = false;
};

// Device number from "Placa", panning from "Canal"; raises EConvertError for text that is not
// a number, naming the key of station `number` (1-based) when one is given.
void ConfigureStationChain(StationSettings& station, int number = 0);

// Where the chains' events go: the eight wave inputs share one handler of each kind.
struct StationChainEvents {
  TNotifyEvent onStart, onStop;
  TMMBufferEvent onBufferReady;
  TMMDeviceFaultEvent onDeviceFault;
  std::function<void(int station)> onWriteError;
};

class StationChains {
 public:
  // Builds the eight chains as components of `owner`, recording from `backend`, their files
  // kept durable by `durable`.
  StationChains(TComponent* owner, CaptureBackend* backend, DurableFiles* durable,
                StationChainEvents events);
  // Closes every input; no event reaches the owner any more, and `durable` may go after.
  ~StationChains();
  StationChains(const StationChains&) = delete;
  StationChains& operator=(const StationChains&) = delete;

  // Binds stations 1..count to their chains and reads their keys; a station whose card or
  // channel cannot be read is reported and not configured.
  void Load(PrivateProfile& ini, int count, const std::function<void(const std::string&)>& report);

  int Count() const { return count_; }
  StationSettings& operator[](int index) { return stations_[static_cast<size_t>(index)]; }
  const StationSettings& operator[](int index) const {
    return stations_[static_cast<size_t>(index)];
  }
  // Counted, and its chain configured: the station takes part.
  bool Bound(int index) const;
  // The station whose wave input this is, or -1.
  int IndexOf(TComponent* waveIn) const;
  // How messages name a station: "Emissora 2 (Rádio X)".
  std::string Label(int index) const;
  bool Started(int index) const;
  bool IsRecording() const;
  // MP3 bytes every station has written since start-up.
  uint64_t BytesWritten() const;
  // The station records, but its encoder lost its file on a failed write.
  bool WaitsForSpace(int index) const;
  // Closes every bound station's input (the stop event's work).
  void CloseAll();

 private:
  std::array<StationSettings, kMaxStations> stations_{};
  int count_ = 0;
};
