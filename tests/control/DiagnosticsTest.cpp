// The developer diagnostics during a login, the page's CGI exchanges, the
// post-login start-up and an HTTPS-port query: they name the camera and
// the user, never the password, in no form. This binary runs with the
// diagnostics switched on from its start (they are read once per process).

#include "support/PageFixture.h"

#include <cstdlib>

namespace {

const bool kDiagnosticsOn = setenv("TIRAVEX_DEBUG_OUTPUT", "1", 1) == 0;

class Diagnostics : public testing_support::CameraPage { };

TEST_F(Diagnostics, PasswordsNeverReachThem)
{
    ASSERT_TRUE(kDiagnosticsOn);
    const std::string password = "Zx7#Secret&9";
    sim::CameraConfig config;
    config.accounts = { { "someadmin", password } };
    startCamera(config);
    testing::internal::CaptureStderr();
    auto* c = makeControl(0);
    bool loggedIn = login(c);
    std::string answer = callText(c, "GetCGIResult", { str("getDevInfo"), num(0) });
    EXPECT_EQ(call(c, "LoginSuc", {}), S_OK);
    EXPECT_EQ(call(c, "RegMy", { str(camera->Address().c_str()), num(camera->WebPort()), num(camera->Port()), str("someadmin"), str(password.c_str()),
                                   str("cam"), num(1), num(1), num(1) }),
        S_OK);
    bool reported = ui::RunUntil([&] { return hasEvent(220); }, 5000);
    std::string diagnostics = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(loggedIn);
    EXPECT_NE(answer.find("<result>0</result>"), std::string::npos);
    EXPECT_TRUE(reported) << "the port query never answered";
    ASSERT_NE(diagnostics.find("someadmin"), std::string::npos) << "the diagnostics were not captured:\n" << diagnostics;
    for (const char* form : { "Zx7#Secret&9", "Zx7%23Secret%269", "Secret" })
        EXPECT_EQ(diagnostics.find(form), std::string::npos) << form << " in:\n" << diagnostics;
}

}
