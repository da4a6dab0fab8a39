// A real HTTP server on 127.0.0.1 (any free port) that serves an update site from memory or
// from a folder, with faults per path, and records every request path in order.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>

namespace tarnwick::test {

struct Fault {
    enum class Kind {
        None,
        Status,        // answer with `status` and a short error page
        EmptyBody,     // 200 with no body
        DropHalfway,   // announce the full length, send half, then close the connection
        HeadersOnly,   // announce the full length, send nothing, then hang for `delay`
        Delay,         // wait `delay` before answering normally (no bytes at all meanwhile)
        Trickle,       // send the body one byte every `delay`
        Redirect,      // `status` (301/302) to `location`
        StatusWithBody,  // answer with `status` but the path's own body (an error that looks valid)
        NoContent,       // 204 with no body
        TrickleSpread,   // the body in `pieces` equal parts, one every `delay`
        TwoLengths,      // the whole body, announced first with a length of 1, then its own
    };
    Kind kind = Kind::None;
    int status = 200;
    QString location;
    std::chrono::milliseconds delay{0};
    int pieces = 0;

    static Fault WithStatus(int status) { return {Kind::Status, status, {}, {}}; }
    static Fault Empty() { return {Kind::EmptyBody, 200, {}, {}}; }
    static Fault Drop() { return {Kind::DropHalfway, 200, {}, {}}; }
    static Fault Headers(std::chrono::milliseconds hang) { return {Kind::HeadersOnly, 200, {}, hang}; }
    static Fault Slow(std::chrono::milliseconds wait) { return {Kind::Delay, 200, {}, wait}; }
    static Fault TrickleEvery(std::chrono::milliseconds every) { return {Kind::Trickle, 200, {}, every}; }
    static Fault RedirectTo(const QString& location, int status = 302) { return {Kind::Redirect, status, location, {}}; }
    static Fault StatusKeepingBody(int status) { return {Kind::StatusWithBody, status, {}, {}}; }
    static Fault NoContentAnswer() { return {Kind::NoContent, 204, {}, {}}; }
    static Fault ConflictingLengths() { return {Kind::TwoLengths, 200, {}, {}}; }
    static Fault TrickleInPieces(int pieces, std::chrono::milliseconds every)
    {
        return {Kind::TrickleSpread, 200, {}, every, pieces};
    }
};

class TestServer {
public:
    TestServer();
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int Port() const;
    QString BaseUrl() const;  // "http://127.0.0.1:<port>"
    QString SiteUrl() const;  // BaseUrl() + "/updater/"

    // Serves bytes at an absolute path such as "/updater/0.3/check.update".
    void Put(const QString& path, const QByteArray& body);
    // Serves a file tree: the request path is looked up below this folder when not Put.
    void ServeFolder(const QString& folder);
    // A fault for one path; the first `times` requests get it (forever when times < 0).
    void SetFault(const QString& path, const Fault& fault, int times = -1);
    // The same, but only after the first `unharmed` requests were answered normally.
    void SetFaultAfter(const QString& path, int unharmed, const Fault& fault, int times = -1);
    void ClearFaults();

    // Request paths as the server received them (decoded), in order.
    QStringList Requests() const;
    void ClearRequests();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace tarnwick::test
