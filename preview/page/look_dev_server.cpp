#include "preview/page/look_dev_server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "preview/page/page_assets.h"
#include "preview/shading/parameter_record.h"
#include "preview/value_parsing.h"

namespace {

// Bytes a request may carry: the page sends none, only a query.
constexpr std::size_t max_request_body = 4096;

// The coarse image: this much smaller on each side, and no more samples.
constexpr int coarse_divisor = 4;
constexpr int coarse_samples = 4;

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

// The page's starting state: the declaration's parameters with their defaults
// and the values the command line set, the image, the camera, and the start
// of a copied command.
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
    return "{\"shader\":" + json_string(declaration.name) + ",\"parameters\":[" + parameters + "]" +
           ",\"attachments\":" + json_strings(settings.attachments) + ",\"width\":" + std::to_string(settings.width) +
           ",\"height\":" + std::to_string(settings.height) + ",\"aa\":" + std::to_string(settings.camera_rays) +
           ",\"camera\":{\"eye\":" + json_numbers({camera.eye.x, camera.eye.y, camera.eye.z}) +
           ",\"target\":" + json_numbers({camera.target.x, camera.target.y, camera.target.z}) +
           ",\"fov\":" + json_numbers({camera.fov_degrees}) + "}" +
           ",\"up\":" + json_string(up_axis_name(session.up())) +
           ",\"command\":" + json_strings(settings.scene_arguments) + "}";
}

int whole_number(const httplib::Request &request, const char *name, int fallback, int low, int high)
{
    if (!request.has_param(name))
        return fallback;
    const std::string text = request.get_param_value(name);
    const std::string fault = whole_number_fault(text, low, high);
    if (!fault.empty())
        throw std::invalid_argument(std::string("--") + name + ": " + fault);
    return std::stoi(text);
}

// The look a render request asks for, read by the command line's own rules.
// The page attaches checkers only: no file's name comes from it.
Look requested_look(const httplib::Request &request, const LookDevSettings &settings)
{
    Look look;
    look.width = whole_number(request, "width", settings.width, 1, 16384);
    look.height = whole_number(request, "height", settings.height, 1, 16384);
    look.camera_rays = whole_number(request, "aa", settings.camera_rays, 1, 4096);
    look.seed = settings.seed;
    look.camera = request.get_param_value("camera");
    for (std::size_t i = 0; i < request.get_param_value_count("set"); ++i)
        look.sets.push_back(request.get_param_value("set", i));
    for (std::size_t i = 0; i < request.get_param_value_count("attach"); ++i) {
        const std::string spec = request.get_param_value("attach", i);
        const std::size_t equals = spec.find('=');
        if (equals == std::string::npos || spec.compare(equals + 1, 8, "checker:") != 0)
            throw std::invalid_argument("the page attaches checkers only (name=checker:SCALE), not \"" + spec + "\"");
        look.attachments.push_back(spec);
    }
    // Image attachments given on the command line stay, as the command has them.
    for (const std::string &spec : settings.attachments) {
        if (spec.find("=checker:") == std::string::npos)
            look.attachments.push_back(spec);
    }
    return look;
}

// The encoded image, written as the command line writes it.
std::string encoded(const RenderedLook &rendered, const std::string &extension)
{
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("umbrex-look-" + std::to_string(getpid()) + "-" +
                                        std::to_string(counter.fetch_add(1)) + extension);
    write_image(rendered.image, path.string(), rendered.meaning);
    std::ifstream file(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    return bytes;
}

// Each tab's frame in progress, so that a newer request from the same tab
// cancels it.
class FramesInProgress {
public:
    std::shared_ptr<std::atomic<bool>> start(const std::string &tab)
    {
        auto cancel = std::make_shared<std::atomic<bool>>(false);
        std::lock_guard<std::mutex> lock(mutex_);
        auto &slot = frames_[tab];
        if (slot)
            slot->store(true);
        slot = cancel;
        return cancel;
    }

    void finish(const std::string &tab, const std::shared_ptr<std::atomic<bool>> &cancel)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = frames_.find(tab);
        if (found != frames_.end() && found->second == cancel)
            frames_.erase(found);
    }

private:
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<std::atomic<bool>>> frames_;
};

void render_route(const PreviewSession &session, const LookDevSettings &settings, FramesInProgress &frames,
                  const httplib::Request &request, httplib::Response &response)
{
    const std::string tab = request.get_param_value("tab");
    if (tab.empty() || tab.size() > 64 ||
        !std::all_of(tab.begin(), tab.end(), [](unsigned char c) { return std::isalnum(c) != 0; })) {
        response.status = 400;
        response.set_content("tab must be 1 to 64 letters and digits", "text/plain");
        return;
    }
    const bool coarse = request.get_param_value("level") == "coarse";
    const std::string format = request.has_param("format") ? request.get_param_value("format") : "png";
    if (format != "png" && format != "exr") {
        response.status = 400;
        response.set_content("format must be png or exr", "text/plain");
        return;
    }
    const auto cancel = frames.start(tab);
    try {
        Look look = requested_look(request, settings);
        const int samples = session.check(look);
        check_frame_fits(look.width, look.height);
        if (coarse) {
            look.width = std::max(1, look.width / coarse_divisor);
            look.height = std::max(1, look.height / coarse_divisor);
            if (samples > coarse_samples && session.declaration().find("samples"))
                look.sets.push_back("samples=" + std::to_string(coarse_samples));
        }
        const RenderedLook rendered = session.render(look, settings.threads, false, cancel.get());
        frames.finish(tab, cancel);
        if (rendered.statistics.cancelled) {
            response.status = 409;
            response.set_content("superseded by a newer change", "text/plain");
            return;
        }
        response.set_header("X-Umbrex-Samples", std::to_string(rendered.samples));
        response.set_header("X-Umbrex-Probe-Rays", std::to_string(rendered.statistics.probe_rays));
        response.set_header("X-Umbrex-Seconds", std::to_string(rendered.statistics.seconds));
        response.set_header("Cache-Control", "no-store");
        if (request.has_param("download"))
            response.set_header("Content-Disposition", "attachment; filename=\"umbrex." + format + "\"");
        response.set_content(encoded(rendered, "." + format), format == "png" ? "image/png" : "image/x-exr");
    } catch (const std::exception &error) {
        frames.finish(tab, cancel);
        response.status = 400;
        response.set_content(error.what(), "text/plain");
    }
}

bool is_address_literal(std::string text)
{
    if (text.size() > 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    unsigned char parsed[16];
    return inet_pton(AF_INET, text.c_str(), parsed) == 1 || inet_pton(AF_INET6, text.c_str(), parsed) == 1;
}

// The Host header names this server, never another name that resolves here
// (a rebound name). Listening on every address, any address literal will do.
bool host_allowed(const std::string &host, const std::vector<std::string> &addresses, int port)
{
    const std::string suffix = ":" + std::to_string(port);
    const bool wildcard = addresses.size() == 1 && (addresses[0] == "0.0.0.0" || addresses[0] == "::");
    if (wildcard && host.size() > suffix.size() && host.compare(host.size() - suffix.size(), suffix.size(), suffix) == 0)
        return is_address_literal(host.substr(0, host.size() - suffix.size()));
    for (const std::string &address : addresses) {
        const bool ipv6 = address.find(':') != std::string::npos;
        if (host == (ipv6 ? "[" + address + "]" : address) + ":" + std::to_string(port))
            return true;
    }
    return false;
}

void add_routes(httplib::Server &server, const PreviewSession &session, const LookDevSettings &settings,
                FramesInProgress &frames, const std::vector<std::string> &hosts, const int &port)
{
    server.set_payload_max_length(max_request_body);
    server.set_pre_routing_handler([&hosts, &port](const httplib::Request &request, httplib::Response &response) {
        if (host_allowed(request.get_header_value("Host"), hosts, port))
            return httplib::Server::HandlerResponse::Unhandled;
        response.status = 403;
        response.set_content("this page answers only to its own address", "text/plain");
        return httplib::Server::HandlerResponse::Handled;
    });
    for (const PageAsset &asset : page_assets()) {
        server.Get(asset.route, [&asset](const httplib::Request &, httplib::Response &response) {
            response.set_content(asset.content, asset.type);
        });
    }
    server.Get("/look", [&](const httplib::Request &, httplib::Response &response) {
        response.set_content(look_json(session, settings), "application/json");
    });
    server.Get("/render", [&](const httplib::Request &request, httplib::Response &response) {
        render_route(session, settings, frames, request, response);
    });
}

}  // namespace

int serve_look_dev(const PreviewSession &session, const LookDevSettings &settings)
{
    // The page's starting values are checked as a render checks them.
    session.check({settings.sets, settings.attachments, {}, settings.width, settings.height, settings.camera_rays});

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
    std::vector<std::string> hosts = addresses;
    if (settings.listen.empty())
        hosts.push_back("localhost");
    FramesInProgress frames;
    int port = settings.port;
    std::vector<std::unique_ptr<httplib::Server>> servers;
    for (const std::string &address : addresses) {
        auto server = std::make_unique<httplib::Server>();
        add_routes(*server, session, settings, frames, hosts, port);
        const bool bound = port == 0 ? (port = server->bind_to_any_port(address)) > 0
                                     : server->bind_to_port(address, port);
        if (!bound) {
            // The loopback's IPv6 address is a convenience; the first address is not.
            if (servers.empty())
                throw std::runtime_error("--serve: cannot listen on " + address + " port " +
                                         std::to_string(settings.port) + " (in use, or not an address of this machine)");
            continue;
        }
        servers.push_back(std::move(server));
    }

    const std::string shown = addresses[0].find(':') != std::string::npos ? "[" + addresses[0] + "]" : addresses[0];
    std::printf("umbrex-render: look-dev page at http://%s:%d/ (Ctrl-C ends)\n", shown.c_str(), port);
    std::fflush(stdout);

    std::vector<std::thread> listeners;
    for (auto &server : servers)
        listeners.emplace_back([&server] { server->listen_after_bind(); });
    int signal = 0;
    sigwait(&stop_signals, &signal);
    for (auto &server : servers)
        server->stop();
    for (std::thread &listener : listeners)
        listener.join();
    std::printf("umbrex-render: stopped\n");
    return 0;
}
