// libcurl driven from the window's own event loop: its sockets are watched by socket notifiers
// and its time-outs by a timer, so a fetch costs no thread hops and a nested wait behaves like
// any other event-loop wait. One multi handle for every fetch keeps their connections, so a
// connection is reused from one file to the next and several run side by side.
#pragma once

#include <QTimer>

#include <curl/curl.h>

#include <functional>
#include <map>
#include <memory>

namespace tarnwick {

class CurlBridge {
public:
    // ended: called, inside the event loop, for each easy handle whose transfer ended.
    explicit CurlBridge(std::function<void(CURL* easy, CURLcode code)> ended);
    ~CurlBridge();
    CurlBridge(const CurlBridge&) = delete;
    CurlBridge& operator=(const CurlBridge&) = delete;

    void Add(CURL* easy) { curl_multi_add_handle(m_multi, easy); }
    void Remove(CURL* easy) { curl_multi_remove_handle(m_multi, easy); }

private:
    struct Watch;
    void Act(curl_socket_t socket, int events);
    static int OnSocket(CURL*, curl_socket_t socket, int what, void* bridge, void* watched);
    static int OnTimer(CURLM*, long ms, void* bridge);

    std::function<void(CURL*, CURLcode)> m_ended;
    CURLM* m_multi = nullptr;
    QTimer m_timer;
    std::map<curl_socket_t, std::unique_ptr<Watch>> m_sockets;
};

}  // namespace tarnwick
