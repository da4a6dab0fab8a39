// A small static web server for the demo when nginx cannot start: serves one folder on
// 127.0.0.1 and logs each request as nginx's demo configuration does ("METHOD URI STATUS").
// Usage: tarnwick-site-server ROOT PORT ACCESS_LOG
#include <httplib.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>

namespace {

httplib::Server* g_server = nullptr;

void StopOnSignal(int)
{
    if (g_server)
        g_server->stop();
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::cerr << "usage: " << argv[0] << " ROOT PORT ACCESS_LOG\n";
        return 2;
    }
    const std::string root = argv[1];
    const int port = std::atoi(argv[2]);
    std::ofstream log(argv[3], std::ios::app);
    if (!log) {
        std::cerr << "cannot write " << argv[3] << "\n";
        return 1;
    }

    httplib::Server server;
    // The mount point refuses paths that climb out of the root, so nothing else is served.
    if (!server.set_mount_point("/", root)) {
        std::cerr << "cannot serve " << root << "\n";
        return 1;
    }
    server.set_file_extension_and_mimetype_mapping("update", "text/plain");
    server.set_file_extension_and_mimetype_mapping("ini", "text/plain");
    std::mutex logMutex;
    server.set_logger([&](const httplib::Request& request, const httplib::Response& response) {
        const std::lock_guard lock(logMutex);
        log << request.method << ' ' << request.target << ' ' << response.status << std::endl;
    });

    g_server = &server;
    std::signal(SIGTERM, StopOnSignal);
    std::signal(SIGINT, StopOnSignal);
    if (!server.bind_to_port("127.0.0.1", port)) {
        std::cerr << "cannot listen on 127.0.0.1:" << port << "\n";
        return 1;
    }
    server.listen_after_bind();
    return 0;
}
