// Transport faults as rows: each against the transfer itself over real sockets, then once at
// each place the window fetches (the start-up fetch, the check run, a file of the update).
#include "platform/HttpTransfer.h"
#include "support/WindowFixture.h"

#include <QBuffer>
#include <QProcess>
#include <QSslKey>
#include <QStringEncoder>

#include <arpa/inet.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnwick::test {
namespace {

using Serve = std::function<void(LocalSite&, const QString& path)>;
struct Row {
    const char* name;
    Serve serve;
    bool textOk;  // a manifest fetched so is read
    bool fileOk;  // a file fetched so is saved
};
void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

Serve On(const Fault& fault)
{
    return [fault](auto& s, auto& path) { s.SetFault(path, fault); };
}
Fault To(const QString& location) { return {.status = 302, .headers = "Location: " + location.toUtf8() + "\r\n"}; }

// A chain of `hops` redirects through /1, /2, ... back to the path itself.
Serve Hops(int hops)
{
    return [hops](auto& s, auto& path) {
        for (int i = 0; i < hops; ++i)
            s.SetFault(i ? "/" + QString::number(i) : path,
                       To(s.BaseUrl() + (i + 1 < hops ? "/" + QString::number(i + 1) : path)), i ? -1 : 1);
    };
}

// A site over TLS with a certificate made for this run, which every transfer of the run trusts.
const QTemporaryDir& TlsFiles()
{
    static const QTemporaryDir dir;
    return dir;
}
LocalSite& Tls()
{
    static const std::unique_ptr<LocalSite> site = [] {
        const QTemporaryDir& dir = TlsFiles();
        QProcess::execute("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                                      "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout",
                                      dir.filePath("key"), "-out", dir.filePath("cert")});
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(dir.filePath("cert"));
        QSslConfiguration::setDefaultConfiguration(tls);
        QFile key(dir.filePath("key"));
        tls.setPrivateKey(QSslKey(key.open(QIODevice::ReadOnly) ? key.readAll() : QByteArray(), QSsl::Ec));
        tls.setLocalCertificate(tls.caCertificates().constLast());
        return std::make_unique<LocalSite>(&tls);
    }();
    return *site;
}

// The same answer as UTF-16 with its byte-order mark, as Windows editors save "Unicode" text.
void Utf16(LocalSite& s, const QString& path)
{
    s.Put(path,
          QStringEncoder(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom)(QString::fromLatin1(s.Body(path))));
}

// Sends the fetch to a local file that holds the very answer the site would give.
void ToLocalFile(LocalSite& s, const QString& path)
{
    QFile file(QDir::temp().filePath("tarnwick-redirect-target"));
    file.open(QIODevice::WriteOnly) && file.write(s.Body(path));
    s.SetFault(path, To(QUrl::fromLocalFile(file.fileName()).toString()));
}

// clang-format off
const Row kRows[] = {
    {"plain 200", On({}), true, true},
    {"UTF-16 with its byte-order mark", Utf16, true, true},
    {"404 with an error page", On({.status = 404, .body = "<html>error</html>"}), false, false},
    {"204 without a body", On({.status = 204, .body = ""}), false, false},
    {"206, a range", On({.status = 206, .headers = "Content-Range: bytes 0-999/10000\r\n"}), false, false},
    {"ten redirects", Hops(10), true, true},
    {"eleven redirects", Hops(11), false, false},
    {"redirect from http to https",
     [](auto& s, auto& path) { Tls().Put(path, s.Body(path)), s.SetFault(path, To(Tls().BaseUrl() + path)); },
     true, true},
    {"redirect from https back to http",
     [](auto& s, auto& path) {
         s.SetFault(path, To(Tls().BaseUrl() + path), 1), Tls().SetFault(path, To(s.BaseUrl() + path));
     },
     false, false},
    {"redirect to a local file holding the answer", ToLocalFile, false, false},
    {"redirect to a closed port", On(To("http://127.0.0.1:1/")), false, false},
    {"connection dropped before the announced length", On({.excess = -10}), false, false},
    {"bytes after the announced length", On({.excess = 10}), true, true},
    {"two lengths, the first 1", On({.headers = "Content-Length: 1\r\n"}), false, false},
    {"over the 4 MiB text limit",
     [](auto& s, auto& path) { s.Put(path, s.Body(path).leftJustified(4 << 20 | 1, ' ')); },
     false, true},
    {"silent past the inactivity time-out", On({.delay = 3s}), false, false},
    {"trickling, never a second without a byte", On({.pieces = 10, .delay = 200ms}), true, true},
};
// clang-format on

class Transport : public ::testing::TestWithParam<Row> {};
INSTANTIATE_TEST_SUITE_P(Rows, Transport, ::testing::ValuesIn(kRows));

// Guards the transfer: an answer that is not the whole resource with a 200 fails and is never
// handed on (an error page is no prefix of the file), and a good one arrives byte for byte.
TEST_P(Transport, Transfer)
{
    LocalSite site;
    site.Put("/f", kNewExe);
    HttpTransfer transfer({});
    transfer.SetAuthorities((Tls(), TlsFiles().filePath("cert")));
    transfer.SetRequestTimeout(1s);
    GetParam().serve(site, "/f");
    const FetchResult text = transfer.OpenUrl(site.BaseUrl() + "/f");
    EXPECT_TRUE(text.ok() == GetParam().textOk && text.body == (text.ok() ? site.Body("/f") : ""))
        << text.error.toStdString();
    GetParam().serve(site, "/f");
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    EXPECT_EQ(transfer.OpenUrlInto(site.BaseUrl() + "/f", sink).ok(), GetParam().fileOk);
    EXPECT_TRUE(GetParam().fileOk ? sink.data() == site.Body("/f") : site.Body("/f").startsWith(sink.data()));
}

// Guards each place that fetches: a failed start-up fetch gives the welcome page and no notice;
// a failed check run lists nothing, leaves Next enabled and says nothing; a failed file is
// "Failed" with one message, the old file whole, the queue going on and the page closing.
TEST_P(Transport, AtEachPlace)
{
    const Row& row = GetParam();
    WindowFixture start(1s), check(1s), download(1s);
    for (WindowFixture* fixture : {&start, &check, &download})
        fixture->authorities = (Tls(), TlsFiles().filePath("cert"));
    start.setup.startUpTimeout = 5s;  // all that start-up fetches arrives within this
    start.site.Put(kManifest, Manifest("0.4", {"Tarnwick.exe"}, "0.9"));  // once read, it gives the notice
    row.serve(start.site, kManifest);
    EXPECT_EQ(start.StartUp(), row.textOk ? StartUpResult::EndProgram : StartUpResult::ShowWindow);
    EXPECT_EQ(start.messages.size() + start.opened.size(), row.textOk ? 2 : 0);

    ASSERT_EQ(check.StartUp(), StartUpResult::ShowWindow);
    row.serve(check.site, kManifest);
    ASSERT_TRUE(check.RunCheck());
    EXPECT_EQ(check.Page(), row.textOk ? "pbStatusCheck|Cancel|&Next >|lDownload|New version available:|0.4"
                                       : "pbStatusCheck|Cancel|&Next >|lDownload");
    EXPECT_TRUE(check.Window().cmdNext->isEnabled() && check.messages.isEmpty());

    ASSERT_TRUE(download.ReachCheckResult());
    row.serve(download.site, kSite + "Tarnwick.exe");
    download.RunDownloads();
    EXPECT_EQ(download.Statuses(), (QStringList{row.fileOk ? "Done" : "Failed", "Done"}));
    EXPECT_EQ(download.messages, QStringList(row.fileOk ? 0 : 1, kErrorBox));
    download.ExpectFolder({{"Tarnwick.exe", row.fileOk ? download.site.Body(kSite + "Tarnwick.exe") : kOldExe},
                           {"readme.txt", kNewReadme}});
    EXPECT_EQ(download.Page(), row.fileOk
                                   ? "pbDownloading|Complete|lDownload||Click Complete to close.|Downloading complete!"
                                   : "Complete|lDownload||New version available:|0.4");
}

// In a forked copy of the test with a network and mounts of its own: a name server on
// 127.0.0.1 that takes every query and never answers (the only one the resolver knows). Exits 0
// when a fetch of a name there ends by its deadline and the transfer goes at once, 77 when the
// copy could not be set up.
int FetchWithASilentResolver()
{
    const QTemporaryDir dir;
    QFile conf(dir.filePath("resolv.conf"));
    ifreq lo{};
    std::strcpy(lo.ifr_name, "lo");
    sockaddr_in dns{.sin_family = AF_INET, .sin_port = htons(53), .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
    if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
        !conf.open(QIODevice::WriteOnly) || !conf.write("nameserver 127.0.0.1\noptions timeout:30 attempts:1\n") ||
        !conf.flush() || ::mount(QFile::encodeName(conf.fileName()), "/etc/resolv.conf", nullptr, MS_BIND, nullptr))
        return 77;
    const int net = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (::ioctl(net, SIOCGIFFLAGS, &lo) || (lo.ifr_flags |= IFF_UP, ::ioctl(net, SIOCSIFFLAGS, &lo)) ||
        ::bind(::socket(AF_INET, SOCK_DGRAM, 0), reinterpret_cast<sockaddr*>(&dns), sizeof dns))
        return 77;
    QElapsedTimer clock;
    clock.start();
    auto transfer = std::make_unique<HttpTransfer>(QString());
    transfer->SetDeadline(QDeadlineTimer(300ms));
    const bool failed = !transfer->OpenUrl("http://silent.tarnwick.example/check.update").ok();
    transfer.reset();
    return failed && clock.elapsed() < 2000 ? 0 : 1;
}

// Guards the start-up limit and Cancel against a name server that never answers: the fetch ends
// by its deadline and the transfer goes at once, instead of both waiting for the lookup's own
// time-out. A real process: only a network of its own has such a name server.
TEST(Resolver, ASilentNameServerHoldsNothing)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a network of its own needs root";
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(FetchWithASilentResolver());
    int status = 0;
    QTest::qWaitFor([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 60000) || (::kill(child, SIGKILL), 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no network namespace here";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the fetch or the transfer waited for the lookup";
}

}  // namespace
}  // namespace tarnwick::test
