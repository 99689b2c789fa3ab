#include "audio/MMWave.h"

#include <cstring>
#include <vector>

#include "audio/MMFormat.h"

namespace {

void Put32(std::vector<char>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

void PutTag(std::vector<char>& out, const char* tag) {
  out.insert(out.end(), tag, tag + 4);
}

}  // namespace

bool TMMWave::CreateFile(const std::string& fileName, const WAVEFORMATEX* format) {
  CloseFile();
  if (!format) return false;
  const int formatSize = WaveFormatSize(format);
  if (formatSize <= 0) return false;
  std::vector<char> head;
  PutTag(head, "RIFF");
  Put32(head, 0);  // filled in at close
  PutTag(head, "WAVE");
  PutTag(head, "fmt ");
  Put32(head, static_cast<uint32_t>(formatSize));
  const char* f = reinterpret_cast<const char*>(format);
  head.insert(head.end(), f, f + formatSize);
  if (formatSize % 2) head.push_back(0);
  PutTag(head, "data");
  dataSizeAt_ = static_cast<long long>(head.size());
  Put32(head, 0);
  dataSize_ = 0;
  if (!file_.Create(fileName)) return false;
  if (!file_.Write(head.data(), head.size())) {
    file_.Close();
    return false;
  }
  return true;
}

bool TMMWave::WriteData(const void* data, uint32_t count) {
  if (!file_.IsOpen()) return false;
  if (count > UINT32_MAX - dataSize_ - 64) return false;  // a RIFF file ends at 4 GiB
  if (!file_.Write(data, count)) return false;
  dataSize_ += count;
  return true;
}

void TMMWave::CloseFile() {
  if (!file_.IsOpen()) return;
  const char pad = 0;
  bool ok = dataSize_ % 2 == 0 || file_.Write(&pad, 1);
  const uint32_t riffSize =
      static_cast<uint32_t>(dataSizeAt_ + 4 - 8) + dataSize_ + (dataSize_ % 2);
  char le[4];
  for (int i = 0; i < 4; ++i) le[i] = static_cast<char>(dataSize_ >> (8 * i));
  ok = ok && file_.WriteAt(le, 4, dataSizeAt_);
  for (int i = 0; i < 4; ++i) le[i] = static_cast<char>(riffSize >> (8 * i));
  ok = ok && file_.WriteAt(le, 4, 4);
  (void)ok;  // a file that cannot be finished keeps what it holds
  file_.Close();
}
