// The player's lookup: the station table from cfg.ini, the folder saved on leaving the field,
// the listing, and the search for the recording of a chosen day, hour and minute with its two
// midnight windows; and how long a lookup takes in a month of recordings.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/Convert.h"
#include "common/PrivateProfile.h"
#include "common/RecordingNames.h"
#include "player/RecordingLookup.h"

namespace fs = std::filesystem;

namespace {

using Names = std::vector<std::string>;

LocalTime Day(int day, int month = 12, int year = 2026) {
  LocalTime d;
  d.year = year;
  d.month = month;
  d.day = day;
  return d;
}

class LookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root =
        fs::path(TEST_DATA_DIR) / ("lookup_" + std::to_string(getpid()) + "_" +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root / "st1");
  }
  void TearDown() override { fs::remove_all(root); }
  void Touch(const std::string& name, const std::string& folder = "st1") {
    std::ofstream(root / folder / name) << "";
  }
  std::string Folder(const std::string& name = "st1") const { return (root / name).string(); }
  std::string Ini() const { return (root / "cfg.ini").string(); }

  fs::path root;
};

// The edge cases of the lookup, one after another on one station folder, as a user would try
// them: what "Play" finds, or which message it gives.
TEST_F(LookupTest, PlayFindsTheRecordingOfTheChosenMinute) {
  for (const char* name :
       {"0812261530a0812261540.mp3", "0812261540a0812261550.mp3", "0812262350a0912260000.mp3",
        "0812262355a0912260005.MP3", "0912261400a0912261410.mp3", "0912260900.mp3",
        ".0912261400a0912261410.mp3", "0812261500a0812261510.wav"})
    Touch(name);
  struct Case {
    const char* what;
    LocalTime day;
    int hour, minute;
    RecordingLookup::Result result;
    const char* found;  // when found
    bool midnight;
  };
  using R = RecordingLookup::Result;
  const Case cases[] = {
      {"inside a recording", Day(8), 15, 35, R::Found, "0812261530a0812261540.mp3", false},
      {"its end minute: the first, which sorts first", Day(8), 15, 40, R::Found,
       "0812261530a0812261540.mp3", false},
      {"after the last of the afternoon", Day(8), 15, 55, R::NotFound, "", false},
      {"00:05 the next day: begun the day before", Day(9), 0, 5, R::Found,
       "0812262355a0912260005.MP3", true},
      {"23:57: ends the next day", Day(8), 23, 57, R::Found, "0812262350a0912260000.mp3", true},
      {"after a failed midnight search, a plain one", Day(9), 14, 0, R::Found,
       "0912261400a0912261410.mp3", false},
      {"a recording being written never matches", Day(9), 9, 0, R::NotFound, "", false},
      {"another day", Day(10), 15, 35, R::NotFound, "", false},
  };
  RecordingLookup lookup(Ini());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(lookup.Lookup(Folder(), c.day, c.hour, c.minute), c.result);
    if (c.result == R::Found) {
      EXPECT_EQ(lookup.FoundName(), c.found);
      EXPECT_EQ(lookup.MidnightSearch(), c.midnight);
      EXPECT_EQ(lookup.TargetTime(), c.hour * 3600 + c.minute * 60);
    } else {
      EXPECT_FALSE(lookup.MidnightSearch());
    }
  }
  EXPECT_EQ(lookup.Lookup(Folder("missing"), Day(8), 15, 35), R::FolderMissing);
  EXPECT_STREQ(RecordingLookup::kNotFound, "Arquivo de áudio não encontrado...");
  EXPECT_STREQ(RecordingLookup::kFolderMissing, "Local dos arquivos de áudio inexistente!");
}

// The start and end of the found name become the lookup's times; the follow-on search takes
// the first recording starting at or after the end, and after a recording that ends the next
// day it goes on with that day's.
TEST_F(LookupTest, FollowOnTakesTheNextRecordingOfTheDayItsPredecessorEnded) {
  for (const char* name :
       {"0812262330a0812262340.mp3", "0812262345a0812262350.mp3", "0812262350a0912260000.mp3",
        "0912260000a0912260010.mp3", "0912260020a0912260030.mp3"})
    Touch(name);
  RecordingLookup lookup(Ini());
  ASSERT_EQ(lookup.Lookup(Folder(), Day(8), 23, 35), RecordingLookup::Result::Found);
  EXPECT_EQ(lookup.FoundStart(), 23 * 3600 + 30 * 60);
  EXPECT_EQ(lookup.FoundEnd(), 23 * 3600 + 40 * 60);
  const Names expected = {"0812262345a0812262350.mp3", "0812262350a0912260000.mp3",
                          "0912260000a0912260010.mp3", "0912260020a0912260030.mp3"};
  for (const std::string& next : expected) {
    ASSERT_TRUE(lookup.FollowOn(Folder())) << next;  // a gap (23:40-23:45) is stepped over
    EXPECT_EQ(lookup.FoundName(), next);
  }
  EXPECT_FALSE(lookup.FollowOn(Folder()));  // the last one
}

// A matching name whose hour or minute is no number gives a clear error naming the file.
TEST_F(LookupTest, NameThatDoesNotConvertIsAClearError) {
  Touch("08122615xxa0812261540.mp3");
  RecordingLookup lookup(Ini());
  try {
    lookup.Lookup(Folder(), Day(8), 15, 35);
    FAIL() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_EQ(std::string(e.what()),
              "'xx' is not a valid integer value (file 08122615xxa0812261540.mp3)");
  }
}

// Names sorted without regard to case, dot-files left out, the mask matched in any case.
TEST_F(LookupTest, ListingSortsWithoutCaseAndSkipsDotFiles) {
  for (const char* name : {"b.mp3", "A.MP3", "c.Mp3", ".hidden.mp3", "d.wav"}) Touch(name);
  fs::create_directories(root / "st1" / "e.mp3");
  EXPECT_EQ(RecordingLookup::ListMatchingFiles(Folder(), "*.mp3"),
            (Names{"A.MP3", "b.mp3", "c.Mp3", "e.mp3"}));
}

// The station table: a missing cfg.ini is made with station 1's folder; the recorder's file
// gives the names and the count; the folder of a station is saved as its LocalPlay.
TEST_F(LookupTest, StationsFromCfgIniAndFoldersSaved) {
  RecordingLookup fresh(Ini());
  // The file made holds only the folder: no station count yet, which is an error.
  EXPECT_THROW(fresh.LoadPlayerConfiguration("/srv/audio"), EConvertError);
  EXPECT_EQ(PrivateProfile(Ini()).ReadString("LocalPlay", "R1"), "/srv/audio");
  EXPECT_EQ(fresh.StationCount(), 0);

  PrivateProfile ini(Ini());
  ini.WriteString("Geral", "Emissoras", "3");
  ini.WriteString("Emissoras", "R1", "Rádio Um");
  ini.WriteString("Emissoras", "R3", "Três");
  ini.WriteString("LocalPlay", "R3", "/mnt/share/tres");
  RecordingLookup lookup(Ini());
  lookup.LoadPlayerConfiguration("/ignored");
  ASSERT_EQ(lookup.StationCount(), 3);
  EXPECT_EQ(lookup.Station(0).name, "Rádio Um");
  EXPECT_EQ(lookup.Station(0).folder, "/srv/audio");
  EXPECT_EQ(lookup.Station(1).name, "");
  EXPECT_EQ(lookup.Station(2).folder, "/mnt/share/tres");
  lookup.SaveStationFolder(1, "/mnt/share/dois");
  EXPECT_EQ(lookup.Station(1).folder, "/mnt/share/dois");
  EXPECT_EQ(PrivateProfile(Ini()).ReadString("LocalPlay", "R2"), "/mnt/share/dois");
  EXPECT_EQ(PrivateProfile(Ini()).ReadString("Geral", "Emissoras"), "3");  // nothing else
}

// A month of eight stations (30 days of 144 recordings each): a lookup of one station's day
// reads a folder of 4320 names.
TEST_F(LookupTest, LookupInAMonthOfRecordings) {
  for (int st = 1; st <= 8; ++st) {
    const fs::path folder = root / ("m" + std::to_string(st));
    fs::create_directories(folder);
    for (int day = 1; day <= 30; ++day) {
      for (int k = 0; k < 144; ++k) {
        const LocalTime d = Day(day, 11);
        const int start = k * 10, end = start + 10;
        char name[40];
        const std::string ds = DayStamp(d);
        const std::string de = end == 1440 ? DayStampAfter(d, 1) : ds;
        std::snprintf(name, sizeof name, "%s%02d%02da%s%02d%02d.mp3", ds.c_str(), start / 60,
                      start % 60, de.c_str(), end / 60 % 24, end % 60);
        std::ofstream(folder / name) << "";
      }
    }
  }
  RecordingLookup lookup(Ini());
  double worst = 0;
  for (int k = 0; k < 20; ++k) {
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(lookup.Lookup((root / "m3").string(), Day(1 + k, 11), 15, 37),
              RecordingLookup::Result::Found);
    worst = std::max(
        worst,
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    EXPECT_EQ(lookup.FoundName().substr(6, 4), "1530");
  }
  std::printf("lookup in a folder of 4320 recordings: at most %.2f ms over 20 lookups\n", worst);
}

}  // namespace
