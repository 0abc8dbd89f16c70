#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The fake web API (tools/fake_web_api.py) as a child process on a free
// loopback port, for as long as the object lives. `configJson` is the server's
// JSON configuration (accounts, update_url, clips, responses: see the script);
// `args` are further command-line options.
class FakeWebApi {
public:
    struct Request {
        std::string method;
        std::string path;
        std::vector<std::pair<std::string, std::string>> headers;
        std::string body;  // the exact bytes received
        // The value of a header (name without regard to case), or "" if absent.
        std::string Header(const std::string& name) const;
        bool HasHeader(const std::string& name) const;
    };

    explicit FakeWebApi(const std::string& configJson = "{}",
                        const std::vector<std::string>& args = {});
    ~FakeWebApi();
    FakeWebApi(const FakeWebApi&) = delete;
    FakeWebApi& operator=(const FakeWebApi&) = delete;

    // False when the server did not come up (the reason is in Error()).
    bool Running() const { return m_port != 0; }
    const std::string& Error() const { return m_error; }
    uint16_t Port() const { return m_port; }
    // "http://127.0.0.1:PORT", without a trailing '/'.
    std::string BaseUrl() const;
    // Every request received so far, in order.
    std::vector<Request> Requests() const;
    // Waits until `count` requests have arrived; false if they still had not
    // after `seconds` (a guard against hanging, not a speed check).
    bool WaitForRequests(size_t count, int seconds = 60) const;
    // Stops the server (also done by the destructor).
    void Stop();

private:
    std::string m_folder;
    std::string m_recordPath;
    pid_t m_pid = -1;
    int m_stdout = -1;
    uint16_t m_port = 0;
    std::string m_error;
};
