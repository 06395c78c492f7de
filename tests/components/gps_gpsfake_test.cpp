// The GPS component through the public facade against a real gpsd: gpsfake replays the NMEA log
// the repository ships on a loopback port, started and ended by each test.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>

#include "component_test_support.hpp"
#include "kiv/fld/external_gps_provider.hpp"

namespace kivfld::components::testing {
namespace {

using namespace std::chrono_literals;

// Where the log's receiver stands: 48 08.1230 N, 011 34.5670 E, 519.5 m above sea level.
constexpr double kLatitude = 48.0 + 8.1230 / 60.0;
constexpr double kLongitude = 11.0 + 34.5670 / 60.0;

std::optional<double> NumberAfter(const std::string& text, const std::string& key) {
    std::smatch match;
    if (!std::regex_search(text, match, std::regex("\"" + key + "\":(-?[0-9.]+)"))) return std::nullopt;
    return std::stod(match[1].str());
}

class GpsFakeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(IsOnPath("gpsfake")) << "the GPS tests need gpsfake (Debian packages gpsd and gpsd-clients)";
        m_port = UnusedLoopbackPort();
        // timeout(1) bounds gpsfake even if this test dies before TearDown.
        m_gpsfake = std::make_unique<ChildProcess>(
            std::vector<std::string>{"timeout", "-k", "5", "150", "gpsfake", "-q", "-c", "0.1", "-P",
                                     std::to_string(m_port), (kDataDir / "gps" / "stationary_fix.nmea").string()});
        ASSERT_TRUE(WaitForListener(m_port, 30s)) << "gpsfake did not start listening on " << m_port << ":\n"
                                                  << Drain();
        m_environment.Set("KIVFLD_GPSD_HOST", "127.0.0.1");
        m_environment.Set("KIVFLD_GPSD_PORT", std::to_string(m_port));
        m_environment.Set("KIVFLD_GPSD_TIMEOUT_MS", "5000");
    }

    std::string Drain() {
        while (m_gpsfake->ReadLine(100ms)) {
        }
        return m_gpsfake->Transcript();
    }

    ScopedEnvironment m_environment;
    std::unique_ptr<ChildProcess> m_gpsfake;
    int m_port = 0;
};

TEST_F(GpsFakeTest, FacadeInvokeVersionxGpsfakexVersionObjectOfProtocol3) {
    kiv::fld::ExternalGpsProvider provider = kiv::fld::ExternalGpsProvider::CreateInstance();
    const std::string answer = provider.Invoke("?VERSION;");
    EXPECT_TRUE(std::regex_match(answer, std::regex(R"(\{"class":"VERSION","release":"[^"]+",.*"proto_major":3,.*\})")))
        << answer;
}

TEST_F(GpsFakeTest, FacadeInvokeWatchThenPollxGpsfakexFixAtTheLogsPosition) {
    kiv::fld::ExternalGpsProvider provider = kiv::fld::ExternalGpsProvider::CreateInstance();
    const std::string watch = provider.Invoke(R"(?WATCH={"enable":true,"json":true};)");
    EXPECT_TRUE(std::regex_search(watch, std::regex(R"((^|\n)\{"class":"WATCH","enable":true,"json":true)"))) << watch;
    EXPECT_EQ(watch.find("\"class\":\"TPV\""), std::string::npos) << "streamed reports are not part of the answer";

    // gpsd needs a few sentences before it has a 3D fix; poll for at most 30 s.
    std::string poll;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    do {
        poll = provider.Invoke("?POLL;");
        // A report from an RMC sentence alone has no altitude; wait for one after a GGA.
        if (poll.find("\"mode\":3") != std::string::npos && poll.find("\"altMSL\"") != std::string::npos) break;
        std::this_thread::sleep_for(200ms);
    } while (std::chrono::steady_clock::now() < deadline);

    ASSERT_TRUE(poll.starts_with("{\"class\":\"POLL\"")) << poll;
    EXPECT_EQ(poll.find('\n'), std::string::npos) << "one object: " << poll;
    EXPECT_NE(poll.find("\"mode\":3"), std::string::npos) << "a 3D fix: " << poll;
    const std::optional<double> latitude = NumberAfter(poll, "lat");
    const std::optional<double> longitude = NumberAfter(poll, "lon");
    const std::optional<double> altitude = NumberAfter(poll, "altMSL");
    ASSERT_TRUE(latitude && longitude && altitude) << poll;
    EXPECT_NEAR(*latitude, kLatitude, 1e-6);
    EXPECT_NEAR(*longitude, kLongitude, 1e-6);
    EXPECT_NEAR(*altitude, 519.5, 1e-3);
}

TEST_F(GpsFakeTest, FacadeInvokeUnknownCommandxGpsfakexGpsdsErrorObject) {
    kiv::fld::ExternalGpsProvider provider = kiv::fld::ExternalGpsProvider::CreateInstance();
    const std::string answer = provider.Invoke("?NOSUCHTHING;");
    EXPECT_TRUE(answer.starts_with("{\"class\":\"ERROR\",\"message\":\"Unrecognized request")) << answer;
    EXPECT_NE(answer.find("NOSUCHTHING"), std::string::npos) << answer;
}

TEST_F(GpsFakeTest, FacadeInvokexGpsdStoppedxEmptyAnswer) {
    kiv::fld::ExternalGpsProvider provider = kiv::fld::ExternalGpsProvider::CreateInstance();
    ASSERT_NE(provider.Invoke("?VERSION;"), "");
    m_gpsfake->Stop();
    EXPECT_EQ(provider.Invoke("?VERSION;"), "") << "no gpsd any more: the component error becomes an empty answer";
}

}  // namespace
}  // namespace kivfld::components::testing
