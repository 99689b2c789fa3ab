// Retention: the purge of old recordings, the low-space guard, and the file operations they
// and the session rely on (no-replace rename, complete copies, deletions that spare held files).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TestTime.h"
#include "common/Convert.h"
#include "common/WallClock.h"
#include "platform/DiskSpace.h"
#include "platform/FileOps.h"
#include "platform/LockedFile.h"
#include "recorder/Retention.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// 8 December 2026, 23:55 local time.
WallTime Now() {
  return FromLocal({2026, 12, 8, 23, 55, 0, 0});
}

void Put(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) {
  return fs::exists(fs::symlink_status(path));
}

class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/retention_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    SetWallClock([] { return Now(); });
  }
  void TearDown() override {
    SetWallClock({});
    SetDiskSpaceQuery({});
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  std::string Path(const std::string& relative) const { return JoinPath(root, relative); }
  std::string Folder(const std::string& relative) const {
    fs::create_directories(Path(relative));
    return Path(relative);
  }
  // A small file with the given age.
  void Old(const std::string& relative, std::chrono::system_clock::duration age) {
    Put(Path(relative), "frames");
    SetModified(Path(relative), Now() - age);
  }

  std::string root;
};

// ---------------------------------------------------------------------------------------------
// Purge

enum class Kind { File, Held, Directory };

struct PurgeCase {
  const char* what;
  const char* diasRec;
  const char* path;  // s1, s2: stations passed; s3: a station beyond the count; b1: backup
  Kind kind;
  std::chrono::system_clock::duration age;  // negative: modified in the future
  bool kept;
};

constexpr auto kDay = 24h;

const PurgeCase kPurgeCases[] = {
    {"30 days and a minute", "30", "s1/0811262354a0811262355.mp3", Kind::File, 30 * kDay + 1min,
     false},
    {"exactly 30 days", "30", "s1/0811262355a0811262355.mp3", Kind::File, 30 * kDay, false},
    {"29 days 23 hours", "30", "s1/0911262255a0911262255.mp3", Kind::File, 29 * kDay + 23h, true},
    {"a second short of 30 days", "30", "s1/0911262354a0911262355.mp3", Kind::File, 30 * kDay - 1s,
     true},
    {"second station", "30", "s2/0111261000a0111261010.mp3", Kind::File, 37 * kDay, false},
    {"in-progress name left by a crash", "30", "s1/0111261000.mp3", Kind::File, 37 * kDay, false},
    {"not a recording name", "30", "s1/jingle.mp3", Kind::File, 40 * kDay, false},
    {"upper-case extension", "30", "s1/JINGLE2.MP3", Kind::File, 40 * kDay, false},
    {"hidden file", "30", "s2/.copy.mp3", Kind::File, 40 * kDay, false},
    {"wave file", "30", "s1/take.wav", Kind::File, 40 * kDay, true},
    {"mp3 not at the end", "30", "s1/take.mp3.bak", Kind::File, 40 * kDay, true},
    {"file in a subfolder", "30", "s1/sub/0111261000a0111261010.mp3", Kind::File, 40 * kDay, true},
    {"directory named like a recording", "30", "s1/x.mp3", Kind::Directory, 40 * kDay, true},
    {"station beyond the count", "30", "s3/0111261000a0111261010.mp3", Kind::File, 40 * kDay, true},
    {"backup copy", "30", "b1/0111261000a0111261010.mp3", Kind::File, 40 * kDay, true},
    {"held recording", "30", "s2/0111261000.mp3", Kind::Held, 40 * kDay, true},

    {"finished a minute ago", "0", "s1/0812262344a0812262354.mp3", Kind::File, 1min, false},
    {"modified right now", "0", "s1/0812262345a0812262355.mp3", Kind::File, 0s, false},
    {"a week old", "0", "s2/0112261000a0112261010.mp3", Kind::File, 7 * kDay, false},
    {"the segment being recorded", "0", "s1/0812262355.mp3", Kind::Held, 0s, true},
    {"ahead of the clock", "0", "s2/0812262356a0812262357.mp3", Kind::File, -2min, true},

    // Extreme settings saturate instead of wrapping around.
    {"largest retention keeps 1970", "2147483647", "s1/0101701000a0101701010.mp3", Kind::File,
     Now().time_since_epoch() - 1s, true},
    {"most negative retention", "-2147483648", "s1/0101301000a0101301010.mp3", Kind::File,
     -100 * 365 * kDay, false},
};

class PurgeTest : public TempDirTest {};

TEST_F(PurgeTest, DeletesByModificationTimeOnlyInTheListedFoldersAndSparesHeldFiles) {
  std::set<std::string> settings;
  for (const PurgeCase& c : kPurgeCases) settings.insert(c.diasRec);
  for (const std::string& diasRec : settings) {
    SCOPED_TRACE("DiasRec " + diasRec);
    const std::string base = "run" + diasRec;
    for (const char* f : {"s1", "s2", "s3", "b1", "s1/sub"}) Folder(base + "/" + f);
    std::vector<std::unique_ptr<LockedFile>> held;
    for (const PurgeCase& c : kPurgeCases) {
      if (c.diasRec != diasRec) continue;
      const std::string p = Path(base + "/" + c.path);
      if (c.kind == Kind::Directory) {
        fs::create_directory(p);
        Put(p + "/inside.mp3", "x");
        SetModified(p + "/inside.mp3", Now() - c.age);
      } else if (c.kind == Kind::Held) {
        held.push_back(std::make_unique<LockedFile>());
        ASSERT_TRUE(held.back()->Create(p));
      } else {
        Put(p, "frames");
      }
      SetModified(p, Now() - c.age);
    }

    PurgeOldRecordings({Path(base + "/s1"), Path(base + "/s2")}, diasRec);

    for (const PurgeCase& c : kPurgeCases) {
      if (c.diasRec != diasRec) continue;
      const std::string p = Path(base + "/" + c.path);
      EXPECT_EQ(Exists(p), c.kept) << c.what << ": " << c.path;
      if (c.kind == Kind::Directory) {
        EXPECT_TRUE(Exists(p + "/inside.mp3")) << c.what;
      }
    }
  }
}

TEST_F(PurgeTest, ZeroDaysLeavesOnlyTheOpenRecording) {
  const std::string s1 = Folder("s1");
  for (int i = 0; i < 12; ++i)
    Old("s1/08122623" + std::to_string(10 + i) + "a0812262355.mp3", std::chrono::minutes(i));
  LockedFile recording;
  ASSERT_TRUE(recording.Create(Path("s1/0812262355.mp3")));
  SetModified(Path("s1/0812262355.mp3"), Now() - 1min);

  PurgeOldRecordings({s1}, "0");

  const std::vector<FileEntry> left = ListFolder(s1, "*");
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].name, "0812262355.mp3");
  // Still the open file: what the recording writes lands in the folder.
  ASSERT_TRUE(recording.Write("abc", 3));
  EXPECT_EQ(Bytes(Path("s1/0812262355.mp3")), "abc");
}

TEST_F(PurgeTest, BadSettingFailsOnlyWhenThereIsAFileToExamine) {
  struct Case {
    const char* what;
    const char* diasRec;
    std::vector<const char*> files;  // old files, relative to the run's folder
    std::vector<const char*> dirs;
    bool raises;
    std::chrono::system_clock::duration age = 40 * kDay;
  };
  const Case cases[] = {
      {"empty setting, one recording", "", {"s1/0111261000a0111261010.mp3"}, {}, true},
      {"text, recording in the second folder",
       "trinta",
       {"s2/0111261000a0111261010.mp3"},
       {},
       true},
      {"text, recording not yet old", "30 dias", {"s1/0812261000a0812261010.mp3"}, {}, true, 13h},
      {"text, empty folders", "abc", {}, {}, false},
      {"text, nothing that is a recording",
       "abc",
       {"s1/take.wav", "s1/sub/0111261000a0111261010.mp3", "s2/x.mp3.bak"},
       {"s1/dir.mp3"},
       false},
      {"empty setting, old file only in an unlisted station", "", {"s3/old.mp3"}, {}, false},
  };
  int run = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string base = "bad" + std::to_string(run++);
    for (const char* f : {"s1", "s2", "s3", "s1/sub"}) Folder(base + "/" + f);
    for (const char* d : c.dirs) fs::create_directory(Path(base + "/" + d));
    for (const char* f : c.files) Old(base + "/" + f, c.age);
    const std::vector<std::string> folders = {Path(base + "/missing"), Path(base + "/s1"),
                                              Path(base + "/s2")};
    if (c.raises) {
      EXPECT_THROW(PurgeOldRecordings(folders, c.diasRec), EConvertError);
    } else {
      EXPECT_NO_THROW(PurgeOldRecordings(folders, c.diasRec));
    }
    // Nothing is deleted either way: the setting is never valid here.
    for (const char* f : c.files) EXPECT_TRUE(Exists(Path(base + "/" + f))) << f;
  }
}

// The machine's time zone for the length of a test.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    had_ = std::getenv("TZ") != nullptr;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (had_)
      setenv("TZ", saved_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  std::string saved_;
  bool had_ = false;
};

// Days of the local calendar: across a change of daylight saving time a day of retention is
// 23 or 25 hours long, and a file is judged by the local date and time people read.
TEST_F(PurgeTest, DaysCountInLocalDateAndTimeAcrossDaylightSavingChanges) {
  ScopedTimeZone zone("Europe/Berlin");  // clocks forward 29 March 2026, back 25 October 2026
  struct Case {
    const char* what;
    LocalTime now;
    LocalTime modified;
    bool kept;
  };
  const Case cases[] = {
      // 30 x 24 h before the spring "now" is 11:00 on 11 March: a 24-hour count keeps this one.
      {"spring, 30 days 1 minute", {2026, 4, 10, 12, 0, 0, 0}, {2026, 3, 11, 11, 59, 0, 0}, false},
      {"spring, 29 days 23 hours", {2026, 4, 10, 12, 0, 0, 0}, {2026, 3, 11, 13, 0, 0, 0}, true},
      // 30 x 24 h before the autumn "now" is 13:00 on 11 October: a 24-hour count deletes this.
      {"autumn, 29 days 23 hours", {2026, 11, 10, 12, 0, 0, 0}, {2026, 10, 11, 13, 0, 0, 0}, true},
      {"autumn, 30 days 1 minute",
       {2026, 11, 10, 12, 0, 0, 0},
       {2026, 10, 11, 11, 59, 0, 0},
       false},
  };
  const std::string f = Folder("s1");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const WallTime now = FromLocal(c.now);
    SetWallClock([now] { return now; });
    const std::string file = JoinPath(f, "rec.mp3");
    Put(file, "frames");
    SetModified(file, FromLocal(c.modified));
    PurgeOldRecordings({f}, "30");
    EXPECT_EQ(Exists(file), c.kept);
  }
}

TEST_F(PurgeTest, MissingFoldersAreSkipped) {
  Folder("s2");
  Old("s2/0111261000a0111261010.mp3", 40 * kDay);
  EXPECT_NO_THROW(PurgeOldRecordings({Path("none"), "", Path("s2")}, "30"));
  EXPECT_FALSE(Exists(Path("s2/0111261000a0111261010.mp3")));
}

// ---------------------------------------------------------------------------------------------
// Low-space guard

class GuardTest : public TempDirTest {};

TEST_F(GuardTest, DeletesOldestFirstByModificationTimeThenName) {
  const std::string f = Folder("s1");
  // Names disagree with the ages on purpose: the file time decides.
  Old("s1/0112261000a0112261010.mp3", 1 * kDay);
  Old("s1/0512261000a0512261010.mp3", 10 * kDay);
  Old("s1/0312261000a0312261010.MP3", 5 * kDay);
  Old("s1/0212261000a0212261010.mp3", 5 * kDay);
  const char* expected[] = {"0512261000a0512261010.mp3", "0212261000a0212261010.mp3",
                            "0312261000a0312261010.MP3", "0112261000a0112261010.mp3"};
  for (const char* name : expected) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(Exists(JoinPath(f, name)));
    EXPECT_TRUE(DeleteOldestRecording(f).deleted);
    EXPECT_FALSE(Exists(JoinPath(f, name)));
  }
  EXPECT_FALSE(DeleteOldestRecording(f).deleted);
}

// The guard frees no more than it is allowed: an oldest recording larger than the budget
// stays, and so does every younger one.
TEST_F(GuardTest, FreesNoMoreThanTheBudget) {
  const std::string f = Folder("s1");
  Put(Path("s1/0112261000a0112261010.mp3"), std::string(1000, 'x'));
  SetModified(Path("s1/0112261000a0112261010.mp3"), Now() - 5 * kDay);
  Put(Path("s1/0212261000a0212261010.mp3"), std::string(10, 'x'));
  SetModified(Path("s1/0212261000a0212261010.mp3"), Now() - 4 * kDay);

  const GuardDeletion refused = DeleteOldestRecording(f, 999);
  EXPECT_FALSE(refused.deleted);
  EXPECT_TRUE(refused.overBudget);
  EXPECT_TRUE(Exists(Path("s1/0112261000a0112261010.mp3")));
  EXPECT_TRUE(Exists(Path("s1/0212261000a0212261010.mp3")));

  const GuardDeletion done = DeleteOldestRecording(f, 1000);
  EXPECT_TRUE(done.deleted);
  EXPECT_EQ(done.name, "0112261000a0112261010.mp3");
  EXPECT_EQ(done.bytes, 1000u);
  EXPECT_FALSE(Exists(Path("s1/0112261000a0112261010.mp3")));
}

TEST_F(GuardTest, SkipsAHeldRecording) {
  const std::string f = Folder("s1");
  const std::string held = Path("s1/0112261000a0112261010.mp3");
  LockedFile lock;
  ASSERT_TRUE(lock.Create(held));
  SetModified(held, Now() - 20 * kDay);
  Old("s1/0212261000a0212261010.mp3", 10 * kDay);

  EXPECT_TRUE(DeleteOldestRecording(f).deleted);
  EXPECT_FALSE(Exists(Path("s1/0212261000a0212261010.mp3")));
  EXPECT_FALSE(DeleteOldestRecording(f).deleted);
  EXPECT_TRUE(Exists(held));
  lock.Close();
  EXPECT_TRUE(DeleteOldestRecording(f).deleted);
  EXPECT_FALSE(Exists(held));
}

TEST_F(GuardTest, TouchesNothingButFinishedRecordings) {
  const std::string f = Folder("s1");
  Folder("s1/sub");
  const char* spared[] = {
      "0812262345.mp3",                 // being recorded, or left by a crash
      "0812262345.MP3",                 //
      "0812261530a0812261540.wav",      //
      "0812261530a0812261540.mp3.bak",  //
      "0812261530A0812261540.mp3",      // the recorder writes a lower-case a
      "0812261530b0812261540.mp3",      //
      "081226153xa0812261540.mp3",      //
      "0812261530a081226154x.mp3",      //
      "0812261530a081226154.mp3",       // one digit short
      "00812261530a0812261540.mp3",     // one digit too many
      ".812261530a0812261540.mp3",      //
      "jingle.mp3",                     //
      "notes.txt",                      //
      "sub/0812261530a0812261540.mp3",  // subfolders are not entered
  };
  for (const char* name : spared) Old(std::string("s1/") + name, 60 * kDay);
  fs::create_directory(Path("s1/0712261530a0712261540.mp3"));
  SetModified(Path("s1/0712261530a0712261540.mp3"), Now() - 90 * kDay);
  Old("s1/0812261530a0812261540.mp3", 1 * kDay);

  EXPECT_TRUE(DeleteOldestRecording(f).deleted);
  EXPECT_FALSE(Exists(Path("s1/0812261530a0812261540.mp3")));
  EXPECT_FALSE(DeleteOldestRecording(f).deleted);
  for (const char* name : spared) EXPECT_TRUE(Exists(Path(std::string("s1/") + name))) << name;
  EXPECT_TRUE(fs::is_directory(Path("s1/0712261530a0712261540.mp3")));
}

TEST_F(GuardTest, NothingToDeleteInAnEmptyOrMissingFolder) {
  EXPECT_FALSE(DeleteOldestRecording(Folder("empty")).deleted);
  EXPECT_FALSE(DeleteOldestRecording(Path("missing")).deleted);
}

TEST_F(GuardTest, RepeatedCallsStopOnceTheSpaceIsBack) {
  const std::string f = Folder("s1");
  // Six finished segments of a day each; every deleted one gives 100 MB back to a disk that
  // starts with 50 MB free. "MB Livres" 200: two deletions are enough.
  for (int day = 1; day <= 6; ++day)
    Old("s1/0" + std::to_string(day) + "12261000a0" + std::to_string(day) + "12261010.mp3",
        (10 - day) * kDay);
  constexpr uint64_t kMB = 1024 * 1024;
  SetDiskSpaceQuery([f](const std::string& folder, DiskSpace& out) {
    if (folder != f) return false;
    const uint64_t deleted = 6 - ListFolder(folder, "*.mp3").size();
    out.freeBytes = (50 + 100 * deleted) * kMB;
    out.totalBytes = 1000 * kMB;
    return true;
  });
  auto freeMB = [&] {
    DiskSpace d;
    EXPECT_TRUE(QueryDiskSpace(f, d));
    return d.freeBytes / kMB;
  };
  int buffers = 0;
  while (freeMB() < 200 && buffers < 100) {  // one check per buffer, as the session does
    DeleteOldestRecording(f);
    ++buffers;
  }
  EXPECT_EQ(buffers, 2);
  EXPECT_EQ(freeMB(), 250u);
  EXPECT_FALSE(Exists(Path("s1/0112261000a0112261010.mp3")));
  EXPECT_FALSE(Exists(Path("s1/0212261000a0212261010.mp3")));
  for (int day = 3; day <= 6; ++day)
    EXPECT_TRUE(Exists(
        Path("s1/0" + std::to_string(day) + "12261000a0" + std::to_string(day) + "12261010.mp3")));
}

// ---------------------------------------------------------------------------------------------
// File operations

class FileOpsTest : public TempDirTest {};

TEST_F(FileOpsTest, RenameNeverReplacesAnExistingFile) {
  const std::string a = Path("0812261530.mp3"), b = Path("0812261530a0812261540.mp3");
  Put(a, "second take");
  Put(b, "first take");
  EXPECT_FALSE(RenameNoReplace(a, b));
  EXPECT_EQ(Bytes(a), "second take");
  EXPECT_EQ(Bytes(b), "first take");

  ASSERT_TRUE(fs::remove(b));
  EXPECT_TRUE(RenameNoReplace(a, b));
  EXPECT_FALSE(Exists(a));
  EXPECT_EQ(Bytes(b), "second take");
  EXPECT_FALSE(RenameNoReplace(a, Path("other.mp3")));  // source gone
}

TEST_F(FileOpsTest, CopyReplacesAndLeavesNoPartialFile) {
  const std::string src = Path("src.mp3"), dst = Folder("backup") + "/dst.mp3";
  std::string big(200000, '\0');  // several read blocks
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
  Put(src, big);
  Put(dst, "an older copy that is longer than nothing");

  EXPECT_TRUE(CopyReplacing(src, dst));
  EXPECT_EQ(Bytes(dst), big);
  EXPECT_EQ(Bytes(src), big);
  EXPECT_FALSE(Exists(dst + ".part"));

  Put(src, "");
  EXPECT_TRUE(CopyReplacing(src, dst));
  EXPECT_EQ(Bytes(dst), "");
}

TEST_F(FileOpsTest, FailedCopiesLeaveNothingBehind) {
  const std::string src = Path("src.mp3"), dst = Folder("backup") + "/dst.mp3";
  Put(dst, "kept");
  EXPECT_FALSE(CopyReplacing(Path("missing.mp3"), dst));
  EXPECT_EQ(Bytes(dst), "kept");
  EXPECT_FALSE(Exists(dst + ".part"));

  Put(src, "frames");
  const std::string nowhere = Path("no-such-folder/dst.mp3");
  EXPECT_FALSE(CopyReplacing(src, nowhere));
  EXPECT_FALSE(Exists(Path("no-such-folder")));
  EXPECT_EQ(Bytes(src), "frames");
}

TEST_F(FileOpsTest, AppendAddsExactlyTheSourceBytes) {
  const std::string a = Path("a.raw"), b = Path("b.raw");
  std::string tail(150000, '\0');
  for (size_t i = 0; i < tail.size(); ++i) tail[i] = static_cast<char>(i % 253);
  Put(a, "head");
  Put(b, tail);
  EXPECT_TRUE(AppendFile(b, a));
  EXPECT_EQ(Bytes(a), "head" + tail);
  EXPECT_EQ(Bytes(b), tail);

  EXPECT_FALSE(AppendFile(Path("missing.raw"), a));
  EXPECT_EQ(Bytes(a), "head" + tail);
}

TEST_F(FileOpsTest, DeleteSparesHeldFilesAndFolders) {
  const std::string p = Path("0812261530.mp3");
  LockedFile rec;
  ASSERT_TRUE(rec.Create(p));
  EXPECT_TRUE(IsFileInUse(p));
  EXPECT_FALSE(DeleteUnlessHeld(p));
  EXPECT_TRUE(Exists(p));
  rec.Close();
  EXPECT_TRUE(DeleteUnlessHeld(p));
  EXPECT_FALSE(Exists(p));
  EXPECT_FALSE(DeleteUnlessHeld(p));

  Folder("dir.mp3");
  EXPECT_FALSE(DeleteUnlessHeld(Path("dir.mp3")));
  EXPECT_TRUE(fs::is_directory(Path("dir.mp3")));
}

TEST_F(FileOpsTest, DeleteDoesNotWaitOnAPipe) {
  // A named pipe in a station folder must not hang the purge on the interface thread.
  const std::string p = Path("pipe.mp3");
  ASSERT_EQ(mkfifo(p.c_str(), 0644), 0);
  auto done = std::async(std::launch::async, [p] { return DeleteUnlessHeld(p); });
  if (done.wait_for(5s) != std::future_status::ready) {
    const int w = open(p.c_str(), O_WRONLY | O_NONBLOCK);  // releases the blocked reader
    done.wait();
    if (w >= 0) close(w);
    FAIL() << "deleting a pipe blocked";
  }
  EXPECT_TRUE(done.get());
  EXPECT_FALSE(Exists(p));
}

TEST(MatchesMask, WildcardsIgnoreCase) {
  struct Case {
    const char* name;
    const char* mask;
    bool match;
  };
  const Case cases[] = {
      {"x.mp3", "*.mp3", true},
      {"X.MP3", "*.mp3", true},
      {"x.Mp3", "*.MP3", true},
      {".mp3", "*.mp3", true},
      {".hidden.mp3", "*.mp3", true},
      {"x.mp3.bak", "*.mp3", false},
      {"x.mp", "*.mp3", false},
      {"xmp3", "*.mp3", false},
      {"x.mp3", "*", true},
      {"", "*", true},
      {"", "?", false},
      {"0812261530.mp3", "??????????.mp3", true},
      {"081226153.mp3", "??????????.mp3", false},
      {"0812261530a0812261540.mp3", "??????????a??????????.mp3", true},
      {"0812261530A0812261540.MP3", "??????????a??????????.mp3", true},
      {"0812261530b0812261540.mp3", "??????????a??????????.mp3", false},
      {"a.b.c", "*.*", true},
      {"abc", "a*c", true},
      {"abcbc", "a*bc", true},
      {"abcbd", "a*bc", false},
      {"take.wav", "*.mp3", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MatchesMask(c.name, c.mask), c.match) << c.name << " ~ " << c.mask;
}

}  // namespace
