#include "preview/page/look_dev_server.h"

#include <httplib.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <sstream>
#include <thread>

#include "preview/page/accumulation_store.h"
#include "preview/page/client_connections.h"
#include "preview/page/page_access.h"
#include "preview/page/page_assets.h"
#include "preview/page/query_parameters.h"
#include "preview/page/render_admission.h"
#include "preview/render/look_command.h"
#include "preview/shading/parameter_record.h"
#include "preview/value_parsing.h"

namespace {

// The coarse image: this much smaller on each side, no more samples, and
// one camera ray per pixel.
constexpr int coarse_divisor = 4;
constexpr int coarse_samples = 4;

// Workers per address: enough that clients slow to send their requests
// (cut off after head_time) leave most of them free.
constexpr std::size_t workers = 32;
constexpr time_t read_timeout_seconds = 2;
constexpr time_t keep_alive_seconds = 2;
constexpr ConnectionWatch::Limits connection_limits{std::chrono::milliseconds(5000), 64 * 1024};

// What the page itself may run: no script or style from elsewhere, the
// rendered images as blobs, and never inside another site's frame.
constexpr const char *page_policy =
    "default-src 'self'; img-src 'self' blob:; frame-ancestors 'none'; base-uri 'none'; form-action 'none'";

std::string json_string(const std::string &text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string json_numbers(const std::vector<double> &values)
{
    std::ostringstream out;
    out.precision(9);
    out << '[';
    for (std::size_t i = 0; i < values.size(); ++i)
        out << (i ? "," : "") << values[i];
    return out.str() + "]";
}

std::string json_strings(const std::vector<std::string> &values)
{
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i)
        out += (i ? "," : "") + json_string(values[i]);
    return out + "]";
}

// A point in the scene's own coordinates, every digit a double holds.
std::string json_point(const DVec3 &p)
{
    std::ostringstream out;
    out.precision(17);
    out << '[' << p.x << ',' << p.y << ',' << p.z << ']';
    return out.str();
}

std::string json_camera(const Camera &camera)
{
    return "{\"eye\":" + json_point(camera.eye) + ",\"target\":" + json_point(camera.target) +
           ",\"fov\":" + json_numbers({camera.fov_degrees}) + "}";
}

// The file's cameras as the page offers them: each one's view for an image
// of that aspect, or why it cannot be used.
std::string json_file_cameras(const PreviewSession &session, float aspect)
{
    std::string out;
    for (const SceneCamera &camera : session.scene().cameras) {
        out += std::string(out.empty() ? "" : ",") + "{\"name\":" + json_string(camera.name);
        try {
            out += ",\"view\":" + json_camera(camera.view(aspect)) + "}";
        } catch (const std::invalid_argument &fault) {
            out += ",\"fault\":" + json_string(fault.what()) + "}";
        }
    }
    return "[" + out + "]";
}

// The page's starting state: the declaration's parameters with their defaults
// and the values the command line set, the image, the camera, the scene's
// bounds, up, cameras and warnings, and the start of a copied command.
std::string look_json(const PreviewSession &session, const LookDevSettings &settings)
{
    const ShaderDeclaration &declaration = session.declaration();
    ParameterRecord record(declaration);
    for (const std::string &assignment : settings.sets)
        record.set(assignment);
    std::string parameters;
    for (const DeclaredParameter &p : declaration.parameters) {
        std::vector<double> defaults = p.default_value;
        defaults.resize(value_count(p.type), 0.0);
        const std::vector<float> current = record.value(p);
        parameters += std::string(parameters.empty() ? "" : ",") + "{\"name\":" + json_string(p.name) +
                      ",\"type\":" + json_string(type_name(p.type)) + ",\"default\":" + json_numbers(defaults) +
                      ",\"value\":" + json_numbers({current.begin(), current.end()}) + "}";
    }
    const Camera camera = session.starting_camera(settings.width, settings.height);
    const PreviewSession::SceneBounds bounds = session.bounds();
    const Vec3 up = from_y_up({0.0f, 1.0f, 0.0f}, session.up());
    return "{\"shader\":" + json_string(declaration.name) + ",\"parameters\":[" + parameters + "]" +
           ",\"attachments\":" + json_strings(settings.attachments) + ",\"width\":" + std::to_string(settings.width) +
           ",\"height\":" + std::to_string(settings.height) + ",\"aa\":" + std::to_string(settings.camera_rays) +
           ",\"seed\":" + std::to_string(settings.seed) + ",\"pass_samples\":" + std::to_string(settings.pass_samples) +
           ",\"camera\":" + json_camera(camera) +
           ",\"cameras\":" + json_file_cameras(session, static_cast<float>(settings.width) / settings.height) +
           ",\"bounds\":{\"low\":" + json_point(bounds.low) + ",\"high\":" + json_point(bounds.high) + "}" +
           ",\"up\":" + json_numbers({up.x, up.y, up.z}) + ",\"warnings\":" + json_strings(session.warnings()) +
           ",\"max_work\":" + std::to_string(settings.max_work) +
           ",\"command\":" + json_strings(settings.scene_arguments) + "}";
}

// What the handlers share.
struct PageServer {
    const PreviewSession &session;
    const LookDevSettings &settings;
    PageAccess access;
    RenderAdmission admission;
    ConnectionWatch connections;
    AccumulationStore accumulations;
};

int whole_number(const QueryParameters &query, const char *name, int fallback, int low, int high)
{
    if (!query.has(name))
        return fallback;
    const std::string text = query.value(name);
    const std::string fault = whole_number_fault(text, low, high);
    if (!fault.empty()) {
        std::string option = name;  // named as the command line names it
        std::replace(option.begin(), option.end(), '_', '-');
        throw std::invalid_argument("--" + option + ": " + fault);
    }
    return std::stoi(text);
}

// The look a render request asks for, read by the command line's own rules.
// The page attaches checkers only: no file's name comes from it.
Look requested_look(const QueryParameters &query, const LookDevSettings &settings)
{
    Look look;
    look.width = whole_number(query, "width", settings.width, 1, 16384);
    look.height = whole_number(query, "height", settings.height, 1, 16384);
    look.camera_rays = whole_number(query, "aa", settings.camera_rays, 1, 4096);
    look.seed = static_cast<std::uint32_t>(whole_number(query, "seed", static_cast<int>(settings.seed), 0, 2147483647));
    look.pass_samples = whole_number(query, "pass_samples", 0, 0, 2147483647);
    look.camera = query.value("camera");
    look.sets = query.values("set");
    for (const std::string &attachment : query.values("attach")) {
        const std::size_t equals = attachment.find('=');
        if (equals == std::string::npos || attachment.compare(equals + 1, 8, "checker:") != 0)
            throw std::invalid_argument("the page attaches checkers only (name=checker:SCALE), not \"" + attachment +
                                        "\"");
        look.attachments.push_back(attachment);
    }
    // Image attachments given on the command line stay, as the command has them.
    for (const std::string &attachment : settings.attachments) {
        if (attachment.find("=checker:") == std::string::npos)
            look.attachments.push_back(attachment);
    }
    return look;
}

void refuse(httplib::Response &response, const Refusal &refusal)
{
    response.status = refusal.status;
    response.set_content(refusal.message, "text/plain; charset=utf-8");
}

// Text safe in a header: percent escapes for everything but printable ASCII.
std::string header_text(const std::string &text)
{
    std::string out;
    for (const unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '%') {
            out += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            out += escaped;
        }
    }
    return out;
}

// The image as the request asked for it: PNG or EXR files keeping the
// command that renders them, or the floats as they are (RGBA, rows from the
// top, little-endian), which the page shows.
void send_image(httplib::Response &response, const Image &image, PixelMeaning meaning, const std::string &format,
                const std::string &command)
{
    response.set_header("X-Umbrex-Width", std::to_string(image.width));
    response.set_header("X-Umbrex-Height", std::to_string(image.height));
    response.set_header("X-Umbrex-Meaning", meaning == PixelMeaning::data ? "data" : "colour");
    if (format == "floats") {
        static_assert(sizeof(miColor) == 4 * sizeof(float), "pixels are four floats");
        response.set_header("Content-Type", "application/octet-stream");
        response.body.assign(reinterpret_cast<const char *>(image.pixels.data()), image.pixels.size() * sizeof(miColor));
        return;
    }
    response.set_header("Content-Type", format == "png" ? "image/png" : "image/x-exr");
    response.body = encode_image(image, format == "png" ? ImageFormat::png : ImageFormat::exr, meaning, 8, command);
}

// A frame for the tab: checked, within the budget, admitted, rendered and
// sent. "coarse" is a small quick image; "pass" adds the next pass of the
// look to the tab's sum and sends the mean so far; "final" sends every pass,
// from a sum already kept where there is one. HEAD answers after the
// checks, without rendering.
void render_route(PageServer &server, const httplib::Request &request, httplib::Response &response)
{
    const PreviewSession &session = server.session;
    try {
        const QueryParameters query(request.target,
                                    {"tab", "level", "format", "width", "height", "aa", "camera", "seed", "pass_samples"},
                                    {"set", "attach"});
        const std::string tab = query.value("tab");
        if (tab.empty() || tab.size() > 64 ||
            !std::all_of(tab.begin(), tab.end(), [](unsigned char c) { return std::isalnum(c) != 0; }))
            throw std::invalid_argument("tab must be 1 to 64 letters and digits");
        const std::string level = query.value("level", "final");
        if (level != "coarse" && level != "pass" && level != "final")
            throw std::invalid_argument("level must be coarse, pass or final");
        const std::string format = query.value("format", "png");
        if (format != "png" && format != "exr" && format != "floats")
            throw std::invalid_argument("format must be png, exr or floats");

        Look look = requested_look(query, server.settings);
        const std::string key = accumulation_key(look);
        PassPlan plan = session.pass_plan(look);
        const std::string warning =
            samples_warning(plan.samples, static_cast<double>(look.width) * look.height * look.camera_rays);
        if (!warning.empty())
            response.set_header("X-Umbrex-Warning", header_text(warning));
        if (level == "coarse") {
            look.width = std::max(1, look.width / coarse_divisor);
            look.height = std::max(1, look.height / coarse_divisor);
            look.camera_rays = 1;
            look.pass_samples = 0;
            if (plan.samples > coarse_samples && session.declaration().find("samples"))
                look.sets.push_back("samples=" + std::to_string(coarse_samples));
            plan = session.pass_plan(look);
        }
        // Passes as large as the samples or larger are one: the command says none.
        if (!plan.split())
            look.pass_samples = 0;
        const std::string command = look_command(server.settings.scene_arguments, look);
        // A pass is a render of its own; the first is the largest. One whose
        // sum cannot be kept is the whole look at once, and a whole look over
        // the budget is sent only from a sum already kept.
        const std::string over_pass =
            work_fault(look.width, look.height, look.camera_rays, plan.samples_of(0), server.settings.max_work);
        const std::string over_whole =
            work_fault(look.width, look.height, look.camera_rays, plan.samples, server.settings.max_work);
        const bool whole = level == "coarse" ||
                           (level == "pass" && !server.accumulations.can_keep(look.width, look.height)) ||
                           (level == "final" && !server.accumulations.holds(key, plan));
        if (!over_pass.empty() && level == "pass")
            return refuse(response, {413, over_pass});
        if (!over_whole.empty() && whole)
            return refuse(response, {413, over_whole});
        response.set_header("Cache-Control", "no-store");
        if (request.method == "HEAD") {
            response.set_header("Content-Type", format == "png"   ? "image/png"
                                                : format == "exr" ? "image/x-exr"
                                                                  : "application/octet-stream");
            return;
        }

        const ClientSocket client(socket_end(request.local_addr, request.local_port),
                                  socket_end(request.remote_addr, request.remote_port));
        const std::uint64_t sum_memory = level == "coarse" ? 0 : 2 * PassAccumulation::memory(look.width, look.height);
        auto admitted = server.admission.admit(tab, look.width, look.height, [&client] { return client.gone(); },
                                               sum_memory);
        if (const Refusal *refusal = std::get_if<Refusal>(&admitted))
            return refuse(response, *refusal);
        const auto &ticket = std::get<std::unique_ptr<RenderAdmission::Ticket>>(admitted);
        const auto cancelled = [&]() {
            if (ticket->why() == RenderAdmission::Cancelled::stopping)
                return refuse(response, {503, "the server is stopping"});
            return refuse(response, {409, "superseded by a newer change"});
        };
        const auto answer = [&](const Image &image, PixelMeaning meaning, int passes, const FrameStatistics &done) {
            response.set_header("X-Umbrex-Samples", std::to_string(plan.samples));
            response.set_header("X-Umbrex-Samples-Done", std::to_string(plan.samples_before(passes)));
            response.set_header("X-Umbrex-Passes", std::to_string(passes) + "/" + std::to_string(plan.passes()));
            response.set_header("X-Umbrex-Probe-Rays", std::to_string(done.probe_rays));
            response.set_header("X-Umbrex-Seconds", std::to_string(done.seconds));
            send_image(response, image, meaning, format, command);
        };

        if (level == "final") {
            if (auto kept = server.accumulations.finished(key, plan))
                return answer(kept->first, kept->second, plan.passes(), {});
        }
        std::optional<AccumulationStore::Claim> claim =
            level == "pass" ? server.accumulations.claim(tab, key, plan, look.width, look.height) : std::nullopt;
        if (!claim) {
            // The whole look at once: coarse, final, or a pass whose sum cannot
            // be kept; a kept sum may have been dropped since it was found.
            if (!over_whole.empty())
                return refuse(response, {413, over_whole});
            const RenderedLook rendered = session.render(look, server.settings.threads, false, ticket->cancel());
            if (rendered.statistics.cancelled)
                return cancelled();
            if (level != "coarse")
                server.accumulations.keep(tab, key, plan, rendered.image, rendered.meaning);
            return answer(rendered.image, rendered.meaning, plan.passes(), rendered.statistics);
        }
        const int pass = claim->passes();
        FrameStatistics statistics;
        if (pass < plan.passes()) {
            const RenderedLook rendered =
                session.render_pass(look, pass, server.settings.threads, false, ticket->cancel());
            if (rendered.statistics.cancelled)
                return cancelled();
            claim->add(rendered.image, plan.samples_of(pass), rendered.meaning);
            statistics = rendered.statistics;
        }
        answer(claim->mean(), claim->meaning(), claim->passes(), statistics);
    } catch (const std::exception &error) {
        refuse(response, {400, error.what()});
    }
}

// Where the camera ray through a point of the image meets the scene: the
// page's pivot for orbiting, dollying and panning.
void pick_route(PageServer &server, const httplib::Request &request, httplib::Response &response)
{
    try {
        const QueryParameters query(request.target, {"x", "y", "width", "height", "camera"}, {});
        const int width = whole_number(query, "width", server.settings.width, 1, 16384);
        const int height = whole_number(query, "height", server.settings.height, 1, 16384);
        // A point of the image, its edges included.
        const auto within = [&query](const char *name, const char *what, int size) {
            const double at = parse_doubles(query.value(name, std::to_string(size / 2.0)), 1, what)[0];
            if (!(at >= 0.0 && at <= size))
                throw std::invalid_argument(std::string(what) + " must lie between 0 and " + std::to_string(size));
            return at;
        };
        const double x = within("x", "x (pixels from the left)", width);
        const double y = within("y", "y (pixels from the top)", height);
        const Camera camera = query.has("camera") ? parse_camera(query.value("camera"))
                                                  : server.session.starting_camera(width, height);
        const std::optional<DVec3> hit = server.session.pick(camera, width, height, x, y);
        response.set_header("Cache-Control", "no-store");
        response.set_content(hit ? "{\"hit\":" + json_point(*hit) + "}" : std::string("{\"hit\":null}"),
                             "application/json");
    } catch (const std::exception &error) {
        refuse(response, {400, error.what()});
    }
}

bool is_page_file(const std::string &path)
{
    const auto &assets = page_assets();
    return std::any_of(assets.begin(), assets.end(), [&](const PageAsset &asset) { return path == asset.route; });
}

// Answers a request that may not reach the routes, and says so.
bool turned_away(PageServer &server, const httplib::Request &request, httplib::Response &response)
{
    const auto refusal = access_refusal(server.access, request, !is_page_file(request.path));
    if (refusal)
        refuse(response, *refusal);
    return refusal.has_value();
}

void add_routes(httplib::Server &http, PageServer &server)
{
    http.new_task_queue = [] { return new httplib::ThreadPool(workers); };
    http.set_read_timeout(read_timeout_seconds);
    http.set_keep_alive_timeout(keep_alive_seconds);
    http.set_default_headers({{"X-Content-Type-Options", "nosniff"}});
    http.set_pre_routing_handler([&server](const httplib::Request &request, httplib::Response &response) {
        server.connections.request_started(socket_end(request.remote_addr, request.remote_port));
        return turned_away(server, request, response) ? httplib::Server::HandlerResponse::Handled
                                                      : httplib::Server::HandlerResponse::Unhandled;
    });
    // A client that would send its body only once asked is answered instead.
    http.set_expect_100_continue_handler([&server](const httplib::Request &request, httplib::Response &response) {
        return turned_away(server, request, response) ? response.status : 100;
    });
    // Once answered, a body announced (and refused) is never kept: the
    // connection ends, and what follows is never taken for a request.
    http.set_logger([&server](const httplib::Request &request, const httplib::Response &) {
        const SocketEnd client = socket_end(request.remote_addr, request.remote_port);
        if (announces_body(request))
            ClientSocket(socket_end(request.local_addr, request.local_port), client).end_after_answer();
        server.connections.request_ended(client);
    });
    for (const PageAsset &asset : page_assets()) {
        http.Get(asset.route, [&asset](const httplib::Request &, httplib::Response &response) {
            response.set_header("Content-Security-Policy", page_policy);
            response.set_header("X-Frame-Options", "DENY");
            response.set_header("Referrer-Policy", "no-referrer");
            response.set_content(asset.content, asset.type);
        });
    }
    http.Get("/look", [&server](const httplib::Request &, httplib::Response &response) {
        response.set_header("Cache-Control", "no-store");
        response.set_content(look_json(server.session, server.settings), "application/json");
    });
    // How many renders the server has started, has in flight and keeps waiting.
    http.Get("/status", [&server](const httplib::Request &, httplib::Response &response) {
        const RenderAdmission::Counts counts = server.admission.counts();
        response.set_header("Cache-Control", "no-store");
        response.set_content("{\"renders\":" + std::to_string(counts.started) +
                                 ",\"in_flight\":" + std::to_string(counts.in_flight) +
                                 ",\"waiting\":" + std::to_string(counts.waiting) +
                                 ",\"max_work\":" + std::to_string(server.settings.max_work) + "}",
                             "application/json");
    });
    http.Get("/render", [&server](const httplib::Request &request, httplib::Response &response) {
        render_route(server, request, response);
    });
    http.Get("/pick", [&server](const httplib::Request &request, httplib::Response &response) {
        pick_route(server, request, response);
    });
}

}  // namespace

int serve_look_dev(const PreviewSession &session, const LookDevSettings &settings)
{
    // The page's starting look is checked as a render checks it.
    const PassPlan plan = session.pass_plan({settings.sets, settings.attachments, {}, settings.width, settings.height,
                                             settings.camera_rays, settings.seed, settings.pass_samples});
    const std::string over =
        work_fault(settings.width, settings.height, settings.camera_rays, plan.samples_of(0), settings.max_work);
    if (!over.empty())
        throw std::invalid_argument("the starting look: " + over);

    // Ctrl-C and SIGTERM are taken by one thread, which stops the servers;
    // even where the shell that started the program ignores them.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    const std::vector<std::string> addresses =
        settings.listen.empty() ? std::vector<std::string>{"127.0.0.1", "::1"} : std::vector<std::string>{settings.listen};
    PageAccess access{addresses, settings.port, new_session_token()};
    if (settings.listen.empty())
        access.hosts.push_back("localhost");
    int port = settings.port;  // the one bound, once known
    PageServer server{session, settings, access, RenderAdmission(AdmissionLimits{}, available_memory),
                      ConnectionWatch(port, connection_limits), AccumulationStore(AccumulationStore::Limits{})};
    std::vector<std::unique_ptr<httplib::Server>> servers;
    for (const std::string &address : addresses) {
        auto http = std::make_unique<httplib::Server>();
        add_routes(*http, server);
        const bool bound = port == 0 ? (port = http->bind_to_any_port(address)) > 0 : http->bind_to_port(address, port);
        if (!bound) {
            // The loopback's IPv6 address is a convenience; the first address is not.
            if (servers.empty())
                throw std::runtime_error("--serve: cannot listen on " + address + " port " +
                                         std::to_string(settings.port) + " (in use, or not an address of this machine)");
            continue;
        }
        servers.push_back(std::move(http));
    }

    server.access.port = port;
    const std::string shown = addresses[0].find(':') != std::string::npos ? "[" + addresses[0] + "]" : addresses[0];
    std::printf("umbrex-render: look-dev page at http://%s:%d/?token=%s (Ctrl-C ends)\n", shown.c_str(), port,
                server.access.token.c_str());
    std::fflush(stdout);

    std::vector<std::thread> listeners;
    for (auto &http : servers)
        listeners.emplace_back([&http] { http->listen_after_bind(); });
    // Renders whose clients have gone are cancelled within a few
    // milliseconds; connections over their limits are cut a little less often.
    std::atomic<bool> stopping{false};
    std::thread watch([&] {
        for (int tick = 0; !stopping.load(); ++tick) {
            server.admission.watch_clients();
            if (tick % 5 == 0)
                server.connections.sweep();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });

    int signal = 0;
    sigwait(&stop_signals, &signal);
    // Every render stops at its next bundle of camera rays, every worker
    // waiting on a client is woken: the program ends at once.
    server.admission.stop();
    for (auto &http : servers)
        http->stop();
    server.connections.cut_all();
    stopping = true;
    watch.join();
    for (std::thread &listener : listeners)
        listener.join();
    std::printf("umbrex-render: stopped\n");
    return 0;
}
