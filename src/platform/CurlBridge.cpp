#include "platform/CurlBridge.h"

#include "platform/ConnectionBudget.h"

#include <QSocketNotifier>

namespace tarnwick {

// One socket libcurl asked to have watched, and the two notifiers that watch it.
struct CurlBridge::Watch {
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
};

CurlBridge::CurlBridge(std::function<void(CURL*, CURLcode)> ended) : m_ended(std::move(ended))
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    m_multi = curl_multi_init();
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &CurlBridge::OnSocket);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &CurlBridge::OnTimer);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_MAX_HOST_CONNECTIONS, long(ConnectionBudget::kMaxConnections));
    curl_multi_setopt(m_multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, long(ConnectionBudget::kMaxConnections));
    curl_multi_setopt(m_multi, CURLMOPT_PIPELINING, long(CURLPIPE_MULTIPLEX));
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Act(CURL_SOCKET_TIMEOUT, 0); });
}

CurlBridge::~CurlBridge()
{
    m_timer.stop();
    curl_multi_cleanup(m_multi);
    curl_global_cleanup();
}

void CurlBridge::Act(curl_socket_t socket, int events)
{
    int running = 0;
    curl_multi_socket_action(m_multi, socket, events, &running);
    while (CURLMsg* message = curl_multi_info_read(m_multi, &running))
        if (message->msg == CURLMSG_DONE)
            m_ended(message->easy_handle, message->data.result);
}

int CurlBridge::OnSocket(CURL*, curl_socket_t socket, int what, void* bridge, void* watched)
{
    auto& self = *static_cast<CurlBridge*>(bridge);
    auto* watch = static_cast<Watch*>(watched);
    if (what == CURL_POLL_REMOVE) {
        if (watch) {
            // Deleted later: this may run inside the notifier's own delivery.
            auto found = self.m_sockets.find(socket);
            if (found != self.m_sockets.end()) {
                for (auto* notifier : {found->second->read.release(), found->second->write.release()}) {
                    notifier->setEnabled(false);
                    notifier->deleteLater();
                }
                self.m_sockets.erase(found);
            }
            curl_multi_assign(self.m_multi, socket, nullptr);
        }
        return 0;
    }
    if (!watch) {
        auto made = std::make_unique<Watch>();
        made->read = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Read);
        made->write = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Write);
        QObject::connect(made->read.get(), &QSocketNotifier::activated,
                         [&self, socket] { self.Act(socket, CURL_CSELECT_IN); });
        QObject::connect(made->write.get(), &QSocketNotifier::activated,
                         [&self, socket] { self.Act(socket, CURL_CSELECT_OUT); });
        watch = made.get();
        self.m_sockets[socket] = std::move(made);
        curl_multi_assign(self.m_multi, socket, watch);
    }
    watch->read->setEnabled(what & CURL_POLL_IN);
    watch->write->setEnabled(what & CURL_POLL_OUT);
    return 0;
}

int CurlBridge::OnTimer(CURLM*, long ms, void* bridge)
{
    auto& self = *static_cast<CurlBridge*>(bridge);
    if (ms < 0)
        self.m_timer.stop();
    else
        self.m_timer.start(std::chrono::milliseconds(ms));
    return 0;
}

}  // namespace tarnwick
