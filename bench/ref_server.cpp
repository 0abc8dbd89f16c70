// The reference for the cashier-link benchmark: the least a server can do on
// this machine. One thread, level-triggered epoll, every read of up to 512 bytes
// answered with "OK", nothing else. What the voice side reaches is measured
// against what this reaches with the same load tool.
//
//   ref_server PORT        (listens on 127.0.0.1 only; ends on SIGINT/SIGTERM)

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) {
    g_stop = 1;
}

void RaiseFileLimit() {
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = lim.rlim_max;
        setrlimit(RLIMIT_NOFILE, &lim);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ref_server PORT\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    if (port <= 0 || port > 65535) {
        std::fprintf(stderr, "ref_server: bad port %s\n", argv[1]);
        return 2;
    }
    RaiseFileLimit();
    signal(SIGPIPE, SIG_IGN);
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    const int lfd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(lfd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(lfd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(lfd, SOMAXCONN) != 0) {
        std::fprintf(stderr, "ref_server: cannot listen on %d: %s\n", port, std::strerror(errno));
        return 1;
    }
    const int ep = epoll_create1(EPOLL_CLOEXEC);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = lfd;
    epoll_ctl(ep, EPOLL_CTL_ADD, lfd, &ev);
    std::printf("listening %d\n", port);
    std::fflush(stdout);

    epoll_event events[256];
    char buf[512];
    while (!g_stop) {
        const int n = epoll_wait(ep, events, 256, 200);
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            if (fd == lfd) {
                for (;;) {
                    const int c = accept4(lfd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                    if (c < 0)
                        break;
                    epoll_event cev{};
                    cev.events = EPOLLIN;
                    cev.data.fd = c;
                    epoll_ctl(ep, EPOLL_CTL_ADD, c, &cev);
                }
                continue;
            }
            const ssize_t got = recv(fd, buf, sizeof buf, 0);
            if (got > 0) {
                if (send(fd, "OK", 2, MSG_NOSIGNAL) > 0)
                    continue;
            } else if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
                continue;
            }
            epoll_ctl(ep, EPOLL_CTL_DEL, fd, nullptr);
            close(fd);
        }
    }
    close(ep);
    close(lfd);
    return 0;
}
