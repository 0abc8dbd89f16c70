#include "api/TransferAbort.h"

#include <algorithm>

void TransferAbort::Abort() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_aborted = true;
    for (CURLM* multi : m_waiting) {
        curl_multi_wakeup(multi);
    }
}

bool TransferAbort::Attach(CURLM* multi) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_aborted) {
        return false;
    }
    m_waiting.push_back(multi);
    return true;
}

void TransferAbort::Detach(CURLM* multi) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_waiting.erase(std::remove(m_waiting.begin(), m_waiting.end(), multi), m_waiting.end());
}
