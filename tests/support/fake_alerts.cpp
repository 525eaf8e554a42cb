#include "tests/support/fake_alerts.h"

int FakeAlerts::run(const Alert& alert)
{
    shown.push_back(alert);
    if (answers_.empty())
        return firstButton;
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
}
