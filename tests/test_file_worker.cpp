// The file worker: jobs in order off the calling thread, their results back on it, a drain
// that runs nothing else, and recordings flushed to the disk while they are written.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/FileOps.h"
#include "platform/FileWorker.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// A folder of the test's own, gone afterwards.
struct ScratchDir {
  explicit ScratchDir(const std::string& name)
      : path(fs::path(TEST_DATA_DIR) / (name + "_" + std::to_string(getpid()))) {
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~ScratchDir() { fs::remove_all(path); }
  const fs::path path;
};

TEST(FileWorker, JobsRunInOrderOffTheCallerAndTheirResultsComeBackOnIt) {
  FileWorker worker;
  const auto caller = std::this_thread::get_id();
  std::vector<int> ran;  // written by the jobs only, read after the drain
  std::vector<int> done;
  std::atomic<bool> offCaller{true};
  for (int i = 0; i < 20; ++i)
    worker.Post(
        [&, i] {
          if (std::this_thread::get_id() == caller) offCaller = false;
          if (i == 0) std::this_thread::sleep_for(50ms);  // the rest wait behind a slow one
          ran.push_back(i);
        },
        [&, i] {
          EXPECT_EQ(std::this_thread::get_id(), caller);
          done.push_back(i);
        });
  worker.Drain();
  EXPECT_TRUE(offCaller);
  ASSERT_EQ(ran.size(), 20u);
  ASSERT_EQ(done.size(), 20u);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(ran[static_cast<size_t>(i)], i);
    EXPECT_EQ(done[static_cast<size_t>(i)], i);
  }
  EXPECT_EQ(worker.Pending(), 0u);
}

// Results also come back through the event loop, without a drain.
TEST(FileWorker, ResultsArriveThroughTheEventLoop) {
  FileWorker worker;
  bool done = false;
  worker.Post([] {}, [&done] { done = true; });
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (!done && std::chrono::steady_clock::now() < until) {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_TRUE(done);
}

// A drain waits for the worker and for nothing else: no timer, no other event runs inside it.
TEST(FileWorker, DrainRunsNothingButTheWorkersResults) {
  FileWorker worker;
  bool timerRan = false;
  QTimer::singleShot(0, [&timerRan] { timerRan = true; });
  bool done = false;
  worker.Post([] { std::this_thread::sleep_for(30ms); }, [&] { done = true; });
  worker.Drain();
  EXPECT_TRUE(done);
  EXPECT_FALSE(timerRan);
  QCoreApplication::processEvents();
  EXPECT_TRUE(timerRan);
}

// What was posted is done before the worker goes, even a job still waiting.
TEST(FileWorker, EndingRunsTheJobsAlreadyPosted) {
  std::atomic<int> ran{0};
  {
    FileWorker worker;
    for (int i = 0; i < 5; ++i)
      worker.Post([&ran] {
        std::this_thread::sleep_for(10ms);
        ++ran;
      });
  }
  EXPECT_EQ(ran.load(), 5);
}

// A recording being written is flushed every period, once more when it is closed, and no
// longer after that; a file that cannot be opened is simply not watched.
TEST(FileWorker, RecordingsAreFlushedWhileWrittenAndOnceMoreWhenClosed) {
  const ScratchDir scratch("worker");
  const fs::path& dir = scratch.path;
  const std::string file = (dir / "0812261530.mp3").string();
  std::ofstream(file) << "frames";
  FileWorker worker(50ms);
  worker.FileCreated(file);
  worker.FileCreated((dir / "missing.mp3").string());
  const auto waitFor = [](const std::function<bool()>& cond) {
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (!cond() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(5ms);
    return cond();
  };
  EXPECT_TRUE(waitFor([&] { return worker.Watched() == 1; }));
  EXPECT_TRUE(waitFor([&] { return worker.Syncs() >= 3; }));  // about every 50 ms
  // Renamed while it is written: still the same file to the worker.
  ASSERT_TRUE(RenameNoReplace(file, (dir / "renamed.mp3").string()));
  const uint64_t before = worker.Syncs();
  worker.FileClosed(file);
  EXPECT_TRUE(waitFor([&] { return worker.Watched() == 0; }));
  EXPECT_GE(worker.Syncs(), before + 1);
  std::this_thread::sleep_for(150ms);
  const uint64_t after = worker.Syncs();
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(worker.Syncs(), after);  // nothing watched, nothing flushed
}

// A settings file is replaced whole: the new contents under the name, nothing left aside.
TEST(FileWorker, SmallFilesAreReplacedWholeAndNothingIsLeftAside) {
  const ScratchDir scratch("replace");
  const fs::path& dir = scratch.path;
  const std::string path = (dir / "cfg.ini").string();
  std::ofstream(path) << "old contents";
  ASSERT_TRUE(ReplaceFileDurably(path, "[Geral]\r\nTempoRec=10\r\n"));
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "[Geral]\r\nTempoRec=10\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  // A folder that is not there: the call fails and writes nothing.
  EXPECT_FALSE(ReplaceFileDurably((dir / "missing" / "cfg.ini").string(), "x"));
}

}  // namespace
