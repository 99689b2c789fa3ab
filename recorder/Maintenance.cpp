#include "recorder/Maintenance.h"

#include <memory>

#include "common/Convert.h"
#include "recorder/Retention.h"
#include "recorder/U_Grava.h"

Maintenance::Maintenance(const StationChains& chains, const RecorderEnvironment& env,
                         FileWorker& worker, TFrmGravarView& view,
                         std::function<void(const std::string&)> report)
    : chains_(chains), env_(env), worker_(worker), view_(view), report_(std::move(report)) {}

void Maintenance::SetThreshold(const std::string& mbLivres) {
  try {
    threshold_ = StrToInt(mbLivres);
  } catch (const EConvertError&) {
    threshold_.reset();
  }
}

void Maintenance::Purge(const std::string& diasRec) {
  std::vector<std::string> folders;
  for (int i = 0; i < chains_.Count(); ++i) folders.push_back(chains_[i].Local);
  auto error = std::make_shared<std::string>();
  worker_.Post(
      [folders, diasRec, now = env_.Now(), error] {
        try {
          PurgeOldRecordings(folders, diasRec, now);
        } catch (const EConvertError& e) {
          *error = e.what();
        }
      },
      [this, error] {
        if (!error->empty()) report_(*error);
      });
}

void Maintenance::LowSpaceCheck(int station, bool spaceKnown, int64_t freeMB) {
  if (!threshold_ || !spaceKnown || freeMB >= *threshold_ || busy_) return;
  const WallTime now = env_.Now();
  if (now >= lastLook_ && now - lastLook_ < std::chrono::milliseconds(250)) return;
  lastLook_ = now;
  const uint64_t written = chains_.BytesWritten();
  const uint64_t budget = deletedOnce_ ? written - writtenAtDeletion_ : UINT64_MAX;
  busy_ = true;
  const std::string folder = chains_[station].Local;
  auto result = std::make_shared<GuardDeletion>();
  worker_.Post([folder, budget, result] { *result = DeleteOldestRecording(folder, budget); },
               [this, result, folder, freeMB, threshold = *threshold_] {
                 busy_ = false;
                 if (!result->deleted) return;
                 deletedOnce_ = true;
                 writtenAtDeletion_ = chains_.BytesWritten();
                 view_.LogLine("Pouco espaço em disco (" + std::to_string(freeMB) +
                               " MB livres, mínimo " + std::to_string(threshold) +
                               " MB): apagada a gravação mais antiga, " +
                               JoinPath(folder, result->name));
               });
}
