// The process-priority window: its widgets follow the list, the search field selects, a row
// picked in the list is the one raised, and the window renders offscreen. It needs a widget
// application, hence a main of its own.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <cstdlib>
#include <set>

#include "recorder/U_Procs.h"

namespace {

class RecordingScheduler : public SchedulerApi {
 public:
  std::set<int> raised;
  std::vector<int> Threads(int pid) override { return {pid}; }
  bool GetNice(int, int& nice) override {
    nice = 0;
    return true;
  }
  bool SetRealtime(int tid) override {
    raised.insert(tid);
    return true;
  }
  bool SetNice(int, int) override { return false; }
};

ProcessWalk Processes() {
  return [](const ProcessSink& add) {
    const ProcessRecord records[] = {{1, 20, "systemd"},     {312, 20, "pipewire"},
                                     {640, 20, ""},          {1207, 20, "recorder"},
                                     {1300, 20, "Recorder"}, {2210, 20, "player"}};
    for (const ProcessRecord& r : records) add(r);
    return true;
  };
}

QStringList Items(const QListWidget* list) {
  QStringList items;
  for (int i = 0; i < list->count(); ++i) items.append(list->item(i)->text());
  return items;
}

TEST(PriorityWindow, WidgetsFollowTheListAndTheSearch) {
  RecordingScheduler sched;
  TFrmPrioridade form;
  form.Processes().SetSystem(Processes(), sched);
  form.RefreshProcessList();

  EXPECT_EQ(Items(form.ListProcessos),
            QStringList({"systemd", "pipewire", "< Unknown >", "recorder", "Recorder", "player"}));
  EXPECT_EQ(form.ListProcessos->currentRow(), 0);

  struct Case {
    const char* text;
    int row;
  };
  const Case cases[] = {{"rec", 3}, {"PLAY", 5}, {"<", 2}, {"sys", 0}, {"nothing", -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    form.EdProcesso->setText(c.text);  // the change handler runs on every edit
    EXPECT_EQ(form.ListProcessos->currentRow(), c.row);
    EXPECT_EQ(form.Processes().Selected(), c.row);
    EXPECT_EQ(form.ListProcessos->selectedItems().size(), c.row < 0 ? 0 : 1);
  }
}

TEST(PriorityWindow, RaisesTheRowPickedInTheList) {
  RecordingScheduler sched;
  TFrmPrioridade form;
  form.Processes().SetSystem(Processes(), sched);
  form.RefreshProcessList();
  form.EdProcesso->setText("recorder");
  form.ListProcessos->setCurrentRow(4);

  EXPECT_TRUE(form.RaiseSelectedProcessPriority());
  EXPECT_EQ(sched.raised, std::set<int>{1300});
  // Refreshed, with the same position selected again.
  EXPECT_EQ(form.ListProcessos->count(), 6);
  EXPECT_EQ(form.ListProcessos->currentRow(), 4);
}

TEST(PriorityWindow, RendersOffscreen) {
  RecordingScheduler sched;
  TFrmPrioridade form;
  form.Processes().SetSystem(Processes(), sched);
  form.RefreshProcessList();
  form.EdProcesso->setText("rec");

  const QImage image = form.grab().toImage();
  ASSERT_FALSE(image.isNull());
  EXPECT_GT(image.width(), 0);
  EXPECT_GT(image.height(), 0);
  EXPECT_TRUE(image.save(TEST_OUTPUT_DIR "/priority_window.png"));
  // Something is drawn: the field, the list and its selected row are not one flat colour.
  std::set<QRgb> colours;
  for (int y = 0; y < image.height(); y += 4)
    for (int x = 0; x < image.width(); x += 4) colours.insert(image.pixel(x, y));
  EXPECT_GT(colours.size(), 2u);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
