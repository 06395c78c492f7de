// The GPS component against a scripted gpsd on loopback: framing of answers, errors, reconnects,
// and the component and facade on top of the client.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KivFldExternalGpsProvider/KivFldExternalGpsProvider.hpp"
#include "component_test_support.hpp"
#include "gpsd_client.hpp"
#include "kiv/fld/external_gps_provider.hpp"
#include "kiv/runtime/activation.hpp"
#include "kiv/runtime/errors.hpp"

namespace KivFldExternalGpsProvider {
namespace {

using namespace std::chrono_literals;
using kivfld::components::testing::ScopedEnvironment;
using kivfld::components::testing::UnusedLoopbackPort;

const std::string kBanner = R"({"class":"VERSION","release":"3.22","rev":"3.22","proto_major":3,"proto_minor":14})";
const std::string kWatchReply = R"({"class":"WATCH","enable":true,"json":true,"nmea":false})";
const std::string kDevices = R"({"class":"DEVICES","devices":[{"class":"DEVICE","path":"/dev/pts/1"}]})";
const std::string kDevice = R"({"class":"DEVICE","path":"/dev/pts/1","driver":"NMEA0183"})";
const std::string kTpv = R"({"class":"TPV","device":"/dev/pts/1","mode":3,"lat":48.135383333,"lon":11.576116667})";
const std::string kSky = R"({"class":"SKY","device":"/dev/pts/1","hdop":0.90})";
const std::string kPoll = R"({"class":"POLL","active":1,"tpv":[{"class":"TPV","mode":3,"lat":48.135383333}]})";
const std::string kWatchRequest = R"(?WATCH={"enable":true,"json":true};)";

/// One accepted connection of the scripted server, seen from the server's side.
class Peer {
public:
    explicit Peer(int fd) : m_fd(fd) {}
    void Send(const std::string& line) { ::send(m_fd, (line + "\r\n").data(), line.size() + 2, MSG_NOSIGNAL); }
    /// The next request up to and including ';', or "" when the client closed or 10 s passed.
    std::string ReadRequest() {
        std::string request;
        for (char c; request.empty() || request.back() != ';';) {
            pollfd readable{m_fd, POLLIN, 0};
            if (::poll(&readable, 1, 10'000) <= 0 || ::recv(m_fd, &c, 1, 0) != 1) return {};
            request += c;
        }
        return request;
    }
    /// Waits (at most 10 s) until the client closes its end.
    void WaitForClose() {
        char c;
        pollfd readable{m_fd, POLLIN, 0};
        while (::poll(&readable, 1, 10'000) > 0 && ::recv(m_fd, &c, 1, 0) == 1) {
        }
    }

private:
    int m_fd;
};

/// The requests a scripted server received, shared with the test thread.
class RequestLog {
public:
    void Record(const std::string& request) {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
    }
    std::vector<std::string> All() {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_requests;
};

/// A loopback server that runs one script per accepted connection, in order, on its own thread. Bounded: it gives up
/// waiting for a connection after 10 s.
class ScriptedGpsd {
public:
    using Script = std::function<void(Peer&)>;

    explicit ScriptedGpsd(std::vector<Script> scripts) {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listener, 4);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this, scripts = std::move(scripts)] {
            for (const Script& script : scripts) {
                pollfd readable{m_listener, POLLIN, 0};
                if (::poll(&readable, 1, 10'000) <= 0) return;
                const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0) return;
                // gpsd writes whole lines at once; without this, Nagle's algorithm and delayed ACKs
                // would hold every second line back by tens of milliseconds.
                const int on = 1;
                ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                Peer peer(fd);
                script(peer);
                ::close(fd);
                ++m_finished;
            }
        });
    }
    ~ScriptedGpsd() {
        m_thread.join();
        ::close(m_listener);
    }

    int Port() const { return m_port; }
    GpsdSettings Settings(std::chrono::milliseconds timeout = 5000ms) const { return {"127.0.0.1", m_port, timeout}; }
    /// How many scripts have run to their end.
    int Finished() const { return m_finished; }

private:
    int m_listener = -1;
    int m_port = 0;
    std::atomic<int> m_finished{0};
    std::thread m_thread;
};

template <class Call>
void ExpectIoError(Call&& call, const std::string& message) {
    try {
        call();
        ADD_FAILURE() << "no error; expected: " << message;
    } catch (const kiv::runtime::IoError& error) {
        EXPECT_EQ(std::string(error.what()), message);
    }
}

TEST(GpsdClientScripted, VersionRequestToAnswerxGreetingReadFirstxTheVersionObject) {
    RequestLog log;
    ScriptedGpsd gpsd({[&](Peer& peer) {
        peer.Send(kBanner);
        log.Record(peer.ReadRequest());
        peer.Send(kBanner);
        peer.WaitForClose();
    }});
    {
        GpsdClient client([&] { return gpsd.Settings(); });
        EXPECT_EQ(client.Exchange("?VERSION;"), kBanner);
    }
    EXPECT_EQ(log.All(), std::vector<std::string>{"?VERSION;"});
}

TEST(GpsdClientScripted, WatchThenPollToAnswersxStreamedReportsAroundxOnlyTheReplies) {
    RequestLog log;
    ScriptedGpsd gpsd({[&](Peer& peer) {
        peer.Send(kBanner);
        log.Record(peer.ReadRequest());
        peer.Send(kDevices);
        peer.Send(kWatchReply);
        peer.Send(kDevice);  // streamed after the reply; the next request must not see these
        peer.Send(kTpv);
        log.Record(peer.ReadRequest());
        peer.Send(kTpv);
        peer.Send("$GPGGA,120000.00,4808.1230,N,01134.5670,E,1,08,0.9,519.5,M,47.0,M,,*62");
        peer.Send(kSky);
        peer.Send(kPoll);
        peer.Send(kTpv);
        peer.WaitForClose();
    }});
    {
        GpsdClient client([&] { return gpsd.Settings(); });
        EXPECT_EQ(client.Exchange(kWatchRequest), kDevices + "\n" + kWatchReply);
        EXPECT_EQ(client.Exchange("?POLL;"), kPoll);
    }
    EXPECT_EQ(log.All(), (std::vector<std::string>{kWatchRequest, "?POLL;"}));
}

TEST(GpsdClientScripted, SeveralCommandsToAnswerxOneRequestxRepliesJoinedInOrder) {
    const std::string error = R"({"class":"ERROR","message":"Unrecognized request '?FOO;'"})";
    ScriptedGpsd gpsd({[&](Peer& peer) {
        peer.Send(kBanner);
        peer.ReadRequest();
        peer.ReadRequest();
        peer.ReadRequest();
        peer.Send(kDevices);
        peer.Send(kWatchReply);
        peer.Send(kTpv);
        peer.Send(error);
        peer.Send(kPoll);
        peer.WaitForClose();
    }});
    GpsdClient client([&] { return gpsd.Settings(); });
    EXPECT_EQ(client.Exchange(kWatchRequest + "?FOO;?POLL;"),
              kDevices + "\n" + kWatchReply + "\n" + error + "\n" + kPoll);
}

TEST(GpsdClientScripted, UnterminatedRequestToServerxNoSemicolonxSentWithOne) {
    RequestLog log;
    ScriptedGpsd gpsd({[&](Peer& peer) {
        peer.Send(kBanner);
        log.Record(peer.ReadRequest());
        peer.Send(kBanner);
        peer.WaitForClose();
    }});
    {
        GpsdClient client([&] { return gpsd.Settings(); });
        EXPECT_EQ(client.Exchange("?VERSION\n"), kBanner);
    }
    EXPECT_EQ(log.All(), std::vector<std::string>{"?VERSION;"});
}

TEST(GpsdClientScripted, PollToAnswerxServerSilentxIoErrorAfterTheTimeout) {
    ScriptedGpsd gpsd({[&](Peer& peer) {
        peer.Send(kBanner);
        peer.ReadRequest();
        peer.WaitForClose();
    }});
    GpsdClient client([&] { return gpsd.Settings(300ms); });
    ExpectIoError([&] { client.Exchange("?POLL;"); },
                  "No answer to ?POLL; from gpsd at 127.0.0.1:" + std::to_string(gpsd.Port()) + " within 300 ms.");
}

TEST(GpsdClientScripted, PollToAnswerxServerClosesxIoErrorSayingSo) {
    ScriptedGpsd gpsd({[&](Peer& peer) {
        peer.Send(kBanner);
        peer.ReadRequest();
        peer.Send(kTpv);
    }});
    GpsdClient client([&] { return gpsd.Settings(); });
    ExpectIoError([&] { client.Exchange("?POLL;"); },
                  "The connection to gpsd at 127.0.0.1:" + std::to_string(gpsd.Port()) +
                      " closed before an answer to ?POLL; arrived.");
}

TEST(GpsdClientScripted, ConnectxServerIsNotGpsdxIoErrorQuotingItsGreeting) {
    ScriptedGpsd gpsd({[&](Peer& peer) {
        peer.Send("220 mail.example.org ESMTP");
        peer.WaitForClose();
    }});
    GpsdClient client([&] { return gpsd.Settings(); });
    ExpectIoError([&] { client.Exchange("?VERSION;"); }, "The server at 127.0.0.1:" + std::to_string(gpsd.Port()) +
                                                             " did not greet like gpsd: '220 mail.example.org ESMTP'.");
}

TEST(GpsdClientScripted, ConnectxNothingListeningxIoErrorNamingTheEndpoint) {
    const int port = UnusedLoopbackPort();
    GpsdClient client([&] { return GpsdSettings{"127.0.0.1", port, 2000ms}; });
    ExpectIoError([&] { client.Exchange("?VERSION;"); },
                  "Could not connect to gpsd at 127.0.0.1:" + std::to_string(port) + ": Connection refused.");
}

TEST(GpsdClientScripted, PollAfterLostConnectionxWatchWasOnxReconnectsAndResumesTheWatch) {
    RequestLog log;
    std::promise<void> firstClosed;
    ScriptedGpsd gpsd({[&](Peer& peer) {
                           peer.Send(kBanner);
                           log.Record(peer.ReadRequest());
                           peer.Send(kDevices);
                           peer.Send(kWatchReply);
                       },
                       [&](Peer& peer) {
                           peer.Send(kBanner);
                           log.Record(peer.ReadRequest());
                           peer.Send(kDevices);
                           peer.Send(kWatchReply);
                           log.Record(peer.ReadRequest());
                           peer.Send(kPoll);
                           peer.WaitForClose();
                       }});
    {
        GpsdClient client([&] { return gpsd.Settings(); });
        EXPECT_EQ(client.Exchange(kWatchRequest), kDevices + "\n" + kWatchReply);
        for (int i = 0; i < 500 && gpsd.Finished() < 1; ++i) std::this_thread::sleep_for(10ms);
        ASSERT_EQ(gpsd.Finished(), 1) << "the first connection should be closed by now";
        EXPECT_EQ(client.Exchange("?POLL;"), kPoll);
    }
    EXPECT_EQ(log.All(), (std::vector<std::string>{kWatchRequest, kWatchRequest, "?POLL;"}));
}

TEST(GpsdClientScripted, VersionFromTwoThreadsxSharedClientxEveryAnswerWhole) {
    constexpr int kPerThread = 25;
    ScriptedGpsd gpsd({[&](Peer& peer) {
        peer.Send(kBanner);
        for (std::string request; !(request = peer.ReadRequest()).empty();) {
            peer.Send(kTpv);
            peer.Send(request == "?POLL;" ? kPoll : kBanner);
        }
    }});
    GpsdClient client([&] { return gpsd.Settings(); });
    auto run = [&](const std::string& request, const std::string& expected) {
        int right = 0;
        for (int i = 0; i < kPerThread; ++i) right += client.Exchange(request) == expected;
        return right;
    };
    auto versions = std::async(std::launch::async, run, "?VERSION;", kBanner);
    auto polls = std::async(std::launch::async, run, "?POLL;", kPoll);
    EXPECT_EQ(versions.get(), kPerThread);
    EXPECT_EQ(polls.get(), kPerThread);
}

class GpsComponentTest : public ::testing::Test {
protected:
    void PointAt(int port) {
        m_environment.Set("KIVFLD_GPSD_HOST", "127.0.0.1");
        m_environment.Set("KIVFLD_GPSD_PORT", std::to_string(port));
        m_environment.Set("KIVFLD_GPSD_TIMEOUT_MS", "3000");
    }
    static kiv::runtime::Ref<KivFldExternalGpsProvider> Component() {
        return kiv::runtime::ActivateAs<KivFldExternalGpsProvider>(KivFldExternalGpsProvider::kLibrary,
                                                                   KivFldExternalGpsProvider::kClassName);
    }
    ScopedEnvironment m_environment;
};

TEST_F(GpsComponentTest, ComponentInvokexScriptedGpsdxAnswersAsComponentString) {
    ScriptedGpsd gpsd({[&](Peer& peer) {
        peer.Send(kBanner);
        peer.ReadRequest();
        peer.Send(kBanner);
        peer.WaitForClose();
    }});
    PointAt(gpsd.Port());
    const kiv::runtime::String answer = Component()->Invoke(kiv::runtime::String(u"?VERSION;"));
    EXPECT_EQ(std::u16string(answer.View()),
              u"{\"class\":\"VERSION\",\"release\":\"3.22\",\"rev\":\"3.22\",\"proto_major\":3,\"proto_minor\":14}");
}

TEST_F(GpsComponentTest, ComponentInvokexNullOrBadRequestxArgumentErrors) {
    PointAt(UnusedLoopbackPort());
    const auto component = Component();
    try {
        component->Invoke(kiv::runtime::String());
        ADD_FAILURE() << "no error";
    } catch (const kiv::runtime::ArgumentNullError& error) {
        EXPECT_STREQ(error.what(), "The request is null.");
    }
    try {
        component->Invoke(kiv::runtime::String::Empty());
        ADD_FAILURE() << "no error";
    } catch (const kiv::runtime::ArgumentError& error) {
        EXPECT_STREQ(error.what(), "The request is empty; gpsd requests look like ?VERSION;");
    }
}

TEST_F(GpsComponentTest, ComponentInvokexBadPortSettingxArgumentErrorNamingTheVariable) {
    m_environment.Set("KIVFLD_GPSD_PORT", "twenty");
    try {
        Component()->Invoke(kiv::runtime::String(u"?VERSION;"));
        ADD_FAILURE() << "no error";
    } catch (const kiv::runtime::ArgumentError& error) {
        EXPECT_STREQ(error.what(), "KIVFLD_GPSD_PORT must be a port number from 1 to 65535, not 'twenty'.");
    }
}

TEST_F(GpsComponentTest, FacadeInvokexNothingListeningxEmptyAnswerAndHandleStaysUsable) {
    ScriptedGpsd gpsd({[&](Peer& peer) {
        peer.Send(kBanner);
        peer.ReadRequest();
        peer.Send(kBanner);
        peer.WaitForClose();
    }});
    PointAt(UnusedLoopbackPort());
    kiv::fld::ExternalGpsProvider provider = kiv::fld::ExternalGpsProvider::CreateInstance();
    ASSERT_TRUE(provider);
    EXPECT_EQ(provider.Invoke("?VERSION;"), "");

    PointAt(gpsd.Port());
    EXPECT_EQ(provider.Invoke("?VERSION;"), kBanner) << "settings are read again on the next connection";
}

}  // namespace
}  // namespace KivFldExternalGpsProvider
