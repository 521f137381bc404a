// umbrex-render --serve from a client's side: its routes, who it answers,
// what it refuses, several clients at once, a change that cancels the frame
// in progress, clients that go away or hold on, and Ctrl-C.

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "preview/page/page_access.h"
#include "preview/page/render_admission.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The answer's status; -1 for none (the connection failed).
int status(const httplib::Result &answer)
{
    return answer ? answer->status : -1;
}

// The server as a user starts it, on a free port of the loopback address.
class LookDevServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = fs::temp_directory_path() / ("umbrex-look-dev-" + std::to_string(getpid()) + "-" +
                                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        start({});
    }

    void TearDown() override
    {
        stop();
        fs::remove_all(folder_);
    }

    // Starts the server with these options besides the usual ones; its
    // temporary folder is the test's own.
    void start(std::vector<std::string> options)
    {
        std::vector<std::string> words = {UMBREX_RENDER, "--serve", "--port", "0", "--width", "64", "--height", "36",
                                          "--seed", "5", "--up=-z", "--hide", "none*"};
        words.insert(words.end(), options.begin(), options.end());
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            setenv("TMPDIR", folder_.c_str(), 1);
            std::vector<char *> argv;
            for (std::string &word : words)
                argv.push_back(word.data());
            argv.push_back(nullptr);
            execv(UMBREX_RENDER, argv.data());
            _exit(127);
        }
        close(out[1]);
        output_ = fdopen(out[0], "r");
        char line[256] = {};
        ASSERT_TRUE(std::fgets(line, sizeof line, output_)) << "the server printed nothing";
        const std::string text = line;
        const auto colon = text.find("127.0.0.1:");
        const auto token = text.find("/?token=");
        ASSERT_NE(colon, std::string::npos) << text;
        ASSERT_NE(token, std::string::npos) << text;
        port_ = std::stoi(text.substr(colon + 10));
        token_ = text.substr(token + 8, text.find(' ', token) - token - 8);
        ASSERT_EQ(token_.size(), 64u) << text;
    }

    void stop()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = 0;
        }
        if (output_)
            std::fclose(output_);
        output_ = nullptr;
    }

    // A client of the page: it sends the token, as the page's script does.
    httplib::Client client() const
    {
        httplib::Client c("127.0.0.1", port_);
        c.set_read_timeout(120, 0);  // frames are slow under the sanitizers on a busy machine
        c.set_default_headers({{"X-Umbrex-Token", token_}});
        return c;
    }

    // A client that knows the address but not the token.
    httplib::Client stranger() const { return httplib::Client("127.0.0.1", port_); }

    // Renders the server has started so far, and has in flight now.
    std::pair<int, int> renders() const
    {
        const auto answer = client().Get("/status");
        if (status(answer) != 200)
            return {-1, -1};
        const std::string &body = answer->body;
        const auto number = [&](const std::string &key) {
            return std::stoi(body.substr(body.find("\"" + key + "\":") + key.size() + 3));
        };
        return {number("renders"), number("in_flight")};
    }

    // Waits, for half a minute at most, until a render is in flight.
    bool render_in_flight() const
    {
        for (const auto start = Clock::now(); seconds_since(start) < 30.0;) {
            if (renders().second > 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // A connection of our own: what a browser, or anything else, may send.
    int connect_raw() const
    {
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port_));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        timeval timeout{10, 0};
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        return s;
    }

    static bool send_all(int s, const std::string &bytes)
    {
        for (std::size_t sent = 0; sent < bytes.size();) {
            const ssize_t n = send(s, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }

    // What the server sent before it closed the connection, or went quiet.
    static std::string received(int s)
    {
        std::string all;
        char buffer[4096];
        for (ssize_t n; (n = recv(s, buffer, sizeof buffer, 0)) > 0;)
            all.append(buffer, static_cast<std::size_t>(n));
        return all;
    }

    std::string request_head(const std::string &target, const std::string &more = "") const
    {
        return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
               "\r\nX-Umbrex-Token: " + token_ + "\r\n" + more + "\r\n";
    }

    // The server's peak resident memory so far, in KiB.
    long peak_memory() const
    {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        std::string key;
        long value = 0;
        while (status >> key) {
            if (key == "VmHWM:" && status >> value)
                return value;
        }
        return -1;
    }

    // Ends the server with Ctrl-C; its exit status.
    int interrupt()
    {
        kill(pid_, SIGINT);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path folder_;
    pid_t pid_ = 0;
    FILE *output_ = nullptr;
    int port_ = 0;
    std::string token_;
};

// A render long enough to be stopped in the middle (seconds on two cores).
const std::string long_render = "/render?tab=long&width=640&height=360&set=samples%3D4096";

TEST_F(LookDevServer, ServesThePageAndRefusesWhatIsNotItsOwn)
{
    // The page's first load needs no token, and may not be framed.
    const auto page = stranger().Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("/app.js"), std::string::npos);
    EXPECT_NE(page->get_header_value("Content-Security-Policy").find("default-src 'self'"), std::string::npos);
    EXPECT_NE(page->get_header_value("Content-Security-Policy").find("frame-ancestors 'none'"), std::string::npos);
    EXPECT_EQ(page->get_header_value("X-Frame-Options"), "DENY");
    for (const char *route : {"/app.js", "/style.css"})
        EXPECT_EQ(status(stranger().Get(route)), 200) << route;

    httplib::Client c = client();
    const auto look = c.Get("/look");
    EXPECT_NE(look->body.find("{\"name\":\"samples\",\"type\":\"integer\",\"default\":[32]"), std::string::npos)
        << look->body;
    // The page's looks start with the server's seed, its copied command keeps
    // the scene options, and it knows the scene's size and orbits about its up.
    EXPECT_NE(look->body.find("\"seed\":5,"), std::string::npos) << look->body;
    EXPECT_NE(look->body.find("\"--up=-z\",\"--hide=none*\"]"), std::string::npos) << look->body;
    EXPECT_NE(look->body.find("\"bounds\":{\"low\":[-30,0,-30],\"high\":[30,2,30]}"), std::string::npos) << look->body;
    EXPECT_NE(look->body.find("\"up\":[0,0,-1]"), std::string::npos) << look->body;

    // Everything else needs the token, and comes from the page itself: not
    // from another site, nor from a page on another port of this machine.
    const std::string port = std::to_string(port_);
    const auto no_token = stranger().Get("/render?tab=t1");
    ASSERT_TRUE(no_token);
    EXPECT_EQ(no_token->status, 403);
    EXPECT_NE(no_token->body.find("lacks the page's token"), std::string::npos) << no_token->body;
    EXPECT_EQ(status(stranger().Get("/look")), 403);
    EXPECT_EQ(status(stranger().Get("/look", {{"X-Umbrex-Token", std::string(64, '0')}})), 403);
    EXPECT_EQ(status(c.Get("/look", {{"Sec-Fetch-Site", "cross-site"}})), 403);
    EXPECT_EQ(status(c.Get("/look", {{"Sec-Fetch-Site", "same-site"}})), 403);
    EXPECT_EQ(status(c.Get("/look", {{"Sec-Fetch-Site", "same-origin"}})), 200);
    EXPECT_EQ(status(c.Get("/look", {{"Origin", "http://127.0.0.1:1"}})), 403);
    EXPECT_EQ(status(c.Get("/look", {{"Origin", "null"}})), 403);
    EXPECT_EQ(status(c.Get("/look", {{"Origin", "http://127.0.0.1:" + port}})), 200);
    EXPECT_EQ(renders().first, 0) << "nothing was rendered for them";

    // Only the page's routes and methods; no body at all; only its own name
    // in the Host header, in any case (a name that merely resolves here is
    // another site). Every answer forbids sniffing.
    const auto outside = c.Get("/../Umbrex.mi");
    ASSERT_TRUE(outside);
    EXPECT_EQ(outside->status, 404);
    EXPECT_EQ(outside->get_header_value("X-Content-Type-Options"), "nosniff");
    EXPECT_EQ(status(c.Post("/render")), 405);
    const auto elsewhere = c.Get("/look", {{"Host", "attacker.example:" + port}});
    ASSERT_TRUE(elsewhere);
    EXPECT_EQ(elsewhere->status, 403);
    EXPECT_EQ(elsewhere->get_header_value("X-Content-Type-Options"), "nosniff");
    EXPECT_EQ(status(c.Get("/look", {{"Host", "LocalHost:" + port}})), 200);
    // A browser leaves HTTP's own port, 80, out of the name.
    EXPECT_TRUE(host_allowed("127.0.0.1", {"127.0.0.1"}, 80));
    EXPECT_FALSE(host_allowed("127.0.0.1", {"127.0.0.1"}, 8765));
    EXPECT_FALSE(host_allowed("10.0.0.1:8080", {"0.0.0.0"}, 80));
    EXPECT_TRUE(host_allowed("10.0.0.1", {"0.0.0.0"}, 80));

    // HEAD says what a render would send, without rendering.
    const auto head = c.Head("/render?tab=t1");
    ASSERT_TRUE(head);
    EXPECT_EQ(head->status, 200);
    EXPECT_EQ(head->get_header_value("Content-Type"), "image/png");
    EXPECT_EQ(renders().first, 0);
    const auto image = c.Get("/render?tab=t1&level=coarse");
    EXPECT_EQ(image->get_header_value("Cache-Control"), "no-store");
    EXPECT_EQ(renders().first, 1);
}

TEST_F(LookDevServer, BadValuesGetTheCommandLinesOneLine)
{
    httplib::Client c = client();
    const std::pair<std::string, std::string> cases[] = {
        {"set=samples%3Dmany", "\"samples\" (integer) must be a whole number, not \"many\""},
        {"set=smaples%3D4", "the shader has no parameter \"smaples\" (did you mean \"samples\"?)"},
        {"width=abc", "--width: \"abc\" is not a whole number"},
        {"camera=1,2,3%3A4,5,6", "--camera: expected eye_x,eye_y,eye_z:target_x,target_y,target_z:fov_degrees"},
        {"attach=bright%3D%2Fetc%2Fhosts.hdr", "the page attaches checkers only"},
        {"format=tiff", "format must be png, exr or floats"},
        {"level=fine", "level must be coarse, pass or final"},
        {"pass_samples=-1", "--pass-samples: -1 is not in the range 0 to 2147483647"},
        {"seed=1e3", "--seed: \"1e3\" is not a whole number"},
        // Read as sent: nothing cut at a NUL or an '=', nothing given twice.
        {"set=samples%3D4%00junk", "set: a value holds a NUL byte"},
        {"width=6=4", "--width: \"6=4\" is not a whole number"},
        {"set=samples=4=5", "\"samples\" (integer) must be a whole number, not \"4=5\""},
        {"width=32&width=16", "width: given twice, and it takes one value"},
        {"sample=4", "no parameter \"sample\" here"},
        {"set=%zz", "set: \"%zz\" is not a percent escape"},
    };
    for (const auto &[query, message] : cases) {
        const auto answer = c.Get("/render?tab=t1&" + query);
        ASSERT_TRUE(answer) << query;
        EXPECT_EQ(answer->status, 400) << query;
        EXPECT_NE(answer->body.find(message), std::string::npos) << query << ": " << answer->body;
        EXPECT_EQ(answer->body.find('\n'), std::string::npos) << answer->body;
    }
    EXPECT_EQ(status(c.Get("/render?tab=no/slash")), 400);
    const auto pick = c.Get("/pick?x=abc");
    ASSERT_TRUE(pick);
    EXPECT_EQ(pick->status, 400);
    EXPECT_NE(pick->body.find("x (pixels from the left)"), std::string::npos) << pick->body;
    const auto outside = c.Get("/pick?y=1e300&height=100");
    ASSERT_TRUE(outside);
    EXPECT_EQ(outside->body, "y (pixels from the top) must lie between 0 and 100");
    EXPECT_EQ(status(c.Get("/pick?file=%2Fetc%2Fpasswd")), 400);
    // An '=' where a value holds one is kept.
    EXPECT_EQ(status(c.Get("/render?tab=t1&level=coarse&set=samples=4")), 200);
    EXPECT_EQ(renders().first, 1);
}

// Work beyond the budget is refused at once, with the figure and the cap,
// before anything is allocated; --max-work moves the cap.
TEST_F(LookDevServer, WorkOverTheBudgetIsRefusedAtOnce)
{
    httplib::Client c = client();
    const auto asked = Clock::now();
    const auto huge = c.Get("/render?tab=t1&width=16384&height=16384&set=samples%3D2147483647");
    EXPECT_LT(seconds_since(asked), 5.0) << "not refused at once";
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->status, 413);
    EXPECT_EQ(huge->body, "16384x16384 pixels x 1 camera rays x 2147483647 samples is 576460752034988032 of work, "
                          "over the cap of 4000000000 (--max-work raises it)");
    EXPECT_EQ(status(c.Get("/render?tab=t1&width=640&height=360&aa=64&set=samples%3D512")), 413);  // 7.5e9
    // A pass whose sum is too large to keep (1 GiB) would be the whole look at once.
    EXPECT_EQ(status(c.Get("/render?tab=t1&level=pass&width=8192&height=8200&pass_samples=1&set=samples%3D64")), 413);
    EXPECT_EQ(renders().first, 0);

    stop();
    start({"--max-work", "100000"});
    httplib::Client small = client();
    EXPECT_EQ(status(small.Get("/render?tab=t1")), 200);  // 64 x 36 x 32 = 73728
    const auto over = small.Get("/render?tab=t1&aa=2");
    ASSERT_TRUE(over);
    EXPECT_EQ(over->status, 413);
    EXPECT_NE(over->body.find("147456 of work, over the cap of 100000"), std::string::npos) << over->body;
    EXPECT_EQ(renders().first, 1);

    // A pass counts alone (64 x 36 x 16); a save of passes added up renders nothing.
    const std::string look = "/render?pass_samples=16&set=samples%3D";
    for (int pass = 0; pass < 4; ++pass)
        EXPECT_EQ(status(small.Get(look + "64&tab=p&level=pass")), 200);
    EXPECT_EQ(status(small.Get(look + "64&tab=s")), 200);
    EXPECT_EQ(status(small.Get(look + "80&tab=s")), 413);
    EXPECT_EQ(status(small.Get(look + "80&tab=p&level=pass&width=256")), 413);  // 147456
}

// Four clients at once each get their own frames; a newer change from one tab
// cancels that tab's frame in progress, and only that one.
TEST_F(LookDevServer, ClientsAtOnceAndAChangeThatCancelsTheFrameInProgress)
{
    std::vector<std::future<int>> clients;
    for (int i = 0; i < 4; ++i) {
        clients.push_back(std::async(std::launch::async, [this, i] {
            httplib::Client c = client();
            int good = 0;
            for (int frame = 0; frame < 5; ++frame) {
                const auto answer = c.Get("/render?tab=c" + std::to_string(i) + "&level=coarse&set=spread%3D" +
                                          std::to_string(10 * frame + i));
                good += answer && answer->status == 200 && answer->body.compare(1, 3, "PNG") == 0 ? 1 : 0;
            }
            return good;
        }));
    }
    for (auto &c : clients)
        EXPECT_EQ(c.get(), 5);

    auto slow = std::async(std::launch::async, [this] { return client().Get(long_render); });
    ASSERT_TRUE(render_in_flight());
    const auto other_tab = client().Get("/render?tab=other&level=coarse");
    const auto newer = client().Get("/render?tab=long&level=coarse");
    const auto older = slow.get();
    ASSERT_TRUE(older && newer && other_tab);
    EXPECT_EQ(older->status, 409);
    EXPECT_EQ(older->body, "superseded by a newer change");
    EXPECT_EQ(newer->status, 200);
    EXPECT_EQ(other_tab->status, 200);

    EXPECT_EQ(interrupt(), 0) << "Ctrl-C ends it cleanly";
}

// A client that closes its connection stops its render, within a few
// milliseconds of work, not at the end of the frame; so does a newer change
// to a frame of one pixel whose every shading call takes seconds, and the
// frame cut short is never sent as though it were whole.
TEST_F(LookDevServer, ARenderStopsWhenItsClientLeavesOrANewerChangeComes)
{
    const int s = connect_raw();
    ASSERT_TRUE(send_all(s, request_head(long_render)));
    ASSERT_TRUE(render_in_flight());
    close(s);
    const auto left = Clock::now();
    while (renders().second != 0 && seconds_since(left) < 30.0)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_LT(seconds_since(left), 1.0) << "the render went on after its client left";

    auto pixel = std::async(std::launch::async, [this] {
        return client().Get("/render?tab=one&width=1&height=1&aa=16&set=samples%3D20000000");
    });
    ASSERT_TRUE(render_in_flight());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto changed = Clock::now();
    const auto newer = client().Get("/render?tab=one&width=1&height=1");
    const auto older = pixel.get();
    EXPECT_LT(seconds_since(changed), 1.0) << "the one-pixel frame went on";
    ASSERT_TRUE(older && newer);
    EXPECT_EQ(older->status, 409);
    EXPECT_EQ(newer->status, 200);
}

// A body, announced in any way, is refused before it is read: the answer
// comes after the head, what follows is dropped with the connection, and
// the server's memory stays as it was. (A client that sends its body with
// its head, without waiting, may be cut off before it reads the answer.)
TEST_F(LookDevServer, BodiesAreRefusedUnread)
{
    const long before = peak_memory();
    const std::string chunk = "100000\r\n" + std::string(0x100000, 'x') + "\r\n";
    for (const std::string &head :
         {request_head("/render?tab=t1", "Transfer-Encoding: chunked\r\n"),
          request_head("/render?tab=t1", "Content-Length: 67108864\r\n"),
          "POST /render?tab=t1 HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
              "\r\nContent-Encoding: gzip\r\nContent-Length: 300000\r\n\r\n",
          // Not asked to go on: the refusal comes instead of "100 Continue".
          request_head("/render?tab=t1", "Content-Length: 67108864\r\nExpect: 100-continue\r\n")}) {
        const int s = connect_raw();
        ASSERT_TRUE(send_all(s, head));
        const std::string answer = received(s);  // until the server ends the connection
        EXPECT_EQ(answer.rfind("HTTP/1.1 413", 0), 0u) << answer;
        EXPECT_NE(answer.find("requests to this page carry no body"), std::string::npos) << answer;
        int chunks = 0;
        while (chunks < 64 && send_all(s, chunk))
            ++chunks;
        EXPECT_LT(chunks, 64) << "the server went on taking the body";
        close(s);
    }
    EXPECT_LT(peak_memory() - before, 16 * 1024) << "KiB more at the peak";
    EXPECT_EQ(renders().first, 0);
}

// Clients that hold a connection without finishing a request cannot hold
// every worker: the page's requests are answered meanwhile, and the slow
// ones are cut after a few seconds; a request head without end is cut
// before it takes memory.
TEST_F(LookDevServer, SlowAndEndlessRequestHeadsAreCut)
{
    std::vector<int> slow;
    for (int i = 0; i < 10; ++i) {
        slow.push_back(connect_raw());
        send_all(slow.back(), "GET /look HTTP/1.1\r\n");
    }
    const auto start = Clock::now();
    std::thread trickle([&] {
        for (bool any = true; any && seconds_since(start) < 20.0;) {
            any = false;
            for (const int s : slow)
                any = send_all(s, "X: y\r\n") || any;
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    });
    const auto look = client().Get("/look");
    EXPECT_TRUE(look && look->status == 200);
    EXPECT_LT(seconds_since(start), 4.0) << "the page waited for the slow clients";
    for (const int s : slow) {
        char byte;
        EXPECT_LE(recv(s, &byte, 1, 0), 0) << "a slow client was not cut";
    }
    EXPECT_LT(seconds_since(start), 9.0);
    trickle.join();
    for (const int s : slow)
        close(s);

    const long before = peak_memory();
    const int endless = connect_raw();
    int megabytes = 0;
    while (megabytes < 256 && send_all(endless, std::string(1 << 20, 'G')))
        ++megabytes;
    EXPECT_LT(megabytes, 256) << "the server read on";
    close(endless);
    EXPECT_LT(peak_memory() - before, 32 * 1024) << "KiB more at the peak";
}

// Saves are encoded in memory and sent: no file is written, so a link
// planted where a temporary file might go is left alone.
TEST_F(LookDevServer, SavesLeavePlantedLinksAlone)
{
    const fs::path victim = folder_ / "victim.txt";
    std::ofstream(victim) << "precious";
    for (int n = 0; n < 4; ++n) {
        for (const char *extension : {".png", ".exr"}) {
            const std::string name = "umbrex-look-" + std::to_string(pid_) + "-" + std::to_string(n) + extension;
            fs::create_symlink(victim, folder_ / name);
            fs::create_symlink(victim, folder_ / ("." + name + ".partial-" + std::to_string(pid_)));
        }
    }
    const auto files = [&] { return std::distance(fs::directory_iterator(folder_), fs::directory_iterator()); };
    const auto planted = files();
    httplib::Client c = client();
    const auto png = c.Get("/render?tab=save&format=png");
    const auto exr = c.Get("/render?tab=save&format=exr");
    ASSERT_TRUE(png && exr);
    EXPECT_EQ(png->body.compare(1, 3, "PNG"), 0);
    EXPECT_EQ(exr->body.compare(0, 4, "\x76\x2f\x31\x01"), 0);
    std::ifstream read(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(read), {}), "precious");
    EXPECT_EQ(files(), planted);
}

// Runs the command line with the server's scene options; true where it succeeded.
bool command_line(const std::string &arguments)
{
    return std::system((std::string(UMBREX_RENDER) + " --up=-z --hide 'none*' " + arguments + " > /dev/null 2>&1")
                           .c_str()) == 0;
}

std::string file_bytes(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Passes add up in the tab's sum, each request one more, until the look's
// samples are there. A save of the look, or of the samples reached where the
// passes were stopped, comes from the sum without tracing a ray, and is byte
// for byte the command line's image of the command it keeps. A pick finds
// the ground under the image's centre, or nothing.
TEST_F(LookDevServer, PassesAddUpToTheCommandLinesImage)
{
    httplib::Client c = client();
    const std::string look = "/render?tab=v&width=64&height=36&pass_samples=16&format=exr&set=samples%3D";
    for (int pass = 1; pass <= 2; ++pass) {
        const auto answer = c.Get(look + "48&level=pass");
        ASSERT_EQ(status(answer), 200);
        EXPECT_EQ(answer->get_header_value("X-Umbrex-Samples-Done"), std::to_string(16 * pass));
        EXPECT_EQ(answer->get_header_value("X-Umbrex-Passes"), std::to_string(pass) + "/3");
    }
    // A save of `samples` as `format`, answered from the sum: the command line's file.
    const auto saved = [&](const std::string &tab, const std::string &samples, const std::string &format) {
        const auto answer = c.Get("/render?width=64&height=36&pass_samples=16&tab=" + tab + "&format=" + format +
                                  "&set=samples%3D" + samples);
        EXPECT_EQ(status(answer), 200);
        EXPECT_EQ(answer->get_header_value("X-Umbrex-Probe-Rays"), "0");
        const fs::path file = folder_ / ("cli." + format);
        EXPECT_TRUE(command_line("--width 64 --height 36 --seed 5 --set samples=" + samples +
                                 " --pass-samples 16 --output " + file.string()));
        EXPECT_EQ(answer->body, file_bytes(file));
        return answer->body;
    };
    saved("vsave1", "32", "exr");  // stopped at 32 of 48
    for (const char *done : {"48", "48"}) {
        const auto answer = c.Get(look + "48&level=pass");
        ASSERT_EQ(status(answer), 200);
        EXPECT_EQ(answer->get_header_value("X-Umbrex-Samples-Done"), done);
    }
    const std::string png = saved("vsave2", "48", "png");
    EXPECT_NE(png.find("iTXtCommand"), std::string::npos);
    EXPECT_NE(png.find(" --set samples=48 --width 64 --height 36 --seed 5 --pass-samples 16"), std::string::npos);

    const auto warned = c.Get("/render?tab=w&level=coarse&format=floats&set=samples%3D-1");
    ASSERT_EQ(status(warned), 200);
    EXPECT_EQ(warned->get_header_value("X-Umbrex-Warning").rfind("samples is -1: the shader asks", 0), 0u);
    EXPECT_EQ(warned->body.size(), 16u * 9 * 16);  // 16 x 9 pixels of four floats

    const auto ground = c.Get("/pick?x=32&y=18&width=64&height=36&camera=3,5,3:3,0,3:40");
    ASSERT_EQ(status(ground), 200);
    double x = 0, y = 0, z = 0;
    ASSERT_EQ(std::sscanf(ground->body.c_str(), "{\"hit\":[%lf,%lf,%lf]}", &x, &y, &z), 3) << ground->body;
    EXPECT_NEAR(x, 3.0, 1e-4);
    EXPECT_EQ(y, 0.0);
    EXPECT_NEAR(z, 3.0, 1e-4);
    const auto sky = c.Get("/pick?camera=10,1,10:10,5,10.1:40");
    ASSERT_EQ(status(sky), 200);
    EXPECT_EQ(sky->body, "{\"hit\":null}");
}

// Ctrl-C during a long render, with a client idle and one slow to send its
// request, ends the program within a second, with status 0.
TEST_F(LookDevServer, CtrlCDuringALongRenderEndsWithinASecond)
{
    const int rendering = connect_raw();
    ASSERT_TRUE(send_all(rendering, request_head(long_render)));
    const int idle = connect_raw();
    const int slow = connect_raw();
    send_all(slow, "GET /look HTTP/1.1\r\n");
    ASSERT_TRUE(render_in_flight());
    const auto start = Clock::now();
    EXPECT_EQ(interrupt(), 0);
    EXPECT_LT(seconds_since(start), 1.0);
    for (const int s : {rendering, idle, slow})
        close(s);
}

// The memory of every frame in flight is counted, before any is allocated:
// with 5 GiB to give, two frames of 2 GiB start, a third waits and is
// refused (the machine's memory is what is left, as if the others had taken
// theirs), and starts once one ends. A frame of 8 GiB would not fit even
// alone, and is refused at once.
TEST(RenderAdmission, CountsTheMemoryOfEveryFrameInFlight)
{
    constexpr std::uint64_t gibibyte = 1ull << 30;
    RenderAdmission admission({4, 8, std::chrono::milliseconds(50)}, [] { return 5 * gibibyte; });
    const auto never = [] { return false; };
    const auto huge = admission.admit("d", 16384, 16384, never);
    ASSERT_EQ(huge.index(), 1u);
    EXPECT_EQ(std::get<Refusal>(huge).status, 413);
    auto first = admission.admit("a", 8192, 8192, never);  // 8192 x 8192 x 32 bytes: 2 GiB
    auto second = admission.admit("b", 8192, 8192, never);
    ASSERT_EQ(first.index(), 0u);
    ASSERT_EQ(second.index(), 0u);
    const auto third = admission.admit("c", 8192, 8192, never);
    ASSERT_EQ(third.index(), 1u);
    EXPECT_EQ(std::get<Refusal>(third).status, 503);
    EXPECT_EQ(std::get<Refusal>(third).message, "busy: --width 8192 --height 8192: the image needs 2.0 GiB of "
                                                "memory, and 1.0 GiB is available beside the frames in flight");
    std::get<0>(first).reset();
    EXPECT_EQ(admission.admit("c", 8192, 8192, never).index(), 0u);
    EXPECT_EQ(admission.counts().started, 3u);
}

// One render per tab: a newer request cancels the older and starts once it
// has ended; renders_at_once in all; a client gone while it waits gives up.
TEST(RenderAdmission, OneRenderPerTabAndAFewInAll)
{
    RenderAdmission admission({1, 8, std::chrono::milliseconds(1000)}, [] { return 1ull << 40; });
    const auto never = [] { return false; };
    auto older = admission.admit("a", 8, 8, never);
    const RenderAdmission::Ticket &ticket = *std::get<0>(older);
    EXPECT_FALSE(ticket.cancel()->load());
    auto newer = std::async(std::launch::async, [&] { return admission.admit("a", 8, 8, never); });
    for (const auto asked = Clock::now(); !ticket.cancel()->load() && seconds_since(asked) < 5.0;)
        std::this_thread::yield();
    EXPECT_EQ(ticket.why(), RenderAdmission::Cancelled::superseded);
    std::get<0>(older).reset();
    auto admitted = newer.get();
    ASSERT_EQ(admitted.index(), 0u);
    EXPECT_EQ(std::get<Refusal>(admission.admit("b", 8, 8, never)).status, 503) << "one at once in all";
    EXPECT_EQ(std::get<Refusal>(admission.admit("c", 8, 8, [] { return true; })).status, 409);
    std::get<0>(admitted).reset();
    EXPECT_EQ(admission.counts().in_flight, 0);
}

}  // namespace
