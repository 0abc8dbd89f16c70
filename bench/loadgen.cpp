// Load tool for the cashier link: opens many connections to 127.0.0.1:PORT and
// has each send a message, wait for its "OK" and send the next, as the cashier
// side does. One thread, epoll. Prints one line of key=value figures.
//
//   loadgen --port P --conns N [--seconds S] [--max-messages M]
//           [--message TEXT]... [--churn] [--random-half] [--seed X] [--rate R]
//
// --churn: every connection sends 1 to 5 messages, closes and opens again.
// --random-half: half of the connections send random bytes (1 to 512) instead.
// --rate: all connections together send at most R messages per second, evenly
//   spread, so latency can be read at a load below saturation.
// Only loopback is ever a target: the address is fixed to 127.0.0.1.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    int port = 0;
    int conns = 1;
    double seconds = 5;
    long maxMessages = -1;  // all connections together; -1 no bound
    std::vector<std::string> messages;
    bool churn = false;
    bool randomHalf = false;
    unsigned seed = 1;
    double rate = 0;  // messages per second over all connections; 0 as fast as the OKs come
};

struct Conn {
    int fd = -1;
    bool connecting = false;
    bool outstanding = false;
    bool random = false;
    int leftInLife = 0;  // churn: messages before closing
    int okBytes = 0;     // bytes of the current reply received so far
    bool paced = false;  // waiting for nextSend before sending
    Clock::time_point sentAt;
    Clock::time_point nextSend;
};

struct Totals {
    long sent = 0;
    long answered = 0;
    long unanswered = 0;
    long badReplies = 0;
    long connects = 0;
    long connectErrors = 0;
    long closedByServer = 0;
    long sendErrors = 0;
    std::vector<uint32_t> latencyUs;
};

[[noreturn]] void Usage(const char* why) {
    std::fprintf(stderr, "loadgen: %s\n", why);
    std::fprintf(
        stderr,
        "usage: loadgen --port P --conns N [--seconds S] [--max-messages M]\n"
        "               [--message TEXT]... [--churn] [--random-half] [--seed X] [--rate R]\n");
    std::exit(2);
}

Options Parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> const char* {
            if (i + 1 >= argc)
                Usage(("missing value after " + a).c_str());
            return argv[++i];
        };
        if (a == "--port") {
            o.port = std::atoi(next());
        } else if (a == "--conns") {
            o.conns = std::atoi(next());
        } else if (a == "--seconds") {
            o.seconds = std::atof(next());
        } else if (a == "--max-messages") {
            o.maxMessages = std::atol(next());
        } else if (a == "--message") {
            o.messages.emplace_back(next());
        } else if (a == "--churn") {
            o.churn = true;
        } else if (a == "--random-half") {
            o.randomHalf = true;
        } else if (a == "--rate") {
            o.rate = std::atof(next());
        } else if (a == "--seed") {
            o.seed = static_cast<unsigned>(std::strtoul(next(), nullptr, 10));
        } else {
            Usage(("unknown option " + a).c_str());
        }
    }
    if (o.port <= 0 || o.port > 65535)
        Usage("--port is required (1..65535)");
    if (o.conns <= 0 || o.conns > 20000)
        Usage("--conns must be 1..20000");
    if (o.seconds <= 0 || o.seconds > 600)
        Usage("--seconds must be in (0, 600]");
    if (o.rate < 0)
        Usage("--rate must not be negative");
    if (o.messages.empty())
        o.messages.emplace_back("x,download");
    for (const auto& m : o.messages) {
        if (m.empty() || m.size() > 512)
            Usage("a message must have 1 to 512 bytes");
    }
    return o;
}

class Load {
public:
    explicit Load(const Options& o) : m_opt(o), m_rng(o.seed), m_conns(o.conns) {
        m_ep = epoll_create1(EPOLL_CLOEXEC);
        for (size_t i = 0; i < m_conns.size(); ++i) {
            m_conns[i].random = o.randomHalf && (i % 2 == 1);
        }
    }
    ~Load() {
        for (auto& c : m_conns)
            CloseConn(c);
        close(m_ep);
    }

    int Run() {
        const auto start = Clock::now();
        const auto deadline = start + std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double>(m_opt.seconds));
        if (m_opt.rate > 0) {
            m_interval = std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(m_conns.size() / m_opt.rate));
            for (size_t i = 0; i < m_conns.size(); ++i) {
                m_conns[i].nextSend = start + m_interval * i / m_conns.size();
            }
        }
        for (size_t i = 0; i < m_conns.size(); ++i)
            Open(i);
        std::vector<epoll_event> events(1024);
        bool draining = false;
        Clock::time_point drainEnd;
        for (;;) {
            const auto now = Clock::now();
            if (!draining && (now >= deadline || Exhausted())) {
                draining = true;
                m_stopSending = true;
                drainEnd = now + std::chrono::seconds(5);
                for (auto& c : m_conns) {
                    if (!c.outstanding)
                        CloseConn(c);
                }
            }
            if (draining && (Outstanding() == 0 || now >= drainEnd))
                break;
            const timespec wait = Timeout(now);
            const int n =
                epoll_pwait2(m_ep, events.data(), static_cast<int>(events.size()), &wait, nullptr);
            for (int i = 0; i < n; ++i)
                Handle(events[i].data.u32, events[i].events);
            if (m_opt.rate > 0)
                SendDue();
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        for (auto& c : m_conns) {
            if (c.outstanding)
                ++m_t.unanswered;
            CloseConn(c);
        }
        Report(elapsed);
        return m_t.unanswered == 0 && m_t.badReplies == 0 ? 0 : 1;
    }

private:
    bool Exhausted() const { return m_opt.maxMessages >= 0 && m_t.sent >= m_opt.maxMessages; }

    long Outstanding() const {
        return std::count_if(m_conns.begin(), m_conns.end(),
                             [](const Conn& c) { return c.outstanding; });
    }

    void CloseConn(Conn& c) {
        if (c.fd >= 0) {
            epoll_ctl(m_ep, EPOLL_CTL_DEL, c.fd, nullptr);
            close(c.fd);
        }
        c.fd = -1;
        c.connecting = false;
        c.outstanding = false;
        c.paced = false;
        c.okBytes = 0;
    }

    void Open(size_t i) {
        Conn& c = m_conns[i];
        if (m_stopSending)
            return;
        c.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (c.fd < 0) {
            ++m_t.connectErrors;
            return;
        }
        int one = 1;
        setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(m_opt.port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ++m_t.connects;
        const int r = connect(c.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        if (r != 0 && errno != EINPROGRESS) {
            ++m_t.connectErrors;
            close(c.fd);
            c.fd = -1;
            return;
        }
        c.connecting = true;
        c.leftInLife = m_opt.churn ? 1 + static_cast<int>(m_rng() % 5) : -1;
        epoll_event ev{};
        ev.events = EPOLLOUT | EPOLLIN;
        ev.data.u32 = static_cast<uint32_t>(i);
        epoll_ctl(m_ep, EPOLL_CTL_ADD, c.fd, &ev);
    }

    // How long epoll may wait: until the next paced send is due, at most 50 ms.
    timespec Timeout(Clock::time_point now) const {
        Clock::duration wait = std::chrono::milliseconds(50);
        if (m_opt.rate > 0) {
            for (const Conn& c : m_conns) {
                if (c.paced)
                    wait = std::min(wait, std::max(Clock::duration(0), c.nextSend - now));
            }
        }
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    }

    void SendDue() {
        const auto now = Clock::now();
        for (size_t i = 0; i < m_conns.size(); ++i) {
            Conn& c = m_conns[i];
            if (c.paced && c.fd >= 0 && now >= c.nextSend) {
                c.paced = false;
                SendNow(i);
            }
        }
    }

    void SendNext(size_t i) {
        Conn& c = m_conns[i];
        if (m_stopSending || Exhausted()) {
            CloseConn(c);
            return;
        }
        if (m_opt.rate > 0) {
            const auto now = Clock::now();
            c.nextSend += m_interval;
            if (c.nextSend < now - m_interval)
                c.nextSend = now;  // fell behind: no burst
            if (now < c.nextSend) {
                c.paced = true;
                return;
            }
        }
        SendNow(i);
    }

    void SendNow(size_t i) {
        Conn& c = m_conns[i];
        std::string payload;
        if (c.random) {
            payload.resize(1 + m_rng() % 512);
            for (auto& ch : payload)
                ch = static_cast<char>(m_rng() & 0xFF);
        } else {
            payload = m_opt.messages[m_t.sent % m_opt.messages.size()];
        }
        c.sentAt = Clock::now();
        const ssize_t n = send(c.fd, payload.data(), payload.size(), MSG_NOSIGNAL);
        if (n != static_cast<ssize_t>(payload.size())) {
            ++m_t.sendErrors;
            CloseConn(c);
            if (m_opt.churn)
                Open(i);
            return;
        }
        ++m_t.sent;
        c.outstanding = true;
        c.okBytes = 0;
    }

    void Handle(uint32_t i, uint32_t events) {
        Conn& c = m_conns[i];
        if (c.fd < 0)
            return;
        if (c.connecting) {
            if (!(events & (EPOLLOUT | EPOLLERR | EPOLLHUP)))
                return;
            int err = 0;
            socklen_t len = sizeof err;
            getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &err, &len);
            if (err != 0) {
                ++m_t.connectErrors;
                CloseConn(c);
                if (m_opt.churn)
                    Open(i);
                return;
            }
            c.connecting = false;
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.u32 = i;
            epoll_ctl(m_ep, EPOLL_CTL_MOD, c.fd, &ev);
            SendNext(i);
            return;
        }
        char buf[1024];
        const ssize_t n = recv(c.fd, buf, sizeof buf, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n <= 0) {
            ++m_t.closedByServer;
            if (c.outstanding)
                ++m_t.unanswered;
            CloseConn(c);
            if (m_opt.churn)
                Open(i);
            return;
        }
        for (ssize_t k = 0; k < n; ++k) {
            const char want = (c.okBytes % 2 == 0) ? 'O' : 'K';
            if (buf[k] != want) {
                ++m_t.badReplies;
                continue;
            }
            ++c.okBytes;
        }
        if (c.outstanding && c.okBytes >= 2) {
            const auto us =
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - c.sentAt)
                    .count();
            m_t.latencyUs.push_back(static_cast<uint32_t>(std::min<long long>(us, UINT32_MAX)));
            ++m_t.answered;
            c.outstanding = false;
            c.okBytes = 0;
            if (m_opt.churn && --c.leftInLife <= 0) {
                CloseConn(c);
                Open(i);
                return;
            }
            SendNext(i);
        }
    }

    void Report(double elapsed) {
        auto& l = m_t.latencyUs;
        std::sort(l.begin(), l.end());
        auto pct = [&](double p) -> double {
            if (l.empty())
                return 0;
            const size_t k = std::min(l.size() - 1, static_cast<size_t>(p * (l.size() - 1) + 0.5));
            return l[k];
        };
        std::printf(
            "conns=%d seconds=%.2f sent=%ld answered=%ld unanswered=%ld bad_replies=%ld "
            "connects=%ld connect_errors=%ld closed_by_server=%ld send_errors=%ld "
            "msgs_per_s=%.0f p50_us=%.0f p99_us=%.0f max_us=%.0f\n",
            m_opt.conns, elapsed, m_t.sent, m_t.answered, m_t.unanswered, m_t.badReplies,
            m_t.connects, m_t.connectErrors, m_t.closedByServer, m_t.sendErrors,
            m_t.answered / elapsed, pct(0.50), pct(0.99), l.empty() ? 0.0 : l.back());
    }

    const Options& m_opt;
    std::mt19937 m_rng;
    std::vector<Conn> m_conns;
    Totals m_t;
    int m_ep = -1;
    bool m_stopSending = false;
    Clock::duration m_interval{};
};

}  // namespace

int main(int argc, char** argv) {
    const Options opt = Parse(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = lim.rlim_max;
        setrlimit(RLIMIT_NOFILE, &lim);
    }
    Load load(opt);
    return load.Run();
}
