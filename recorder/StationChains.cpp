#include "recorder/StationChains.h"

#include "audio/MMBlade.h"
#include "audio/MMVolume.h"
#include "common/Convert.h"
#include "displays/MMConect.h"

void ConfigureStationChain(StationSettings& station, int number) {
  const auto convert = [number](const std::string& text, const char* section) {
    return number > 0 ? StrToInt(text, section, StationKey(number)) : StrToInt(text);
  };
  const int device = convert(station.Placa, "Placa");
  const int channel = convert(station.Canal, "Canal");
  if (station.WaveIn) station.WaveIn->SetDeviceID(device);
  if (!station.Volume) return;
  switch (channel) {
    case 0:
      station.Volume->SetPanning(-16384);  // left only
      break;
    case 1:
      station.Volume->SetPanning(16384);  // right only
      break;
    case 2:
      station.Volume->SetPanning(0);
      break;
    default:
      break;  // left as it was
  }
}

StationChains::StationChains(TComponent* owner, CaptureBackend* backend, DurableFiles* durable,
                             StationChainEvents events) {
  for (int i = 0; i < kMaxStations; ++i) {
    const std::string n = std::to_string(i + 1);
    auto* w = new TMMWaveIn(owner, backend);
    auto* v = new TMMVolume(owner);
    auto* c = new TMMConnector(owner);
    auto* e = new TMMMP3Encoder(owner);
    w->SetName("WaveInR" + n);
    v->SetName("VolumeR" + n);
    c->SetName("ConnectorR" + n);
    e->SetName("MP3EncoderR" + n);
    w->SetBufferSize(4096);
    w->SetSampleRate(44100);
    w->SetMode(mStereo);
    w->SetBitLength(b16Bit);
    w->SetDeviceID(MapperId);
    w->OnStart = events.onStart;
    w->OnStop = events.onStop;
    w->OnBufferReady = events.onBufferReady;
    w->OnDeviceFault = events.onDeviceFault;
    e->OnWriteError = [i, f = events.onWriteError](TComponent*) {
      if (f) f(i);
    };
    e->SetDurableFiles(durable);
    c->SetEnterIdle(false);
    w->SetOutput(v);
    v->SetOutput(c);
    c->SetOutput(e);
    StationSettings& s = stations_[static_cast<size_t>(i)];
    s.WaveIn = w;
    s.Volume = v;
    s.Connector = c;
    s.Encoder = e;
  }
}

StationChains::~StationChains() {
  for (StationSettings& s : stations_) {
    s.WaveIn->OnStart = nullptr;
    s.WaveIn->OnStop = nullptr;
    s.WaveIn->OnBufferReady = nullptr;
    s.WaveIn->OnDeviceFault = nullptr;
    s.WaveIn->Close();
    s.Encoder->OnWriteError = nullptr;
    s.Encoder->SetDurableFiles(nullptr);
  }
}

void StationChains::Load(PrivateProfile& ini, int count,
                         const std::function<void(const std::string&)>& report) {
  count_ = count;
  for (int n = 1; n <= kMaxStations; ++n) {
    StationSettings& s = stations_[static_cast<size_t>(n - 1)];
    s.Configured = false;
    if (n > count_) continue;
    const std::string key = StationKey(n);
    s.Placa = ini.ReadString("Placa", key);
    s.Local = ini.ReadString("Local", key);
    s.Copia = ini.ReadString("Copia", key);
    s.LocalCopia = ini.ReadString("LocalCopia", key);
    s.Controle = ini.ReadString("Controle", key);
    s.Canal = ini.ReadString("Canal", key);
    s.Emissoras = ini.ReadString("Emissoras", key);
    // A station whose card or channel cannot be read is reported and does not record.
    try {
      ConfigureStationChain(s, n);
      s.Configured = true;
    } catch (const EConvertError& e) {
      report(e.what());
    }
  }
}

bool StationChains::Bound(int i) const {
  return i >= 0 && i < count_ && stations_[static_cast<size_t>(i)].Configured;
}

int StationChains::IndexOf(TComponent* waveIn) const {
  for (int i = 0; i < count_; ++i)
    if (stations_[static_cast<size_t>(i)].WaveIn == waveIn) return i;
  return -1;
}

std::string StationChains::Label(int i) const {
  const StationSettings& s = stations_[static_cast<size_t>(i)];
  const std::string n = "Emissora " + std::to_string(i + 1);
  return s.Emissoras.empty() ? n : n + " (" + s.Emissoras + ")";
}

bool StationChains::Started(int i) const {
  return stations_[static_cast<size_t>(i)].WaveIn->HasState(dsStarted);
}

bool StationChains::IsRecording() const {
  for (int i = 0; i < count_; ++i)
    if (Started(i)) return true;
  return false;
}

uint64_t StationChains::BytesWritten() const {
  uint64_t total = 0;
  for (const StationSettings& s : stations_) total += s.Encoder->BytesWritten();
  return total;
}

bool StationChains::WaitsForSpace(int i) const {
  return Bound(i) && (*this)[i].Encoder->WriteFailed() && Started(i);
}

void StationChains::CloseAll() {
  for (int i = 0; i < count_; ++i)
    if (Bound(i)) stations_[static_cast<size_t>(i)].WaveIn->Close();
}
