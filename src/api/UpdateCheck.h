#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "api/Deliver.h"
#include "api/TransferAbort.h"

// Asks the web API for the update address on a thread of its own, so that
// neither the cashier nor the window waits on the answer; the result comes
// back through the owner's deliver function.
class UpdateCheck {
public:
    // The result of RequestUpdateUrl: success and the answer.
    using Result = std::function<void(bool ok, const std::string& answer)>;

    explicit UpdateCheck(Deliver deliver);
    ~UpdateCheck();  // Stop()
    UpdateCheck(const UpdateCheck&) = delete;
    UpdateCheck& operator=(const UpdateCheck&) = delete;

    // Starts the one request of the run; false when it was started before or
    // the check is stopped. `result` is delivered once, unless stopped first.
    bool Start(Result result);
    // Ends the request under way at once and joins; nothing is delivered after.
    void Stop();

private:
    Deliver m_deliver;
    TransferAbort m_abort;
    std::mutex m_mutex;
    bool m_stopped = false;
    std::thread m_thread;
};
