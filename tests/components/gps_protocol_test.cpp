// The GPS component's reading of gpsd's protocol and of its own settings.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "gpsd_client.hpp"
#include "gpsd_protocol.hpp"
#include "kiv/runtime/errors.hpp"

namespace KivFldExternalGpsProvider {
namespace {

struct SplitCase {
    std::string name;
    std::string request;
    std::vector<std::pair<std::string, std::string>> commands;  ///< name, text
};

TEST(GpsdRequest, RequestTextToCommandsxValidFormsxSplitAndTerminated) {
    const std::vector<SplitCase> cases{
        {"one command", "?VERSION;", {{"VERSION", "?VERSION;"}}},
        {"missing semicolon added", "?POLL", {{"POLL", "?POLL;"}}},
        {"surrounding blanks and newline dropped", "  ?POLL;\r\n", {{"POLL", "?POLL;"}}},
        {"lower-case name", "?version;", {{"VERSION", "?version;"}}},
        {"json argument",
         "?WATCH={\"enable\":true,\"json\":true};",
         {{"WATCH", "?WATCH={\"enable\":true,\"json\":true};"}}},
        {"semicolon inside a json string stays",
         "?DEVICE={\"path\":\"/dev/a;b\"};",
         {{"DEVICE", "?DEVICE={\"path\":\"/dev/a;b\"};"}}},
        {"escaped quote inside a json string",
         "?DEVICE={\"path\":\"a\\\";b\"};",
         {{"DEVICE", "?DEVICE={\"path\":\"a\\\";b\"};"}}},
        {"several commands",
         "?WATCH={\"enable\":true};?POLL;",
         {{"WATCH", "?WATCH={\"enable\":true};"}, {"POLL", "?POLL;"}}},
        {"commands on lines", "?VERSION\n?DEVICES\n", {{"VERSION", "?VERSION;"}, {"DEVICES", "?DEVICES;"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<GpsdCommand> commands = SplitRequest(c.request);
        ASSERT_EQ(commands.size(), c.commands.size());
        for (std::size_t i = 0; i < commands.size(); ++i) {
            EXPECT_EQ(commands[i].name, c.commands[i].first);
            EXPECT_EQ(commands[i].text, c.commands[i].second);
        }
    }
}

struct RejectedRequestCase {
    std::string name;
    std::string request;
    std::string message;
};

TEST(GpsdRequest, RequestTextToCommandsxNotGpsdRequestsxArgumentErrorNamingTheText) {
    const std::vector<RejectedRequestCase> cases{
        {"empty", "", "The request is empty; gpsd requests look like ?VERSION;"},
        {"only blanks", " \r\n ", "The request is empty; gpsd requests look like ?VERSION;"},
        {"no question mark", "VERSION;", "'VERSION;' is not a gpsd request; requests start with '?', as in ?VERSION;"},
        {"device write", "!/dev/ttyS0=B5620600",
         "'!/dev/ttyS0=B5620600' is not a gpsd request; requests start with '?', as in ?VERSION;"},
        {"garbage after a good command", "?POLL; hello",
         "'hello' is not a gpsd request; requests start with '?', as in ?VERSION;"},
        {"no name", "?;", "'?;' names no gpsd command; requests look like ?VERSION;"},
        {"long text shortened", std::string(60, 'x'),
         "'" + std::string(40, 'x') + "...' is not a gpsd request; requests start with '?', as in ?VERSION;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            SplitRequest(c.request);
            ADD_FAILURE() << "no error";
        } catch (const kiv::runtime::ArgumentError& error) {
            EXPECT_EQ(std::string(error.what()), c.message);
        }
    }
}

TEST(GpsdReply, LineToClassxFormsxTopLevelClassOrNothing) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"{\"class\":\"VERSION\",\"release\":\"3.22\"}", "VERSION"},
        {"{\"class\":\"POLL\",\"tpv\":[{\"class\":\"TPV\"}]}", "POLL"},
        {"$GPGGA,120000.00,4808.1230,N*62", ""},
        {"", ""},
        {"{\"release\":\"3.22\"}", ""},
    };
    for (const auto& [line, expected] : cases) {
        SCOPED_TRACE(line);
        EXPECT_EQ(ReplyClass(line), expected);
    }
}

struct ClassificationCase {
    std::string replyClass;
    std::string command;
    bool streamed;
    bool ends;
};

TEST(GpsdReply, ClassForCommandxCasesxReplyOrStreamedReport) {
    const std::vector<ClassificationCase> cases{
        {"POLL", "POLL", false, true},       {"TPV", "POLL", true, false},    {"SKY", "POLL", true, false},
        {"DEVICES", "WATCH", false, false},  {"WATCH", "WATCH", false, true}, {"DEVICE", "WATCH", true, false},
        {"DEVICE", "DEVICE", false, true},   {"ERROR", "FOO", false, true},   {"", "POLL", true, false},
        {"VERSION", "VERSION", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.replyClass + " for " + c.command);
        EXPECT_EQ(IsStreamedReport(c.replyClass, c.command), c.streamed);
        EXPECT_EQ(EndsReply(c.replyClass, c.command), c.ends);
    }
}

class GpsdSettingsTest : public ::testing::Test {
protected:
    GpsdSettings Load() {
        return LoadGpsdSettings([this](const char* name) -> std::optional<std::string> {
            const auto found = m_environment.find(name);
            return found == m_environment.end() ? std::nullopt : std::optional<std::string>(found->second);
        });
    }
    std::map<std::string, std::string> m_environment;
};

TEST_F(GpsdSettingsTest, NothingSetToSettingsxDefaultsxLocalhost2947) {
    const GpsdSettings settings = Load();
    EXPECT_EQ(settings.host, "localhost");
    EXPECT_EQ(settings.port, 2947);
    EXPECT_EQ(settings.timeout, std::chrono::milliseconds(5000));
}

TEST_F(GpsdSettingsTest, VariablesSetToSettingsxAllxRead) {
    m_environment = {
        {"KIVFLD_GPSD_HOST", "gps.example.org"}, {"KIVFLD_GPSD_PORT", "12947"}, {"KIVFLD_GPSD_TIMEOUT_MS", "250"}};
    const GpsdSettings settings = Load();
    EXPECT_EQ(settings.host, "gps.example.org");
    EXPECT_EQ(settings.port, 12947);
    EXPECT_EQ(settings.timeout, std::chrono::milliseconds(250));
}

TEST_F(GpsdSettingsTest, EmptyVariablesToSettingsxEmptyxDefaults) {
    m_environment = {{"KIVFLD_GPSD_HOST", ""}, {"KIVFLD_GPSD_PORT", ""}};
    EXPECT_EQ(Load().host, "localhost");
    EXPECT_EQ(Load().port, 2947);
}

TEST_F(GpsdSettingsTest, BadValuesToSettingsxCasesxArgumentErrorNamingTheVariable) {
    const std::vector<std::tuple<std::string, std::string, std::string>> cases{
        {"KIVFLD_GPSD_PORT", "0", "KIVFLD_GPSD_PORT must be a port number from 1 to 65535, not '0'."},
        {"KIVFLD_GPSD_PORT", "65536", "KIVFLD_GPSD_PORT must be a port number from 1 to 65535, not '65536'."},
        {"KIVFLD_GPSD_PORT", "gpsd", "KIVFLD_GPSD_PORT must be a port number from 1 to 65535, not 'gpsd'."},
        {"KIVFLD_GPSD_TIMEOUT_MS", "-5",
         "KIVFLD_GPSD_TIMEOUT_MS must be a number of milliseconds from 1 to 600000, not '-5'."},
    };
    for (const auto& [name, value, message] : cases) {
        SCOPED_TRACE(name + "=" + value);
        m_environment = {{name, value}};
        try {
            Load();
            ADD_FAILURE() << "no error";
        } catch (const kiv::runtime::ArgumentError& error) {
            EXPECT_EQ(std::string(error.what()), message);
        }
    }
}

}  // namespace
}  // namespace KivFldExternalGpsProvider
