#include "job/polled_ui.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace larkspur {
namespace {

// The worker asks (question) or tells; the user-interface thread takes each
// request as the progress dialog's timer does and presses Yes or No (OK).
// The worker waits for every answer, so the requests come in order and a
// tick inside the message box finds nothing more to show.
TEST(PolledUserInterface, WorkerWaitsForEachAnswerInOrder) {
  struct Step {
    bool question;
    std::string text;
    bool yes;
  };
  const std::vector<Step> steps = {
      {true, "q1", true}, {false, "n1", true}, {true, "q2", false}, {false, "n2", false}, {true, "q3", true}};
  PolledUserInterface ui;
  std::atomic<int> returned{0};
  std::vector<bool> answers;
  std::thread worker([&] {
    for (const Step& step : steps) {
      const Message message{"caption", step.text, MessageIcon::kQuestion};
      if (step.question) answers.push_back(ui.confirm(message));
      if (!step.question) ui.notify(message);
      ++returned;
    }
  });
  for (std::size_t i = 0; i < steps.size();) {
    const auto request = ui.take_request();
    if (!request) {
      std::this_thread::yield();
      continue;
    }
    EXPECT_EQ(request->message.text, steps[i].text);
    EXPECT_EQ(request->question, steps[i].question);
    EXPECT_EQ(returned.load(), static_cast<int>(i));
    EXPECT_FALSE(ui.take_request());
    ui.answer(steps[i++].yes);
  }
  worker.join();
  EXPECT_EQ(answers, (std::vector<bool>{true, false, true}));
}

// At the end of the program nobody answers: a waiting worker, its request
// taken or not, goes on with No, and later requests do not wait.
TEST(PolledUserInterface, CloseReleasesTheWorker) {
  for (const bool taken : {false, true}) {
    PolledUserInterface ui;
    std::atomic<bool> yes{true};
    std::thread worker([&] { yes = ui.confirm({"c", "q", MessageIcon::kQuestion}); });
    while (taken && !ui.take_request()) std::this_thread::yield();
    ui.close();
    worker.join();
    ui.answer(true);  // a box dismissed after the end changes nothing
    EXPECT_FALSE(yes.load()) << taken;
    EXPECT_FALSE(ui.confirm({"c", "later", MessageIcon::kQuestion}));
    ui.notify({"c", "later", MessageIcon::kInformation});
    EXPECT_FALSE(ui.take_request());
  }
}

}  // namespace
}  // namespace larkspur
