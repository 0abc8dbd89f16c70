#include "support/FakeWebApi.h"
#include "support/WaitUntil.h"

#include <fcntl.h>
#include <json/json.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

const int kStartLimitMs = 30000;

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

}  // namespace

std::string FakeWebApi::Request::Header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (Lower(key) == Lower(name)) {
            return value;
        }
    }
    return "";
}

bool FakeWebApi::Request::HasHeader(const std::string& name) const {
    for (const auto& header : headers) {
        if (Lower(header.first) == Lower(name)) {
            return true;
        }
    }
    return false;
}

FakeWebApi::FakeWebApi(const std::string& configJson, const std::vector<std::string>& args) {
    char folder[] = "/tmp/fake_web_api.XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        m_error = "mkdtemp failed";
        return;
    }
    m_folder = folder;
    m_recordPath = m_folder + "/requests.jsonl";
    const std::string configPath = m_folder + "/config.json";
    std::ofstream(configPath, std::ios::binary) << configJson;

    std::vector<std::string> argv = {"python3",  VOICE_SOURCE_DIR "/tools/fake_web_api.py",
                                     "--port",   "0",
                                     "--config", configPath,
                                     "--record", m_recordPath};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (std::string& arg : argv) {
        raw.push_back(arg.data());
    }
    raw.push_back(nullptr);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        m_error = "pipe failed";
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    const int spawned = ::posix_spawnp(&m_pid, "python3", &actions, nullptr, raw.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    m_stdout = out[0];
    if (spawned != 0) {
        m_pid = -1;
        m_error = "cannot start python3";
        return;
    }

    // The first line names the port: "LISTENING 127.0.0.1:PORT".
    std::string line;
    while (line.find('\n') == std::string::npos) {
        pollfd fd{m_stdout, POLLIN, 0};
        if (::poll(&fd, 1, kStartLimitMs) <= 0) {
            m_error = "fake web API did not start: " + line;
            return;
        }
        char buffer[256];
        const ssize_t got = ::read(m_stdout, buffer, sizeof(buffer));
        if (got <= 0) {
            m_error = "fake web API ended: " + line;
            return;
        }
        line.append(buffer, static_cast<size_t>(got));
    }
    const size_t colon = line.rfind(':');
    if (line.rfind("LISTENING 127.0.0.1:", 0) != 0 || colon == std::string::npos) {
        m_error = "unexpected first line: " + line;
        return;
    }
    m_port = static_cast<uint16_t>(std::stoi(line.substr(colon + 1)));
}

FakeWebApi::~FakeWebApi() {
    Stop();
    if (!m_folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
}

void FakeWebApi::Stop() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        // A server stuck in a handler gets a while to notice, then is killed.
        int status = 0;
        pid_t done = 0;
        for (int i = 0; i < 200 && (done = ::waitpid(m_pid, &status, WNOHANG)) == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (done == 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
        }
        m_pid = -1;
    }
    if (m_stdout >= 0) {
        ::close(m_stdout);
        m_stdout = -1;
    }
    m_port = 0;
}

std::string FakeWebApi::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(m_port);
}

bool FakeWebApi::WaitForRequests(size_t count, int seconds) const {
    return WaitUntil([&] { return Requests().size() >= count; }, seconds);
}

std::vector<FakeWebApi::Request> FakeWebApi::Requests() const {
    std::vector<Request> requests;
    std::ifstream file(m_recordPath, std::ios::binary);
    std::string line;
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    while (std::getline(file, line)) {
        Json::Value entry;
        std::string errors;
        if (!reader->parse(line.data(), line.data() + line.size(), &entry, &errors)) {
            continue;
        }
        Request request;
        request.method = entry["method"].asString();
        request.path = entry["path"].asString();
        for (const Json::Value& header : entry["headers"]) {
            request.headers.emplace_back(header[0].asString(), header[1].asString());
        }
        request.body = FromHex(entry["body_hex"].asString());
        requests.push_back(std::move(request));
    }
    return requests;
}
