// The ALSA backend against the PCMs of the test asoundrc: the device list, capabilities and
// format queries, capture of a known input byte for byte, stop and reset, closing, ALSA's
// error texts, and the wave input recording through it.

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "TestStages.h"
#include "audio/MMWavIn.h"
#include "platform/AlsaCapture.h"

namespace {

constexpr uint32_t kFrameBytes = 4;  // 44100 Hz 16-bit stereo
constexpr uint32_t kSecondBytes = 44100 * kFrameBytes;
// Longer than any test reads: past its end the test PCM delivers no input.
constexpr uint32_t kInputFrames = 44100 * 8;
constexpr uint32_t kInputBytes = kInputFrames * kFrameBytes;

// Frame i of the input holds i as a 32-bit little-endian number, so that a lost, repeated or
// shifted byte shows.
std::vector<char> InputBytes(size_t from, size_t count) {
  std::vector<char> v(count);
  for (size_t i = 0; i < count; ++i) {
    const size_t p = from + i;
    const uint32_t frame = static_cast<uint32_t>(p / kFrameBytes);
    v[i] = static_cast<char>(frame >> (8 * (p % kFrameBytes)));
  }
  return v;
}

// Every test process writes the same file; the rename keeps a parallel reader from seeing a
// half-written one.
void WriteInput() {
  const std::string path = std::string(TEST_DATA_DIR) + "/alsa_input.raw";
  const std::string tmp = path + "." + std::to_string(getpid());
  const std::vector<char> bytes = InputBytes(0, kInputBytes);
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  ASSERT_EQ(std::rename(tmp.c_str(), path.c_str()), 0);
}

WAVEFORMATEX Format(uint16_t channels, uint32_t rate, uint16_t bits,
                    uint16_t tag = WAVE_FORMAT_PCM) {
  WAVEFORMATEX f{};
  f.wFormatTag = tag;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.wBitsPerSample = bits;
  f.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
  f.nAvgBytesPerSec = rate * f.nBlockAlign;
  return f;
}

const WAVEFORMATEX kCdStereo = Format(2, 44100, 16);

// Records every notice; Data notices arrive on the capture thread.
class Client : public CaptureClient {
 public:
  struct Notice {
    HWAVEIN handle;
    CaptureNotice what;
    WAVEHDR* hdr;
    uint32_t bytes;
  };

  void CaptureNotify(HWAVEIN handle, CaptureNotice what, WAVEHDR* hdr) override {
    std::function<void(HWAVEIN, WAVEHDR*)> hook;
    {
      std::lock_guard<std::mutex> lk(m_);
      notices_.push_back({handle, what, hdr, hdr ? hdr->dwBytesRecorded : 0});
      if (what == CaptureNotice::Data) hook = onData_;
    }
    cv_.notify_all();
    if (hook) hook(handle, hdr);
  }

  // Runs on the capture thread after each Data notice is recorded.
  void SetOnData(std::function<void(HWAVEIN, WAVEHDR*)> fn) {
    std::lock_guard<std::mutex> lk(m_);
    onData_ = std::move(fn);
  }

  std::vector<Notice> Notices() {
    std::lock_guard<std::mutex> lk(m_);
    return notices_;
  }
  std::vector<Notice> DataNotices() {
    std::vector<Notice> out;
    for (const Notice& n : Notices())
      if (n.what == CaptureNotice::Data) out.push_back(n);
    return out;
  }
  void Clear() {
    std::lock_guard<std::mutex> lk(m_);
    notices_.clear();
  }
  // Waits a bounded while for the notices to satisfy done; false if they never did.
  bool WaitUntil(const std::function<bool(const std::vector<Notice>&)>& done) {
    std::unique_lock<std::mutex> lk(m_);
    for (int i = 0; i < 1000; ++i) {
      if (done(notices_)) return true;
      cv_.wait_for(lk, std::chrono::milliseconds(10));
    }
    return done(notices_);
  }
  bool WaitData(size_t count) {
    return WaitUntil([count](const std::vector<Notice>& ns) {
      size_t n = 0;
      for (const Notice& x : ns) n += x.what == CaptureNotice::Data;
      return n >= count;
    });
  }

 private:
  std::mutex m_;
  std::function<void(HWAVEIN, WAVEHDR*)> onData_;
  std::condition_variable cv_;
  std::vector<Notice> notices_;
};

struct Buffers {
  explicit Buffers(const std::vector<uint32_t>& sizes) : data(sizes.size()), hdrs(sizes.size()) {
    for (size_t i = 0; i < sizes.size(); ++i) {
      data[i].assign(sizes[i], 0);
      hdrs[i] = WAVEHDR{};
      hdrs[i].lpData = data[i].data();
      hdrs[i].dwBufferLength = sizes[i];
    }
  }
  std::vector<std::vector<char>> data;
  std::vector<WAVEHDR> hdrs;
};

class AlsaCaptureTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { WriteInput(); }

  TMMDeviceId DeviceNamed(const std::string& name) {
    const auto devices = backend.Devices();
    for (size_t i = 0; i < devices.size(); ++i)
      if (devices[i].name == name) return static_cast<TMMDeviceId>(i);
    ADD_FAILURE() << "no device named " << name;
    return InvalidId;
  }
  TMMDeviceId TestInput() { return DeviceNamed("Logger test input"); }

  // Opens the test input and queues the buffers; every header prepared.
  HWAVEIN OpenAndQueue(Buffers& b) {
    HWAVEIN h = 0;
    EXPECT_EQ(backend.Open(&h, TestInput(), &kCdStereo, &client, 0), MMSYSERR_NOERROR);
    for (WAVEHDR& hdr : b.hdrs) {
      EXPECT_EQ(backend.PrepareHeader(h, &hdr), MMSYSERR_NOERROR);
      EXPECT_TRUE(hdr.dwFlags & WHDR_PREPARED);
      EXPECT_EQ(backend.AddBuffer(h, &hdr), MMSYSERR_NOERROR);
    }
    return h;
  }

  // The bytes of the Data notices, in the order they came.
  static std::vector<char> Captured(const std::vector<Client::Notice>& data) {
    std::vector<char> out;
    for (const Client::Notice& n : data)
      out.insert(out.end(), n.hdr->lpData, n.hdr->lpData + n.bytes);
    return out;
  }

  // Declared first: the backend's streams may still notify while it is destroyed.
  Client client;
  AlsaCaptureBackend backend;
};

TEST_F(AlsaCaptureTest, ListsTheConfiguredInputs) {
  const auto devices = backend.Devices();
  EXPECT_EQ(backend.GetNumDevs(), devices.size());
  const TMMDeviceId id = TestInput();
  ASSERT_GE(id, 0);
  EXPECT_EQ(devices[id].pcm, "logger_file_in");
  EXPECT_EQ(devices[id].card, -1);
  for (const auto& d : devices) {
    SCOPED_TRACE(d.pcm);
    EXPECT_LE(d.name.size(), 31u);
    EXPECT_FALSE(d.name.empty());
    if (d.card >= 0) {
      EXPECT_EQ(d.pcm.rfind("plughw:" + std::to_string(d.card) + ",", 0), 0u);
    } else {
      // Per-card aliases, null and default are not devices of their own.
      EXPECT_EQ(d.pcm.find(':'), std::string::npos);
      EXPECT_NE(d.pcm, "null");
      EXPECT_NE(d.pcm, "default");
    }
  }

  backend.Rescan();
  const auto again = backend.Devices();
  ASSERT_EQ(again.size(), devices.size());
  for (size_t i = 0; i < again.size(); ++i) EXPECT_EQ(again[i].pcm, devices[i].pcm);

  WAVEINCAPS caps{};
  ASSERT_EQ(backend.GetDevCaps(id, &caps), MMSYSERR_NOERROR);
  EXPECT_STREQ(caps.szPname, "Logger test input");
  EXPECT_EQ(caps.dwFormats, WAVE_FORMAT_ALL_STANDARD);
  EXPECT_EQ(caps.wChannels, 2);
  ASSERT_EQ(backend.GetDevCaps(MapperId, &caps), MMSYSERR_NOERROR);
  EXPECT_STREQ(caps.szPname, "ALSA default device");
}

TEST_F(AlsaCaptureTest, BadDeviceIdsAreRefused) {
  const auto count = static_cast<TMMDeviceId>(backend.GetNumDevs());
  for (const TMMDeviceId id : {count, count + 5, InvalidId, -100}) {
    SCOPED_TRACE(id);
    WAVEINCAPS caps{};
    EXPECT_EQ(backend.GetDevCaps(id, &caps), MMSYSERR_BADDEVICEID);
    HWAVEIN h = 0;
    EXPECT_EQ(backend.Open(&h, id, &kCdStereo, nullptr, WAVE_FORMAT_QUERY), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(backend.Open(&h, id, &kCdStereo, &client, 0), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(h, 0u);
  }
  EXPECT_TRUE(client.Notices().empty());
}

TEST_F(AlsaCaptureTest, FormatQueries) {
  struct Case {
    const char* what;
    WAVEFORMATEX format;
    MMRESULT expected;
  };
  const Case cases[] = {
      {"16-bit stereo 44100", kCdStereo, MMSYSERR_NOERROR},
      {"8-bit mono 22050", Format(1, 22050, 8), MMSYSERR_NOERROR},
      {"24-bit", Format(2, 44100, 24), WAVERR_BADFORMAT},
      {"no channels", Format(0, 44100, 16), WAVERR_BADFORMAT},
      {"no rate", Format(2, 0, 16), WAVERR_BADFORMAT},
      {"not PCM", Format(2, 44100, 16, WAVE_FORMAT_MPEGLAYER3), WAVERR_BADFORMAT},
  };
  const TMMDeviceId id = TestInput();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HWAVEIN h = 0x77;
    EXPECT_EQ(backend.Open(&h, id, &c.format, nullptr, WAVE_FORMAT_QUERY), c.expected);
    EXPECT_EQ(h, 0x77u);  // a query opens nothing
  }
  // A query leaves the device free for the real opening.
  HWAVEIN h = 0;
  ASSERT_EQ(backend.Open(&h, id, &kCdStereo, &client, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(backend.Close(h), MMSYSERR_NOERROR);
}

// Buffer sizes that are whole frames, that end inside a frame, that are smaller than a frame,
// and that take several device reads to fill.
TEST_F(AlsaCaptureTest, CapturesTheInputByteForByte) {
  struct Case {
    uint32_t size;
    size_t count;
  };
  std::set<HWAVEIN> handles;
  for (const Case c : {Case{4096, 6}, Case{4410, 5}, Case{3, 15}, Case{kSecondBytes + 2, 2}}) {
    SCOPED_TRACE(c.size);
    client.Clear();
    Buffers b(std::vector<uint32_t>(c.count, c.size));
    const HWAVEIN h = OpenAndQueue(b);
    EXPECT_TRUE(handles.insert(h).second);  // never an earlier opening's handle
    auto notices = client.Notices();
    ASSERT_EQ(notices.size(), 1u);  // sent inside Open
    EXPECT_EQ(notices[0].what, CaptureNotice::Open);
    EXPECT_EQ(notices[0].handle, h);
    EXPECT_EQ(backend.UnprepareHeader(h, &b.hdrs[0]), WAVERR_STILLPLAYING);

    ASSERT_EQ(backend.Start(h), MMSYSERR_NOERROR);
    ASSERT_TRUE(client.WaitData(c.count));
    const auto data = client.DataNotices();
    ASSERT_EQ(data.size(), c.count);
    for (size_t i = 0; i < c.count; ++i) {
      EXPECT_EQ(data[i].handle, h);
      EXPECT_EQ(data[i].hdr, &b.hdrs[i]);
      EXPECT_EQ(data[i].bytes, c.size);
      EXPECT_TRUE(b.hdrs[i].dwFlags & WHDR_DONE);
    }
    EXPECT_EQ(Captured(data), InputBytes(0, size_t{c.size} * c.count));

    EXPECT_EQ(backend.Reset(h), MMSYSERR_NOERROR);
    for (WAVEHDR& hdr : b.hdrs) {
      EXPECT_EQ(backend.UnprepareHeader(h, &hdr), MMSYSERR_NOERROR);
      EXPECT_FALSE(hdr.dwFlags & WHDR_PREPARED);
    }
    ASSERT_EQ(backend.Close(h), MMSYSERR_NOERROR);
    notices = client.Notices();
    EXPECT_EQ(notices.back().what, CaptureNotice::Close);
    EXPECT_EQ(notices.back().handle, h);
    EXPECT_EQ(notices.size(), c.count + 2);
    EXPECT_EQ(backend.AddBuffer(h, &b.hdrs[0]), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(backend.Close(h), MMSYSERR_INVALHANDLE);
  }
}

// Stop returns the buffer being filled with what it holds and keeps the empty ones queued;
// Reset returns those. The large buffer makes a stop in the middle of it likely, but the
// checks hold wherever the stop falls.
TEST_F(AlsaCaptureTest, StopReturnsThePartBufferAndResetTheRest) {
  Buffers b({4096, 2 * kSecondBytes, 4096, 4096});
  const HWAVEIN h = OpenAndQueue(b);
  ASSERT_EQ(backend.Start(h), MMSYSERR_NOERROR);
  ASSERT_TRUE(client.WaitData(1));
  ASSERT_EQ(backend.Stop(h), MMSYSERR_NOERROR);

  // Capture has halted, so the headers hold still now.
  size_t filled = 0;
  while (filled < b.hdrs.size() && b.hdrs[filled].dwBytesRecorded > 0) ++filled;
  ASSERT_GE(filled, 1u);
  ASSERT_TRUE(client.WaitData(filled));
  for (size_t i = 0; i < b.hdrs.size(); ++i) {
    SCOPED_TRACE(i);
    if (i + 1 < filled) {
      EXPECT_EQ(b.hdrs[i].dwBytesRecorded, b.hdrs[i].dwBufferLength);
    }
    EXPECT_EQ(b.hdrs[i].dwBytesRecorded % kFrameBytes, 0u);
    // The buffers stop did not return are still the device's.
    EXPECT_EQ((b.hdrs[i].dwFlags & WHDR_DONE) != 0, i < filled);
  }
  // The input is not paced, so the stop may come after every buffer was filled.
  if (filled < b.hdrs.size()) {
    EXPECT_EQ(backend.Close(h), WAVERR_STILLPLAYING);
  }

  ASSERT_EQ(backend.Reset(h), MMSYSERR_NOERROR);
  ASSERT_TRUE(client.WaitData(b.hdrs.size()));
  const auto data = client.DataNotices();
  ASSERT_EQ(data.size(), b.hdrs.size());
  size_t total = 0;
  for (size_t i = 0; i < data.size(); ++i) {
    EXPECT_EQ(data[i].hdr, &b.hdrs[i]);
    if (i >= filled) {
      EXPECT_EQ(data[i].bytes, 0u);
    }
    total += data[i].bytes;
  }
  EXPECT_EQ(Captured(data), InputBytes(0, total));
  ASSERT_EQ(backend.Close(h), MMSYSERR_NOERROR);
  EXPECT_EQ(client.Notices().back().what, CaptureNotice::Close);
}

// A client may close from its Data notice, on the capture thread; the device is free again
// at once and a new opening captures from the start.
TEST_F(AlsaCaptureTest, CloseFromADataNotice) {
  std::vector<MMRESULT> results;
  client.SetOnData([&](HWAVEIN h, WAVEHDR*) {
    if (!results.empty()) return;
    results.push_back(backend.Reset(h));
    results.push_back(backend.Close(h));
  });
  Buffers b({4096, 4096, 4096});
  const HWAVEIN h = OpenAndQueue(b);
  ASSERT_EQ(backend.Start(h), MMSYSERR_NOERROR);
  ASSERT_TRUE(client.WaitUntil([h](const std::vector<Client::Notice>& ns) {
    for (const auto& n : ns)
      if (n.what == CaptureNotice::Close && n.handle == h) return true;
    return false;
  }));
  ASSERT_TRUE(client.WaitData(b.hdrs.size()));
  EXPECT_EQ(results, (std::vector<MMRESULT>{MMSYSERR_NOERROR, MMSYSERR_NOERROR}));
  EXPECT_EQ(backend.Start(h), MMSYSERR_INVALHANDLE);

  client.SetOnData(nullptr);
  client.Clear();
  Buffers again({4096});
  const HWAVEIN h2 = OpenAndQueue(again);
  EXPECT_NE(h2, h);
  ASSERT_EQ(backend.Start(h2), MMSYSERR_NOERROR);
  ASSERT_TRUE(client.WaitData(1));
  EXPECT_EQ(Captured(client.DataNotices()), InputBytes(0, 4096));
  EXPECT_EQ(backend.Reset(h2), MMSYSERR_NOERROR);
  EXPECT_EQ(backend.Close(h2), MMSYSERR_NOERROR);
}

TEST_F(AlsaCaptureTest, ErrorTexts) {
  // The missing input fails inside ALSA; its code reads as ALSA's text.
  const TMMDeviceId id = DeviceNamed("Logger missing input");
  HWAVEIN h = 0;
  const MMRESULT r = backend.Open(&h, id, &kCdStereo, &client, 0);
  EXPECT_EQ(backend.Open(&h, id, &kCdStereo, nullptr, WAVE_FORMAT_QUERY), r);
  EXPECT_TRUE(client.Notices().empty());
  const char* common = nullptr;
  EXPECT_FALSE(CommonCaptureErrorText(r, common));
  char text[256] = {};
  ASSERT_EQ(backend.GetErrorText(r, text, sizeof(text)), MMSYSERR_NOERROR);
  EXPECT_STREQ(text, snd_strerror(-ENOENT));

  ASSERT_TRUE(CommonCaptureErrorText(WAVERR_BADFORMAT, common));
  ASSERT_EQ(backend.GetErrorText(WAVERR_BADFORMAT, text, sizeof(text)), MMSYSERR_NOERROR);
  EXPECT_STREQ(text, common);
  ASSERT_EQ(backend.GetErrorText(WAVERR_BADFORMAT, text, 8), MMSYSERR_NOERROR);
  EXPECT_EQ(std::string(text), std::string(common, 7));  // cut to fit

  EXPECT_NE(backend.GetErrorText(0x5000, text, sizeof(text)), MMSYSERR_NOERROR);
}

// The wave input records the test input through the backend until its recording length,
// on the capture thread and through its window.
TEST_F(AlsaCaptureTest, WaveInRecordsTheInput) {
  for (const TMMCBMode mode : {cmCallback, cmWindow}) {
    SCOPED_TRACE(mode);
    SinkStage sink;
    TMMWaveIn w(nullptr, &backend);
    w.SetDeviceID(TestInput());
    w.SetMode(mStereo);
    w.SetBitLength(b16Bit);
    w.SetSampleRate(44100);
    w.SetBufferSize(4096);
    w.SetCallBackMode(mode);
    w.SetTimeFormat(tfMillisecond);
    w.SetMaxRecordTime(2000);
    w.SetOutput(&sink);
    EXPECT_EQ(w.GetProductName(), "Logger test input");
    w.Start();
    for (int i = 0; i < 1000 && w.HasState(dsStarted); ++i) {
      QCoreApplication::processEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(w.HasState(dsStarted));
    w.Close();
    EXPECT_EQ(w.DeviceState(), dsClosed);
    ASSERT_EQ(sink.total, 2u * kSecondBytes);
    EXPECT_EQ(sink.bytes, InputBytes(0, 2 * kSecondBytes));
  }
}

}  // namespace
