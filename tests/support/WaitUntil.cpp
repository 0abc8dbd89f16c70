#include "support/WaitUntil.h"

#include <chrono>
#include <thread>

bool WaitUntil(const std::function<bool()>& done, int seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}
