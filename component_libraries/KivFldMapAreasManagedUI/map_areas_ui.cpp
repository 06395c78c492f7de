// KivFldCommon.KivFldMapAreasManagedUI: lists named map areas in a frame in the terminal and, when
// the host lends it a camera, captures frames from it and reports how many arrived, their bytes and
// a checksum, as events.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "KivFldCommon/ManagedUIClasses.hpp"
#include "common/fields.hpp"
#include "common/fields_view.hpp"
#include "common/hosted_ui.hpp"
#include "common/terminal.hpp"
#include "frame_receiver.hpp"
#include "kiv/runtime/activation.hpp"
#include "kiv/runtime/errors.hpp"
#include "kiv/runtime/object.hpp"

namespace kivfld::components {
namespace {

constexpr int kDefaultFrameInterval = 100;
constexpr int kDefaultReportInterval = 1000;

enum class Action { SwitchCamera, ReportFrames };

// The data of StartUI and UpdateUI: areas as name=description lines, and the reserved keys
// frame_interval, report_interval and (UpdateUI only) action.
struct MapAreasData {
    std::vector<Field> areas;
    std::optional<int> frameInterval;
    std::optional<int> reportInterval;
    std::vector<Action> actions;
};

int Milliseconds(const Field& field, int lowest, int highest) {
    const std::string rule = field.key + " must be a whole number of milliseconds from " + std::to_string(lowest) +
                             " to " + std::to_string(highest) + ".";
    int value = 0;
    const char* end = field.value.data() + field.value.size();
    const auto [stop, error] = std::from_chars(field.value.data(), end, value);
    if (error == std::errc::result_out_of_range) throw kiv::runtime::ArgumentOutOfRangeError(rule);
    if (error != std::errc() || stop != end || field.value.empty()) throw kiv::runtime::ArgumentError(rule);
    if (value < lowest || value > highest) throw kiv::runtime::ArgumentOutOfRangeError(rule);
    return value;
}

MapAreasData ParseMapAreas(std::string_view text, bool actionsAllowed) {
    MapAreasData data;
    for (Field& field : ParseFields(text)) {
        if (field.key == "frame_interval") {
            data.frameInterval = Milliseconds(field, 1, 60000);
        } else if (field.key == "report_interval") {
            data.reportInterval = Milliseconds(field, 0, 3600000);
        } else if (field.key == "action") {
            if (!actionsAllowed) throw kiv::runtime::ArgumentError("The start data cannot hold an action.");
            if (field.value == "switch_camera") {
                data.actions.push_back(Action::SwitchCamera);
            } else if (field.value == "report_frames") {
                data.actions.push_back(Action::ReportFrames);
            } else {
                throw kiv::runtime::ArgumentError("Unknown action '" + field.value +
                                                  "'; known are switch_camera and report_frames.");
            }
        } else {
            data.areas.push_back(std::move(field));
        }
    }
    return data;
}

std::string AreaRow(const Field& area, std::size_t nameColumns) {
    const std::size_t columns = Columns(area.key);
    return area.key + std::string(nameColumns > columns ? nameColumns - columns : 0, ' ') + "  " + area.value;
}

void ShowCameraError(const std::string& message, UiContext& context) {
    context.Print("camera error: " + Printable(message, context.Style()));
    context.Raise("camera-error:" + message);
}

class MapAreasView final : public UiView {
public:
    static constexpr std::string_view kPrefix = "[map-areas]";
    using StartData = MapAreasData;
    using UpdateData = MapAreasData;

    static StartData ParseStart(std::string_view data) { return ParseMapAreas(data, false); }
    static UpdateData ParseUpdate(std::string_view data) { return ParseMapAreas(data, true); }

    explicit MapAreasView(const StartData& data)
        : m_areas(data.areas),
          m_frameInterval(data.frameInterval.value_or(kDefaultFrameInterval)),
          m_reportInterval(data.reportInterval.value_or(kDefaultReportInterval)) {}

    void Show(UiContext& context) override {
        std::vector<std::string> rows;
        std::size_t nameColumns = 0;
        for (const Field& area : m_areas.Fields())
            nameColumns = std::max(nameColumns, Columns(Printable(area.key, context.Style())));
        for (const Field& area : m_areas.Fields()) {
            for (std::string& row : Wrap(AreaRow(PrintableArea(area, context), nameColumns), kMaxRowColumns))
                rows.push_back(std::move(row));
        }
        if (rows.empty()) rows.emplace_back("(no areas)");
        context.Print(Framed("Map areas", rows, context.Style()));
        context.Raise("shown");

        if (!context.Camera()) {
            context.Print("no camera");
            context.Raise("no-camera");
            return;
        }
        int cameras = 0;
        if (!CameraCall(context, [&] { cameras = context.Camera()->GetNumberOfCameras(); })) return;
        context.Print("cameras: " + std::to_string(cameras));
        context.Raise("cameras:" + std::to_string(cameras));
        if (cameras <= 0) return;
        m_receiver = kiv::runtime::New<FrameReceiver>(context.Mailbox(), &ShowCameraError);
        StartCapture(context);
    }

    void Update(const UpdateData& update, UiContext& context) {
        ShowChanges(m_areas.Apply(update.areas), context,
                    [&](const Field& area) { return AreaRow(PrintableArea(area, context), 0); });
        if (update.reportInterval) m_reportInterval = *update.reportInterval;
        if (update.frameInterval && *update.frameInterval != m_frameInterval) {
            m_frameInterval = *update.frameInterval;
            // A new interval takes a new capture: the camera is asked at the start only.
            if (m_capturing && StopCapture(context)) StartCapture(context);
        }
        for (const Action action : update.actions) {
            if (action == Action::ReportFrames) {
                Report(context);
            } else if (!context.Camera()) {
                context.Print("no camera to switch");
                context.Raise("no-camera");
            } else if (CameraCall(context, [&] { context.Camera()->SwitchCamera(); })) {
                context.Print("switched camera");
                context.Raise("camera-switched");
            }
        }
    }

    std::optional<std::chrono::milliseconds> TickInterval() const override {
        if (!m_capturing || m_reportInterval == 0) return std::nullopt;
        return std::chrono::milliseconds(m_reportInterval);
    }

    void Tick(UiContext& context) override {
        if (m_receiver && m_receiver->Statistics() != m_reported) Report(context);
    }

    void Close(UiContext& context) override {
        if (m_capturing) StopCapture(context);
        if (m_captured) Report(context);
        m_receiver.Reset();
        context.Print("closed");
        context.Raise("closed");
    }

private:
    static Field PrintableArea(const Field& area, const UiContext& context) {
        return {Printable(area.key, context.Style()), Printable(area.value, context.Style())};
    }

    // Runs one call on the host camera; what it raises (the host's exception, passed through the
    // camera adapter) is reported as a camera error and ends only that call.
    template <class Call>
    static bool CameraCall(UiContext& context, Call&& call) {
        try {
            call();
            return true;
        } catch (const std::exception& error) {
            ShowCameraError(error.what(), context);
        } catch (...) {
            ShowCameraError("the camera raised an unknown exception", context);
        }
        return false;
    }

    void StartCapture(UiContext& context) {
        if (!CameraCall(context, [&] { context.Camera()->StartCapturingFrames(m_receiver, m_frameInterval); })) return;
        m_capturing = m_captured = true;
        context.Print("capturing every " + std::to_string(m_frameInterval) + " ms");
        context.Raise("capturing:interval=" + std::to_string(m_frameInterval));
    }

    bool StopCapture(UiContext& context) {
        m_capturing = false;
        if (!CameraCall(context, [&] { context.Camera()->StopCapturingFrames(); })) return false;
        context.Print("capture stopped");
        context.Raise("capture-stopped");
        return true;
    }

    void Report(UiContext& context) {
        m_reported = m_receiver ? m_receiver->Statistics() : FrameStatistics();
        char checksum[16];
        std::snprintf(checksum, sizeof checksum, "%08x", static_cast<unsigned>(m_reported.checksum));
        std::string line = "frames: " + std::to_string(m_reported.received) + " received, " +
                           std::to_string(m_reported.bytes) + " bytes, checksum " + checksum;
        if (m_reported.rejected) line += ", " + std::to_string(m_reported.rejected) + " rejected";
        context.Print(line);
        context.Raise(m_reported.EventText());
    }

    FieldSet m_areas;
    int m_frameInterval;
    int m_reportInterval;
    kiv::runtime::Ref<FrameReceiver> m_receiver;
    bool m_capturing = false;
    // Whether any capture started: only then is there something to report at the close.
    bool m_captured = false;
    FrameStatistics m_reported;
};

class MapAreasUi final : public TerminalManagedUI<MapAreasView> {};

const kiv::runtime::ClassRegistration registration{
    std::string(KivFldCommon::KivFldMapAreasManagedUIClass.library),
    std::string(KivFldCommon::KivFldMapAreasManagedUIClass.fullClassName),
    kiv::runtime::ClassRegistration::FactoryOf<MapAreasUi>()};

}  // namespace
}  // namespace kivfld::components
