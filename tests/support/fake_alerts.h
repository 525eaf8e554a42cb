#pragma once

#include "platform/alerts.h"

#include <deque>
#include <vector>

// Records every alert and answers from a script; with the script used up it
// answers the first button, as a user clicking through would.
class FakeAlerts final : public Alerts {
public:
    int run(const Alert& alert) override;

    // Queues the answer to the next alert (Alerts::firstButton, secondButton, noButton).
    void answerNext(int answer) { answers_.push_back(answer); }

    std::vector<Alert> shown;

private:
    std::deque<int> answers_;
};
