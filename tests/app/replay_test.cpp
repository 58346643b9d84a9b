// korvane --replay against the reference service's offline demo: the whole demo draft graded,
// pick by pick, by the real program and the real service.
#include "korvane_program.hpp"

#include "../server/service_process.hpp"
#include "base/files.hpp"
#include "service/api.hpp"
#include "vision/image_codec.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>

namespace {

// The demo user signed in with `token`.
void signIn(const KVFreshHome& home, const std::string& token) {
    KVWriteTestFile(home.korvane() + "/auth.json",
                    "{\"token\": \"" + token + "\", \"email\": \"demo@korvane.local\"}");
}

std::vector<std::string> serviceAt(const std::string& base) {
    return {"KORVANE_API_BASE=" + base, "KORVANE_SCRYFALL_BASE=" + base + "/scryfall"};
}

std::vector<std::string> pickLines(const std::string& out) {
    static const std::regex pick(R"(P[1-3]p\d+  .*)");
    std::vector<std::string> picks;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (std::regex_match(line, pick)) {
            picks.push_back(line);
        }
    }
    return picks;
}

class ReplayIntegration : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service.running());
        const KVProgramResult wrote = KVSRunServiceProgram({"--write-demo-log", log});
        ASSERT_EQ(wrote.status, 0) << wrote.output;
    }
    int64_t credits(const std::string& token) {
        KVAPI api(service.base(), token);
        KVError error;
        const auto me = api.me(&error);
        EXPECT_TRUE(me) << error.message;
        return me ? KVJsonInt64(KVJsonAt(*me, "credits"), -1) : -1;
    }
    std::string demoToken() {
        KVAPI api(service.base(), "");
        KVError error;
        const auto answer = api.login("demo@korvane.local", "korvane-demo", &error);
        EXPECT_TRUE(answer) << error.message;
        return answer ? KVJsonString(KVJsonAt(*answer, "token"), "") : "";
    }

    KVTempDir work;
    std::string database = work.file("korvane.db");
    std::string log = work.file("Player.log");
    KVSServiceProcess service{database, {"--demo", "--offline"}};
};

TEST_F(ReplayIntegration, TheDemoDraftGivesEveryPickTheSameTwiceForOneCredit) {
    KVFreshHome home;
    const std::string token = demoToken();
    signIn(home, token);
    // Telemetry on in the settings: a replay still sends none.
    KVWriteTestFile(home.korvane() + "/config.json", "{\"telemetry_enabled\": true}");
    const int64_t before = credits(token);
    const std::string frames = home.dir.file("frames");

    const KVProgramRun first =
        home.run({"--replay", log, "--frames", frames}, serviceAt(service.base()));
    ASSERT_EQ(first.status, 0) << first.err;
    const std::vector<std::string> picks = pickLines(first.out);
    ASSERT_EQ(picks.size(), 42u) << first.out;
    static const std::regex graded(R"((P[1-3]p\d+)  TAKE \S.* \((A|B|C|D|F)[+-]?\)  next \S.*)");
    static const std::regex last(R"((P[1-3]p14)  TAKE \S.* \(only card\))");
    for (size_t i = 0; i < picks.size(); ++i) {
        const std::string name =
            "P" + std::to_string(i / 14 + 1) + "p" + std::to_string(i % 14 + 1);
        std::smatch match;
        const bool ok = std::regex_match(picks[i], match, i % 14 == 13 ? last : graded);
        EXPECT_TRUE(ok && match[1] == name) << picks[i];
    }
    EXPECT_NE(first.out.find("\nDECK  "), std::string::npos) << first.out;
    EXPECT_NE(first.out.find(" 40 cards"), std::string::npos) << first.out;
    for (size_t i = 0; i < 42; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/P%zup%02zu.png", i / 14 + 1, i % 14 + 1);
        const auto bytes = KVReadFile(frames + name);
        const auto image = bytes ? KVImageFromData(*bytes) : std::nullopt;
        EXPECT_TRUE(image && image->width > 100 && image->height > 100) << name;
    }

    const KVProgramRun second = home.run({"--replay", log}, serviceAt(service.base()));
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.out, first.out);
    // The same draft is charged once, however often it is graded.
    EXPECT_EQ(credits(token), before - 1);
    EXPECT_EQ(KVSQueryNumber(database, "SELECT COUNT(*) FROM telemetry"), 0);
}

TEST_F(ReplayIntegration, ASignInTheServiceRefusesEndsTheReplay) {
    KVFreshHome home;
    signIn(home, "kor_not_a_token_the_service_gave");
    const KVProgramRun run = home.run({"--replay", log}, serviceAt(service.base()));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("korvane: signed out -- the service refused the stored sign-in", 0), 0u)
        << run.err;
}

TEST_F(ReplayIntegration, WithoutTheServiceEveryPickSaysWhyItHasNoGrades) {
    KVFreshHome home;
    signIn(home, demoToken());
    // A port nothing listens on: the one the service had before it stopped.
    const std::string gone = service.base();
    service.stop();
    const KVProgramRun run = home.run({"--replay", log}, serviceAt(gone));
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> picks = pickLines(run.out);
    ASSERT_EQ(picks.size(), 42u) << run.out;
    static const std::regex ungraded(R"(P[1-3]p\d+  (NO GRADES: \S.*|TAKE \S.* \(only card\)))");
    for (const std::string& line : picks) {
        EXPECT_TRUE(std::regex_match(line, ungraded)) << line;
    }
}

} // namespace
