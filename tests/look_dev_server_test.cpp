// umbrex-render --serve from a client's side: its routes, what it refuses,
// several clients at once, a change that cancels the frame in progress, and
// Ctrl-C.

#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace {

// The server as a user starts it, on a free port of the loopback address.
class LookDevServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            execl(UMBREX_RENDER, UMBREX_RENDER, "--serve", "--port", "0", "--width", "64", "--height", "36",
                  "--seed", "5", "--up=-z", "--hide", "none*", static_cast<char *>(nullptr));
            _exit(127);
        }
        close(out[1]);
        output_ = fdopen(out[0], "r");
        char line[256] = {};
        ASSERT_TRUE(std::fgets(line, sizeof line, output_)) << "the server printed nothing";
        const std::string text = line;
        const auto colon = text.find("127.0.0.1:");
        ASSERT_NE(colon, std::string::npos) << text;
        port_ = std::stoi(text.substr(colon + 10));
    }

    void TearDown() override
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (output_)
            std::fclose(output_);
    }

    httplib::Client client() const
    {
        httplib::Client c("127.0.0.1", port_);
        c.set_read_timeout(120, 0);  // frames are slow under the sanitizers on a busy machine
        return c;
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

    pid_t pid_ = 0;
    FILE *output_ = nullptr;
    int port_ = 0;
};

TEST_F(LookDevServer, ServesThePageAndRefusesWhatIsNotItsOwn)
{
    httplib::Client c = client();
    const auto page = c.Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("/app.js"), std::string::npos);
    for (const char *route : {"/app.js", "/style.css"})
        EXPECT_EQ(c.Get(route)->status, 200) << route;
    const auto look = c.Get("/look");
    EXPECT_NE(look->body.find("{\"name\":\"samples\",\"type\":\"integer\",\"default\":[32]"), std::string::npos)
        << look->body;
    // The page's copied command renders with the server's seed and scene
    // options; the page orbits about the scene's up.
    EXPECT_NE(look->body.find("\"--up=-z\",\"--hide=none*\",\"--seed\",\"5\"]"), std::string::npos) << look->body;
    EXPECT_NE(look->body.find("\"up\":\"-Z\""), std::string::npos) << look->body;

    // Only the page's routes; no body beyond a few kilobytes; only its own
    // name in the Host header (a name that merely resolves here is another site).
    EXPECT_EQ(c.Get("/../Umbrex.mi")->status, 404);
    EXPECT_EQ(c.Post("/render", std::string(100000, 'x'), "text/plain")->status, 413);
    EXPECT_EQ(c.Get("/look", {{"Host", "attacker.example:" + std::to_string(port_)}})->status, 403);
    EXPECT_EQ(c.Get("/look", {{"Host", "localhost:" + std::to_string(port_)}})->status, 200);
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
        {"format=tiff", "format must be png or exr"},
    };
    for (const auto &[query, message] : cases) {
        const auto answer = c.Get("/render?tab=t1&" + query);
        ASSERT_TRUE(answer) << query;
        EXPECT_EQ(answer->status, 400) << query;
        EXPECT_NE(answer->body.find(message), std::string::npos) << query << ": " << answer->body;
        EXPECT_EQ(answer->body.find('\n'), std::string::npos) << answer->body;
    }
    EXPECT_EQ(c.Get("/render?tab=no/slash")->status, 400);
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

    auto slow = std::async(std::launch::async, [this] {
        return client().Get("/render?tab=mine&width=640&height=360&set=samples%3D4096");
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto other_tab = client().Get("/render?tab=other&level=coarse");
    const auto newer = client().Get("/render?tab=mine&level=coarse");
    const auto older = slow.get();
    ASSERT_TRUE(older && newer && other_tab);
    EXPECT_EQ(older->status, 409);
    EXPECT_EQ(older->body, "superseded by a newer change");
    EXPECT_EQ(newer->status, 200);
    EXPECT_EQ(other_tab->status, 200);

    EXPECT_EQ(interrupt(), 0) << "Ctrl-C ends it cleanly";
}

}  // namespace
