// vestrel-facesim as a program: its arguments, script lines, people file, outages and ending.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "tests/support/FaceSimProcess.h"
#include "tests/support/WsProbe.h"

namespace simtest {
namespace {

using ::testing::HasSubstr;

constexpr const char* kCredentials = R"({"username":"admin","password":"admin"})";

TEST(FaceSimCommandLineTest, BadArgumentsEndWithStatusTwoAndSayWhy) {
  TempDir dir;
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "--mode"},
      {{"--mode", "frs"}, "--listen"},
      {{"--mode", "frsv3", "--listen", "127.0.0.1:0"}, "--mode"},
      {{"--mode", "fcs", "--listen", "localhost:0"}, "--listen"},
      {{"--mode", "fcs", "--listen", "127.0.0.1:65536"}, "--listen"},
      {{"--mode", "fcs", "--listen", "127.0.0.1:0", "--user"}, "needs a value"},
      {{"--mode", "fcs", "--listen", "127.0.0.1:0", "--colour", "red"}, "unknown option"},
      {{"--mode", "fcs", "--listen", "127.0.0.1:0", "stray"}, "unexpected argument"},
      {{"--mode", "fcs", "--listen", "127.0.0.1:0", "--people", dir / "none.txt"}, "none.txt"},
      {{"--mode", "fcs", "--listen", "127.0.0.1:0", "--script", dir / "none.txt"}, "none.txt"},
      {{"--mode", "fcs", "--listen", "127.0.0.1:0", "--tls", dir / "c.pem"}, "two values"},
      {{"--mode", "fcs", "--listen", "127.0.0.1:0", "--tls", dir / "c.pem", dir / "k.pem"},
       "c.pem"},
      {{"--mode", "fcs", "--listen", "127.0.0.1:0", "--concurrency", "0"}, "--concurrency"},
  };
  for (const auto& [args, says] : cases) {
    FaceSimProcess sim("", args, "127.0.0.1", false);
    EXPECT_EQ(2, sim.WaitForExit()) << args.size();
    EXPECT_THAT(sim.Errors(), HasSubstr("vestrel-facesim: "));
    EXPECT_THAT(sim.Errors(), HasSubstr(says));
    EXPECT_EQ("", sim.Output());
  }
  FaceSimProcess help("", {"--help"}, "127.0.0.1", false);
  EXPECT_EQ(0, help.WaitForExit());
  EXPECT_THAT(help.Output(), HasSubstr("Usage: vestrel-facesim --mode frs|fcs|frsv2"));
}

TEST(FaceSimCommandLineTest, BadScriptAndPeopleLinesAreReportedWithTheirPlaceAndSkipped) {
  TempDir dir;
  const std::string script = dir.Write("script.txt",
                                       "# faults for the demo\n"
                                       "next /users/login garbage\n"
                                       "launch rockets\n"
                                       "push-delay 0.1\n");
  const std::string people =
      WritePeople(dir, {"face-small.jpg person=a name=A", "face-small.jpg name=nobody"});
  FaceSimProcess sim("frsv2", {"--script", script, "--people", people});
  ASSERT_TRUE(sim.Started()) << sim.Errors();
  EXPECT_TRUE(sim.WaitForLine("set push-delay 0.1"));
  EXPECT_TRUE(
      sim.WaitForError(script + ":2: next: /users/login is not an endpoint of this service"));
  EXPECT_TRUE(sim.WaitForError(script + ":3: unknown command 'launch' (line skipped)"));
  EXPECT_TRUE(sim.WaitForError(people + ":2: person=ID and name=TEXT are required"));
  sim.Command("next /user/web/login status=abc");
  EXPECT_TRUE(sim.WaitForError("stdin:1: next: status=N takes a status from 200 to 599"));
  // The commands after a bad line still run.
  ASSERT_TRUE(sim.Arm("next /user/web/login status=418", "armed next /user/web/login status=418"));
  EXPECT_EQ(418, PostJson(sim.Ip(), sim.Port(), "/user/web/login", kCredentials).status);
}

TEST(FaceSimCommandLineTest, QuitAndSigtermEndWithStatusZero) {
  FaceSimProcess quitting("fcs", {});
  ASSERT_TRUE(quitting.Started());
  quitting.CloseInput();  // the end of input alone does not stop it
  EXPECT_EQ(200, PostJson(quitting.Ip(), quitting.Port(), "/api/fcs/person/info",
                          R"({"access_key":"demo-key","acc_id":"demo","person_id":"x"})")
                     .status);
  EXPECT_EQ(0, quitting.Terminate());

  TempDir dir;
  FaceSimProcess scripted("fcs", {"--script", dir.Write("quit.txt", "wait 0.1\nquit\n")});
  EXPECT_EQ(0, scripted.WaitForExit());
}

TEST(FaceSimCommandLineTest, DownDropsEveryConnectionAndListensAgainOnTheSamePort) {
  FaceSimProcess sim("frs", {});
  ASSERT_TRUE(sim.Started()) << sim.Errors();
  WsProbe stream;
  ASSERT_TRUE(stream.Connect(sim.Ip(), sim.Port(), "/fcsnonreconizedresult"));
  ASSERT_TRUE(sim.Arm("next /users/login slow=30", "armed next /users/login slow=30"));
  auto pending = std::async(std::launch::async, [&] {
    return PostJson(sim.Ip(), sim.Port(), "/users/login", kCredentials);
  });
  ASSERT_TRUE(sim.WaitForLine("request /users/login held=30"));

  sim.Command("down 2");
  ASSERT_TRUE(sim.WaitForLine("down"));
  EXPECT_TRUE(stream.WaitEnded(std::chrono::seconds(5)));
  EXPECT_TRUE(sim.WaitForLine("ws closed /fcsnonreconizedresult"));
  const HttpReply dropped = pending.get();
  EXPECT_EQ(0, dropped.status);
  EXPECT_EQ(0, PostJson(sim.Ip(), sim.Port(), "/users/login", kCredentials).status);

  ASSERT_TRUE(sim.WaitForLine("up"));
  EXPECT_EQ(200, PostJson(sim.Ip(), sim.Port(), "/users/login", kCredentials).status);
  WsProbe again;
  EXPECT_TRUE(again.Connect(sim.Ip(), sim.Port(), "/fcsnonreconizedresult"));
}

}  // namespace
}  // namespace simtest
