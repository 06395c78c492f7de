// kivfld-demo: a host that knows KivFldIntegration only through its public headers and drives every
// exported class once, with real work behind it: a zip archive written and read back, a mail
// delivered, the GPS provider asked for a fix, and the four hosted UIs run, the map-areas one on a
// camera of the host's own. Prints a transcript and exits non-zero when a step fails.
#include <dlfcn.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "demo_host.hpp"
#include "kiv/fld/kivfld.hpp"
#include "test_pattern_camera.hpp"

namespace kivfld::demo {
namespace {

using namespace std::chrono_literals;

struct StepResult {
    enum class Outcome { Ok, Skipped, Failed };
    Outcome outcome;
    std::string note;
};

StepResult Ok(std::string note) { return {StepResult::Outcome::Ok, std::move(note)}; }
StepResult Skipped(std::string note) { return {StepResult::Outcome::Skipped, std::move(note)}; }
StepResult Failed(std::string note) { return {StepResult::Outcome::Failed, std::move(note)}; }

const char* OutcomeText(StepResult::Outcome outcome) {
    switch (outcome) {
        case StepResult::Outcome::Ok:
            return "ok";
        case StepResult::Outcome::Skipped:
            return "skipped";
        case StepResult::Outcome::Failed:
            return "FAILED";
    }
    return "?";
}

/// What the steps share.
struct Demo {
    fs::path work;
    /// The NMEA log that gpsfake replays.
    fs::path nmeaLog;
    /// The archive of the zip step, attached to the mail when it exists.
    std::optional<fs::path> archive;
    std::vector<std::pair<std::string, StepResult>> results;
};

/// A progress line for a step that waits: the label, a dot per tick, then how it ended.
class Progress {
public:
    explicit Progress(const std::string& label) : m_start(std::chrono::steady_clock::now()) {
        std::printf("  %s ", label.c_str());
        std::fflush(stdout);
    }
    void Tick() {
        std::fputc('.', stdout);
        std::fflush(stdout);
    }
    void Done(const std::string& how) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
        std::printf(" %s after %.1f s\n", how.c_str(), seconds);
        std::fflush(stdout);
    }

private:
    std::chrono::steady_clock::time_point m_start;
};

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

std::string Joined(const std::vector<std::string>& items, const char* separator = ", ") {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
    return text;
}

// ------------------------------------------------------------------------------------------------
// Zip archive: KivZipArchive.

StepResult ZipStep(Demo& demo) {
    const fs::path folder = demo.work / "zip";
    fs::create_directories(folder / "in");
    fs::create_directories(folder / "out");
    struct Entry {
        std::string name;
        std::string content;
    };
    const std::vector<Entry> entries = {
        {"hello.txt", "Hello from the KivFld demo.\n"},
        {"data/readings.csv", "time,latitude,longitude\n12:00:00,48.135383,11.576117\n12:00:01,48.135384,11.576118\n"},
    };
    for (const Entry& entry : entries) WriteFile(folder / "in" / fs::path(entry.name).filename(), entry.content);

    const fs::path archive = folder / "demo.zip";
    kiv::fld::KivZipArchive zip = kiv::fld::KivZipArchive::CreateInstance();
    if (!zip.Open(archive.string(), 1)) return Failed("Open (mode 1, create) refused " + archive.string());
    for (const Entry& entry : entries) {
        if (!zip.AddFile((folder / "in" / fs::path(entry.name).filename()).string(), entry.name))
            return Failed("AddFile refused " + entry.name);
    }
    if (!zip.Close()) return Failed("Close did not write " + archive.string());
    std::printf("  wrote %s: %zu entries, %ju bytes\n", archive.filename().c_str(), entries.size(),
                static_cast<std::uintmax_t>(fs::file_size(archive)));

    if (!zip.Open(archive.string(), 0)) return Failed("Open (mode 0, read) refused the archive just written");
    const std::optional<std::string> listing = zip.GetEntries();
    if (!listing) return Failed("GetEntries gave no answer");
    const std::vector<std::string> names = SplitLines(*listing);
    std::printf("  entries read back: %s\n", Joined(names).c_str());
    std::vector<std::string> expected;
    for (const Entry& entry : entries) expected.push_back(entry.name);
    if (names != expected) return Failed("the archive lists " + Joined(names) + " instead of " + Joined(expected));

    for (const Entry& entry : entries) {
        const fs::path destination = folder / "out" / fs::path(entry.name).filename();
        if (!zip.ExtractEntryToFile(entry.name, destination.string(), false))
            return Failed("ExtractEntryToFile refused " + entry.name);
        if (ReadFile(destination) != entry.content) return Failed(entry.name + " came back with other bytes");
    }
    std::printf("  extracted %zu entries, each identical to its original\n", entries.size());
    const bool replaced = zip.ExtractEntryToFile(entries[0].name, (folder / "out" / entries[0].name).string(), false);
    std::printf("  extracting %s over the existing copy without overwrite: %s\n", entries[0].name.c_str(),
                replaced ? "replaced it" : "refused");
    if (replaced) return Failed("an existing file was replaced although overwrite was false");
    if (!zip.Close()) return Failed("Close after reading failed");
    demo.archive = archive;
    return Ok("archive written, listed and extracted byte for byte");
}

// ------------------------------------------------------------------------------------------------
// E-mail: KivEmail.

std::set<fs::path> MessagesIn(const fs::path& folder) {
    std::set<fs::path> messages;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (entry.path().extension() == ".eml") messages.insert(entry.path());
    }
    return messages;
}

std::string HeaderLine(const std::string& message, const std::string& name) {
    for (const std::string& line : SplitLines(message)) {
        if (line.rfind(name + ": ", 0) == 0) return line.substr(0, line.find_last_not_of('\r') + 1);
    }
    return "";
}

StepResult MailStep(Demo& demo) {
    const std::optional<std::string> smtp = Setting("KIVFLD_SMTP_URL");
    fs::path pickup;
    if (const std::optional<std::string> configured = Setting("KIVFLD_MAIL_PICKUP_DIR")) {
        pickup = *configured;
    } else {
        pickup = demo.work / "mail-pickup";
        ::setenv("KIVFLD_MAIL_PICKUP_DIR", pickup.c_str(), 1);
    }
    if (smtp) {
        std::printf("  delivery: SMTP, %s (KIVFLD_SMTP_URL)\n", smtp->c_str());
    } else {
        std::printf("  delivery: pickup folder %s\n", pickup.c_str());
    }
    const std::set<fs::path> before = MessagesIn(pickup);

    std::vector<std::string> attachments;
    if (demo.archive) attachments.push_back(demo.archive->string());
    kiv::fld::KivEmail mail = kiv::fld::KivEmail::CreateInstance();
    const std::string subject = "KivFld demo message";
    if (!mail.SendMail("KivFld Demo <demo@example.org>", subject,
                       "This message was sent by kivfld-demo through the KivFldIntegration bridge.\n"
                       "The attachment is the archive of the zip step.\n",
                       attachments))
        return Failed(std::string("SendMail returned false") + (smtp ? "; check the SMTP settings" : ""));
    if (smtp) return Ok("the SMTP server took the message");

    std::vector<fs::path> added;
    for (const fs::path& message : MessagesIn(pickup)) {
        if (!before.count(message)) added.push_back(message);
    }
    if (added.empty())
        return Ok(
            "SendMail succeeded, but no .eml file appeared in the pickup folder: the e-mail settings file "
            "may send by SMTP (see component_libraries/KivFldEmail/README.md)");
    const std::string message = ReadFile(added.front());
    std::printf("  wrote %s (%zu bytes)\n", added.front().filename().c_str(), message.size());
    for (const char* header : {"From", "To", "Subject"}) std::printf("    %s\n", HeaderLine(message, header).c_str());
    if (HeaderLine(message, "Subject") != "Subject: " + subject) return Failed("the message has another subject");
    if (demo.archive) {
        const bool attached = message.find("filename=\"demo.zip\"") != std::string::npos;
        std::printf("    attachment demo.zip: %s\n", attached ? "present" : "missing");
        if (!attached) return Failed("the archive is not attached");
    }
    return Ok("message composed and delivered to the pickup folder");
}

// ------------------------------------------------------------------------------------------------
// GPS provider: ExternalGpsProvider.

std::optional<double> NumberAfter(const std::string& json, const std::string& key) {
    const std::size_t at = json.find("\"" + key + "\":");
    if (at == std::string::npos) return std::nullopt;
    const char* start = json.c_str() + at + key.size() + 3;
    char* end = nullptr;
    const double value = std::strtod(start, &end);
    if (end == start) return std::nullopt;
    return value;
}

std::string TextAfter(const std::string& json, const std::string& key) {
    const std::size_t at = json.find("\"" + key + "\":\"");
    if (at == std::string::npos) return "?";
    const std::size_t start = at + key.size() + 4;
    return json.substr(start, json.find('"', start) - start);
}

StepResult GpsStep(Demo& demo) {
    const bool configured = Setting("KIVFLD_GPSD_HOST") || Setting("KIVFLD_GPSD_PORT");
    std::unique_ptr<ChildProcess> gpsfake;
    std::string where;
    if (configured) {
        where = Setting("KIVFLD_GPSD_HOST").value_or("localhost") + ":" + Setting("KIVFLD_GPSD_PORT").value_or("2947");
        std::printf("  provider: gpsd at %s, as configured (KIVFLD_GPSD_HOST, KIVFLD_GPSD_PORT)\n", where.c_str());
    } else {
        if (!IsOnPath("gpsfake"))
            return Skipped(
                "no GPS provider reached: no gpsd is configured (KIVFLD_GPSD_HOST, KIVFLD_GPSD_PORT) and gpsfake is "
                "not installed (Debian packages gpsd and gpsd-clients)");
        if (!fs::exists(demo.nmeaLog)) return Failed("the NMEA log for gpsfake is missing: " + demo.nmeaLog.string());
        const int port = UnusedLoopbackPort();
        where = "127.0.0.1:" + std::to_string(port);
        std::printf("  provider: gpsfake replaying %s on %s\n", demo.nmeaLog.filename().c_str(), where.c_str());
        const fs::path log = demo.work / "gpsfake.log";
        // timeout(1) bounds gpsfake even if the demo is killed before it can end it.
        gpsfake = std::make_unique<ChildProcess>(
            std::vector<std::string>{"timeout", "-k", "5", "300", "gpsfake", "-q", "-c", "0.1", "-P",
                                     std::to_string(port), demo.nmeaLog.string()},
            log);
        if (!gpsfake->Started()) return Failed("gpsfake could not be started");
        Progress progress("starting gpsfake");
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        bool listening = false;
        while (!(listening = AcceptsConnections(port)) && !gpsfake->Ended() &&
               std::chrono::steady_clock::now() < deadline) {
            progress.Tick();
            std::this_thread::sleep_for(250ms);
        }
        progress.Done(listening ? "listening" : "not listening");
        if (!listening) return Failed("gpsfake did not listen on " + where + ":\n" + ReadFile(log));
        ::setenv("KIVFLD_GPSD_HOST", "127.0.0.1", 1);
        ::setenv("KIVFLD_GPSD_PORT", std::to_string(port).c_str(), 1);
    }

    kiv::fld::ExternalGpsProvider gps = kiv::fld::ExternalGpsProvider::CreateInstance();
    const std::string version = gps.Invoke("?VERSION;");
    if (version.empty()) return Failed("no GPS provider reached at " + where + ": ?VERSION; got no answer");
    std::printf("  ?VERSION; -> gpsd %s, protocol %g.%g\n", TextAfter(version, "release").c_str(),
                NumberAfter(version, "proto_major").value_or(0), NumberAfter(version, "proto_minor").value_or(0));
    if (gps.Invoke(R"(?WATCH={"enable":true,"json":true};)").empty()) return Failed("?WATCH got no answer");

    std::string poll;
    bool fixed = false;
    {
        Progress progress("waiting for a 3D fix");
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (!fixed && std::chrono::steady_clock::now() < deadline) {
            poll = gps.Invoke("?POLL;");
            // A report from an RMC sentence alone has no altitude; wait for one after a GGA.
            fixed = poll.find("\"mode\":3") != std::string::npos && poll.find("\"altMSL\"") != std::string::npos;
            if (!fixed) {
                progress.Tick();
                std::this_thread::sleep_for(250ms);
            }
        }
        progress.Done(fixed ? "fix" : "no fix");
    }
    gps.Invoke(R"(?WATCH={"enable":false};)");
    if (!fixed) {
        if (configured) return Ok("gpsd at " + where + " answered, but reported no 3D fix within 30 s");
        return Failed("gpsfake's gpsd reported no 3D fix within 30 s; last answer: " + poll);
    }
    std::printf("  ?POLL; -> 3D fix at %.6f, %.6f, %.1f m above sea level\n", NumberAfter(poll, "lat").value_or(0),
                NumberAfter(poll, "lon").value_or(0), NumberAfter(poll, "altMSL").value_or(0));
    return Ok(configured ? "fix from the configured gpsd" : "fix from gpsfake's replay");
}

// ------------------------------------------------------------------------------------------------
// Hosted UIs: InfoBoxManagedUi, RegisterBoxManagedUi, SettingsManagedUi, MapAreasManagedUi.

// Starts, updates and stops one hosted UI, then checks the events and that the UI let the callback
// go. Without a camera; `expected` lists every event of the run.
StepResult RunUi(kiv::fld::KivManagedUi ui, const char* kind, const std::string& startData,
                 const std::vector<std::string>& updates, const std::vector<std::string>& expected) {
    if (!ui)
        return Failed(std::string(kind) + "::CreateInstance gave an empty handle: is its library beside the bridge?");
    const auto events = std::make_shared<UiEvents>();
    if (!ui.StartUI(std::make_unique<PrintingCallback>(events), startData, nullptr, nullptr))
        return Failed("StartUI returned false");
    for (const std::string& update : updates) {
        if (!ui.UpdateUI(update)) return Failed("UpdateUI returned false");
    }
    if (!ui.StopUI()) return Failed("StopUI returned false");
    if (events->Events() != expected)
        return Failed("events " + Joined(events->Events(), " | ") + " instead of " + Joined(expected, " | "));
    if (!events->CallbackDeleted()) return Failed("the UI kept the callback after StopUI");
    return Ok("events " + Joined(expected, ", ") + "; the UI released the callback");
}

StepResult InfoBoxStep(Demo& demo) {
    std::string text = "KivFld demo: the steps so far";
    for (const auto& [title, result] : demo.results) text += "\n" + title + ": " + OutcomeText(result.outcome);
    return RunUi(kiv::fld::InfoBoxManagedUi::CreateInstance(), "InfoBoxManagedUi", text,
                 {"The info box takes new text while it runs."}, {"shown", "updated", "closed"});
}

StepResult RegisterBoxStep(Demo&) {
    return RunUi(kiv::fld::RegisterBoxManagedUi::CreateInstance(), "RegisterBoxManagedUi",
                 "name=Ada Lovelace\nemail=ada@example.org\nphone=", {"phone=+44 20 7946 0000\nemail=ada@example.org"},
                 {"shown", "changed:phone=+44 20 7946 0000", "closed"});
}

StepResult SettingsStep(Demo&) {
    return RunUi(kiv::fld::SettingsManagedUi::CreateInstance(), "SettingsManagedUi",
                 "gps=on\nlogging=off\nunits=metric", {"logging=on\nlanguage=en"},
                 {"shown", "changed:logging=on", "added:language=en", "closed"});
}

std::string FramesEvent(const CameraRecord& record) {
    char text[160];
    std::snprintf(text, sizeof text, "frames:received=%llu rejected=0 bytes=%llu checksum=%08x",
                  static_cast<unsigned long long>(record.frames), static_cast<unsigned long long>(record.bytes),
                  static_cast<unsigned>(record.checksum));
    return text;
}

StepResult MapAreasStep(Demo&) {
    kiv::fld::MapAreasManagedUi ui = kiv::fld::MapAreasManagedUi::CreateInstance();
    if (!ui) return Failed("MapAreasManagedUi::CreateInstance gave an empty handle: is its library beside the bridge?");
    const auto events = std::make_shared<UiEvents>();
    const auto camera = std::make_shared<CameraRecord>();
    std::printf("  host camera: 2 synthetic cameras, %dx%d grey-scale test patterns, on a thread of their own\n",
                TestPatternCamera::kWidth, TestPatternCamera::kHeight);
    if (!ui.StartUI(std::make_unique<PrintingCallback>(events),
                    "harbour=north quay, 4 ha\nmeadow=east of the river, 12 ha\nframe_interval=40\nreport_interval=500",
                    nullptr, std::make_unique<TestPatternCamera>(camera)))
        return Failed("StartUI returned false");
    if (!events->WaitFor("capturing:", 10s)) {
        ui.StopUI();
        return Failed("the UI did not start capturing");
    }
    std::this_thread::sleep_for(1200ms);
    if (!ui.UpdateUI("action=switch_camera")) return Failed("UpdateUI returned false");
    std::this_thread::sleep_for(800ms);
    if (!ui.StopUI()) return Failed("StopUI returned false");

    const std::vector<std::string> seen = events->Events();
    for (const char* event : {"cameras:2", "capturing:interval=40", "camera-switched", "capture-stopped", "closed"}) {
        if (std::find(seen.begin(), seen.end(), event) == seen.end())
            return Failed(std::string("no event ") + event + " among " + Joined(seen, " | "));
    }
    const std::lock_guard lock(camera->mutex);
    std::string reported;
    for (const std::string& event : seen) {
        if (event.rfind("frames:", 0) == 0) reported = event;
    }
    const std::string delivered = FramesEvent(*camera);
    std::printf("  the camera delivered: %s\n", delivered.c_str() + std::strlen("frames:"));
    if (camera->frames == 0) return Failed("the camera delivered no frames");
    if (reported != delivered) return Failed("the UI's last report " + reported + " differs from what was delivered");
    if (camera->interval != 40) return Failed("the camera was asked for " + std::to_string(camera->interval) + " ms");
    if (camera->switches != 1) return Failed("the camera was switched " + std::to_string(camera->switches) + " times");
    if (!camera->deleted || !events->CallbackDeleted()) return Failed("the UI kept the camera or the callback");
    return Ok(std::to_string(camera->frames) +
              " frames captured; count, bytes and checksum match the camera's; camera and callback released");
}

// ------------------------------------------------------------------------------------------------

fs::path BridgeLibrary() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&kiv::fld::KivEmail::CreateInstance), &info) && info.dli_fname)
        return fs::path(info.dli_fname).lexically_normal();
    return {};
}

fs::path ExecutableFolder() {
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::current_path() : executable.parent_path();
}

int Run(bool keep) {
    std::string pattern = (fs::temp_directory_path() / "kivfld-demo-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::perror("kivfld-demo: cannot create a work folder");
        return 1;
    }
    Demo demo;
    demo.work = pattern;
    demo.nmeaLog = ExecutableFolder() / ".." / "share" / "kivfld" / "demo" / "stationary_fix.nmea";
    demo.nmeaLog = demo.nmeaLog.lexically_normal();

    std::printf("kivfld-demo: every exported class of KivFldIntegration, through its public headers\n");
    std::printf("  bridge: %s (component libraries are found beside it)\n", BridgeLibrary().c_str());
    std::printf("  work folder: %s\n", demo.work.c_str());

    const std::vector<std::pair<const char*, std::function<StepResult(Demo&)>>> steps = {
        {"zip archive", ZipStep},          {"e-mail", MailStep},
        {"GPS provider", GpsStep},         {"info box", InfoBoxStep},
        {"register box", RegisterBoxStep}, {"settings", SettingsStep},
        {"map areas", MapAreasStep},
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        std::printf("\n[%zu/%zu] %s\n", i + 1, steps.size(), steps[i].first);
        std::fflush(stdout);
        StepResult result = Failed("no result");
        try {
            result = steps[i].second(demo);
        } catch (const std::exception& error) {
            result = Failed(std::string("the component could not be used: ") + error.what());
        }
        std::printf("  => %s: %s\n", OutcomeText(result.outcome), result.note.c_str());
        std::fflush(stdout);
        demo.results.emplace_back(steps[i].first, std::move(result));
    }

    int failed = 0;
    int skipped = 0;
    std::printf("\nsummary\n");
    for (const auto& [title, result] : demo.results) {
        std::printf("  %-14s %s\n", title.c_str(), OutcomeText(result.outcome));
        failed += result.outcome == StepResult::Outcome::Failed;
        skipped += result.outcome == StepResult::Outcome::Skipped;
    }
    if (keep) {
        std::printf("work folder kept: %s\n", demo.work.c_str());
    } else {
        std::error_code ignored;
        fs::remove_all(demo.work, ignored);
    }
    if (failed) {
        std::printf("kivfld-demo: %d of %zu steps FAILED\n", failed, steps.size());
        return 1;
    }
    const std::string skippedNote = skipped ? " (" + std::to_string(skipped) + " skipped)" : "";
    std::printf("kivfld-demo: all steps passed%s\n", skippedNote.c_str());
    return 0;
}

}  // namespace
}  // namespace kivfld::demo

int main(int argc, char** argv) {
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--keep") {
            keep = true;
        } else {
            std::FILE* out = argument == "--help" || argument == "-h" ? stdout : stderr;
            std::fprintf(out,
                         "usage: kivfld-demo [--keep]\n"
                         "Drives every exported class of KivFldIntegration once and prints what happens.\n"
                         "  --keep  keep the work folder (archive, mail, logs) instead of removing it\n"
                         "Settings: KIVFLD_SMTP_URL and the other KIVFLD_SMTP_* / KIVFLD_MAIL_* variables of the\n"
                         "e-mail library; KIVFLD_GPSD_HOST and KIVFLD_GPSD_PORT name a gpsd to ask instead of\n"
                         "starting gpsfake.\n");
            return out == stdout ? 0 : 2;
        }
    }
    // Narrow strings cross the bridge in the locale's code page; use the user's.
    std::setlocale(LC_ALL, "");
    return kivfld::demo::Run(keep);
}
