#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Real peers on 127.0.0.1 for the cashier-link and composition tests.

// A port on 127.0.0.1 that was free a moment ago.
int FreeLoopbackPort();
// A blocking TCP connection to 127.0.0.1:port; -1 on failure.
int ConnectLoopback(int port);
// Number of sockets this process holds open (from /proc/self/fd).
int CountOpenSockets();
// Every log file of the program folder, concatenated.
std::string ReadProgramLogs(const std::string& programDir);

// A small HTTP/1.0 server on 127.0.0.1 on a thread of its own: answers GET with
// the body registered for the path (200) or 404, and records every request
// target in arrival order.
class LoopbackHttpServer {
public:
    LoopbackHttpServer();
    ~LoopbackHttpServer();  // stops and joins
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    int Port() const { return m_port; }
    std::string BaseUrl() const;
    void Serve(const std::string& path, const std::string& body);
    std::vector<std::string> Requests();

private:
    void Run();
    void Answer(int fd);

    int m_listenFd = -1;
    int m_wakeFds[2] = {-1, -1};
    int m_port = 0;
    std::mutex m_mutex;
    std::map<std::string, std::string> m_bodies;
    std::vector<std::string> m_requests;
    std::thread m_thread;
};
