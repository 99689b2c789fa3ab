#include "player/RecordingLookup.h"

#include <algorithm>

#include "common/Convert.h"
#include "common/PrivateProfile.h"
#include "common/RecordingNames.h"
#include "common/Settings.h"
#include "platform/FileOps.h"

namespace {

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

// The time of day of characters `at`..`at`+3 (hhmm) of a recording's name.
DaySeconds TimeIn(const std::string& name, size_t at) {
  const std::string hh = name.size() >= at + 2 ? name.substr(at, 2) : name.substr(at);
  const std::string mm = name.size() >= at + 4 ? name.substr(at + 2, 2) : std::string();
  try {
    return StrToInt(hh) * 3600 + StrToInt(mm) * 60;
  } catch (const EConvertError& e) {
    throw EConvertError(std::string(e.what()) + " (file " + name + ")");
  }
}

}  // namespace

std::string DayStampAfter(const LocalTime& day, int offset) {
  LocalTime d = day;
  d.hour = 12;  // midday: no change of daylight saving time moves it to another date
  d.minute = d.second = d.millisecond = 0;
  d.day += offset;
  return DayStamp(ToLocal(FromLocal(d)));
}

void RecordingLookup::LoadPlayerConfiguration(const std::string& defaultFolder) {
  stations_.clear();
  PrivateProfile ini(iniPath_);
  if (!ini.Exists()) {
    // The first station's folder, as the folder field holds it at design time.
    stations_.push_back({"", defaultFolder});
    SaveStationFolder(0, defaultFolder);
    stations_.clear();
  }
  const int count = StrToInt(ini.ReadString("Geral", "Emissoras"), "Geral", "Emissoras");
  for (int n = 1; n <= std::clamp(count, 0, kMaxStations); ++n)
    stations_.push_back(
        {ini.ReadString("Emissoras", StationKey(n)), ini.ReadString("LocalPlay", StationKey(n))});
}

void RecordingLookup::SaveStationFolder(int index, const std::string& folder) {
  PrivateProfile ini(iniPath_);
  ini.WriteString("LocalPlay", StationKey(index + 1), folder);
  if (index >= 0 && index < StationCount()) stations_[static_cast<size_t>(index)].folder = folder;
}

std::vector<std::string> RecordingLookup::ListMatchingFiles(const std::string& folder,
                                                            const std::string& mask) {
  std::vector<std::pair<std::string, std::string>> keyed;  // lower-case key, name
  for (const FileEntry& e : ListFolder(folder, mask))
    if (!e.name.empty() && e.name[0] != '.') keyed.emplace_back(Lower(e.name), e.name);
  std::sort(keyed.begin(), keyed.end());
  std::vector<std::string> names;
  names.reserve(keyed.size());
  for (auto& [key, name] : keyed) names.push_back(std::move(name));
  return names;
}

void RecordingLookup::FindRecording(const std::string& folder, const std::string& mask, int mode) {
  const std::vector<std::string> names = ListMatchingFiles(folder, mask);
  if (mode == 0) targetTime_ = foundEnd_;
  for (const std::string& name : names) {
    foundStart_ = TimeIn(name, 6);
    foundEnd_ = TimeIn(name, 17);
    // Across midnight the recording must still cover the moment: one begun the day before
    // must end after it, one that ends the next day must begin before it (taking simply the
    // first of the list would play a recording that ended before the chosen minute).
    const bool covers = midnightSearch_ ? (targetTime_ < 12 * 3600 ? foundEnd_ >= targetTime_
                                                                   : foundStart_ <= targetTime_)
                                        : foundStart_ <= targetTime_ && targetTime_ <= foundEnd_;
    const bool take = mode == 1 ? covers : foundStart_ >= targetTime_;
    if (take) {
      foundName_ = name;
      return;
    }
  }
}

RecordingLookup::Result RecordingLookup::Lookup(const std::string& folder, const LocalTime& day,
                                                int hour, int minute) {
  midnightSearch_ = false;
  if (!FolderExists(folder)) return Result::FolderMissing;
  targetTime_ = hour * 3600 + minute * 60;
  foundName_.clear();
  const std::string d = DayStampAfter(day, 0);
  FindRecording(folder, DayMask(d, d), 1);
  if (!foundName_.empty() && FileExists(JoinPath(folder, foundName_))) return Result::Found;
  if (hour == 0 && minute <= 10) {
    midnightSearch_ = true;
    FindRecording(folder, DayMask(DayStampAfter(day, -1), d), 1);
  } else if (hour == 23 && minute >= 50) {
    midnightSearch_ = true;
    FindRecording(folder, DayMask(d, DayStampAfter(day, 1)), 1);
  }
  if (!foundName_.empty() && FileExists(JoinPath(folder, foundName_))) return Result::Found;
  midnightSearch_ = false;
  return Result::NotFound;
}

bool RecordingLookup::FollowOn(const std::string& folder) {
  if (foundName_.size() < 17) return false;
  // The day the last recording ended: the next one starts that day.
  const std::string endDay = foundName_.substr(11, 6);
  foundName_.clear();
  FindRecording(folder, endDay + "????a??????????.mp3", 0);
  return !foundName_.empty() && FileExists(JoinPath(folder, foundName_));
}
