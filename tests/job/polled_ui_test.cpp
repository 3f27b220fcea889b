#include "job/polled_ui.h"

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace larkspur {
namespace {

struct Step {
  bool question;
  std::string text;
  bool answer;  // what the user presses: true Yes (ignored for a notice)
};

// Plays the user-interface thread's part as the progress dialog's timer
// does: takes each request as it comes, shows it (records it) and answers.
// Returns the requests in the order taken.
std::vector<PolledUserInterface::Request> serve(PolledUserInterface& ui,
                                                const std::vector<Step>& steps,
                                                const std::atomic<int>& returned) {
  std::vector<PolledUserInterface::Request> taken;
  while (taken.size() < steps.size()) {
    std::optional<PolledUserInterface::Request> request = ui.take_request();
    if (!request) {
      std::this_thread::yield();
      continue;
    }
    // The worker waits for the answer; a tick inside the box finds nothing.
    EXPECT_EQ(returned.load(), static_cast<int>(taken.size()));
    EXPECT_FALSE(ui.take_request());
    ui.answer(steps[taken.size()].answer);
    taken.push_back(*request);
  }
  return taken;
}

TEST(PolledUserInterface, WorkerWaitsForEachAnswerInOrder) {
  const struct {
    const char* name;
    std::vector<Step> steps;
  } cases[] = {
      {"questions", {{true, "q1", true}, {true, "q2", false}, {true, "q3", true}}},
      {"notices and questions mixed",
       {{false, "n1", false}, {true, "q1", false}, {false, "n2", true}, {true, "q2", true}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PolledUserInterface ui;
    std::atomic<int> returned{0};
    std::vector<bool> answers;
    std::thread worker([&] {
      for (const Step& step : c.steps) {
        const Message message{"caption", step.text, MessageIcon::question};
        if (step.question) {
          answers.push_back(ui.confirm(message));
        } else {
          ui.notify(message);
        }
        returned.fetch_add(1);
      }
    });
    const std::vector<PolledUserInterface::Request> taken = serve(ui, c.steps, returned);
    worker.join();
    ASSERT_EQ(taken.size(), c.steps.size());
    std::vector<bool> expected_answers;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      EXPECT_EQ(taken[i].message.text, c.steps[i].text);
      EXPECT_EQ(taken[i].message.caption, "caption");
      EXPECT_EQ(taken[i].question, c.steps[i].question);
      if (c.steps[i].question) expected_answers.push_back(c.steps[i].answer);
    }
    EXPECT_EQ(answers, expected_answers);
    EXPECT_FALSE(ui.take_request());
  }
}

// At the end of the program nobody answers: a worker waiting, whether its
// request was taken or not, goes on with No, and later requests do not wait.
TEST(PolledUserInterface, CloseReleasesTheWorker) {
  for (const bool take_first : {false, true}) {
    SCOPED_TRACE(take_first ? "request taken" : "request not taken");
    PolledUserInterface ui;
    std::atomic<bool> answered_yes{true};
    std::thread worker([&] { answered_yes = ui.confirm({"c", "q", MessageIcon::question}); });
    if (take_first) {
      while (!ui.take_request()) std::this_thread::yield();
    }
    ui.close();
    worker.join();
    EXPECT_FALSE(answered_yes.load());
    ui.answer(true);  // the box closed after the end: ignored
    EXPECT_FALSE(ui.confirm({"c", "later", MessageIcon::question}));
    ui.notify({"c", "later", MessageIcon::information});
    EXPECT_FALSE(ui.take_request());
  }
}

}  // namespace
}  // namespace larkspur
