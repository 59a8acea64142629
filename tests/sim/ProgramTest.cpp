// The options table and the tiravex-camsim program: its help names every
// option, and run alone it serves until a signal stops it.

#include "sim/Options.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

TEST(simOptions, PageHostNamesAreAcceptedAndBadValuesRefused)
{
    sim::CameraConfig c;
    ASSERT_TRUE(sim::ApplyCameraOptions(c, "user=op,password=pw,kind=100,product=P,model=M,rows=12,cols=16,ptflag=0,rs485=1,"
                                           "httpsport=8443,codec=mjpeg,width=320,height=240,fps=10,audio=2,name=Hall,cgidelay=250"));
    EXPECT_EQ(c.accounts[0].user, "op");
    EXPECT_EQ(c.accounts[0].password, "pw");
    EXPECT_EQ(c.deviceKind, 100);
    EXPECT_EQ(c.rows, 12);
    EXPECT_EQ(c.cols, 16);
    EXPECT_EQ(c.rs485Flag, 1);
    EXPECT_EQ(c.httpsPort, 8443);
    EXPECT_EQ(c.video.codec, sim::Codec::Mjpeg);
    EXPECT_EQ(c.video.width, 320);
    EXPECT_EQ(c.audio, kz::kAudioAdpcm);
    EXPECT_EQ(c.name, "Hall");
    EXPECT_EQ(c.cgiDelayMs, 250);

    const char* bad[][2] = {
        { "kind", "99" }, { "codec", "vp8" }, { "width", "641" }, { "audio", "3" }, { "fps", "0" },
        { "id", "0123456789ABC" }, { "port", "70000" }, { "searchrecord", "64" }, { "recording", "live" }, { "nosuch", "1" },
        { "rows", "x" }, { "cgidelay", "-1" }, { "claims", "16x" }, { "claims", "15x16" }, { "claims", "16x16:" },
        { "claimms", "0" }, { "claimcontent", "some" },
    };
    for (auto& b : bad)
        EXPECT_FALSE(sim::ApplyCameraOption(c, b[0], b[1])) << b[0] << "=" << b[1];

    ASSERT_TRUE(sim::ApplyCameraOption(c, "recording", "/r/one.avi:7"));
    ASSERT_TRUE(sim::ApplyCameraOption(c, "recording", "/r/two.avi"));
    ASSERT_EQ(c.recordings.size(), 2u) << "the first recording given replaces the default";
    EXPECT_EQ(c.recordings[0].seconds, 7);
    EXPECT_EQ(c.recordings[1].path, "/r/two.avi");

    ASSERT_TRUE(sim::ApplyCameraOptions(c, "claims=16000x16000:16x16,claimms=40,claimcontent=params,deaf=1"));
    ASSERT_EQ(c.claims.sizes.size(), 2u);
    EXPECT_EQ(c.claims.sizes[0].width, 16000);
    EXPECT_EQ(c.claims.sizes[1].height, 16);
    EXPECT_EQ(c.claims.periodMs, 40);
    EXPECT_EQ(c.claims.content, sim::ClaimContent::ParamsOnly);
    EXPECT_TRUE(c.deaf);
}

TEST(simProgram, HelpNamesEveryOption)
{
    FILE* out = popen(TIRAVEX_CAMSIM " --help", "r");
    ASSERT_TRUE(out);
    std::string text;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, out))
        text.append(buffer, n);
    EXPECT_EQ(pclose(out), 0);
    for (auto& o : sim::CameraOptions())
        EXPECT_NE(text.find(std::string("--") + o.key + " "), std::string::npos) << o.key;
}

TEST(simProgram, ServesUntilStoppedBySigterm)
{
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    const char* argv[] = { TIRAVEX_CAMSIM, "--port", "0", "--webport", "0", "--searchport", "0", "--product", "Spawned", nullptr };
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, TIRAVEX_CAMSIM, &actions, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);

    // The first line names the ports.
    std::string line;
    pollfd p { pipeFds[0], POLLIN, 0 };
    while (line.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0) {
        char c[256];
        ssize_t n = read(pipeFds[0], c, sizeof c);
        if (n <= 0)
            break;
        line.append(c, static_cast<std::size_t>(n));
    }
    int port = 0, webPort = 0, searchPort = 0;
    char address[64] = {};
    ASSERT_EQ(std::sscanf(line.c_str(), "tiravex-camsim: address %63s port %d webport %d searchport %d", address, &port, &webPort, &searchPort), 4) << line;

    httplib::Client client(address, webPort);
    auto answer = client.Get("/cgi-bin/CGIProxy.fcgi?usr=admin&pwd=&cmd=getDevInfo");
    ASSERT_TRUE(answer);
    EXPECT_NE(answer->body.find("<productName>Spawned</productName>"), std::string::npos);

    int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    ASSERT_GE(pidfd, 0);
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    pollfd exited { pidfd, POLLIN, 0 };
    ASSERT_EQ(poll(&exited, 1, 10000), 1) << "the program ends after SIGTERM";
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    close(pidfd);
    close(pipeFds[0]);
}
