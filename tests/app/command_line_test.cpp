// The command line on its own: which arguments are options, which are files,
// what is printed and with which exit status.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <sstream>

#include "online/vendor.h"

namespace orvex {
namespace {

using Action = CommandLine::Action;
using Args = std::vector<std::string>;

TEST(CommandLineTest, FilesAreTheArgumentsThatAreNoOptions) {
  EXPECT_EQ(ParseCommandLine({}).action, Action::kRun);
  EXPECT_TRUE(ParseCommandLine({}).files.empty());

  const CommandLine one = ParseCommandLine({"lesson 1.mp3"});
  EXPECT_EQ(one.action, Action::kRun);
  EXPECT_EQ(one.files, Args{"lesson 1.mp3"});

  // Every file is kept in order; the drop makes them the lesson list.
  EXPECT_EQ(ParseCommandLine({"a.mp3", "b.txt", "c.mp3"}).files, (Args{"a.mp3", "b.txt", "c.mp3"}));
  // An empty argument is a (bad) file name, not an option.
  EXPECT_EQ(ParseCommandLine({""}).files, Args{""});
}

TEST(CommandLineTest, ADashNameIsAFileOnlyWithAPathOrAfterTheEndOfOptions) {
  EXPECT_EQ(ParseCommandLine({"-x.mp3"}).action, Action::kUsageError);
  EXPECT_EQ(ParseCommandLine({"-x.mp3"}).badOption, "-x.mp3");

  const CommandLine dotted = ParseCommandLine({"./-x.mp3"});
  EXPECT_EQ(dotted.action, Action::kRun);
  EXPECT_EQ(dotted.files, Args{"./-x.mp3"});

  const CommandLine ended = ParseCommandLine({"--", "-x.mp3", "--help", "--"});
  EXPECT_EQ(ended.action, Action::kRun);
  EXPECT_EQ(ended.files, (Args{"-x.mp3", "--help", "--"}));

  // "-" alone is an option too (there is no reading from standard input).
  EXPECT_EQ(ParseCommandLine({"-"}).action, Action::kUsageError);
}

TEST(CommandLineTest, OptionsCountWhereverTheyStandAndTheFirstDecides) {
  EXPECT_EQ(ParseCommandLine({"--help"}).action, Action::kHelp);
  EXPECT_EQ(ParseCommandLine({"-h"}).action, Action::kHelp);
  EXPECT_EQ(ParseCommandLine({"--version"}).action, Action::kVersion);
  EXPECT_EQ(ParseCommandLine({"-V"}).action, Action::kVersion);
  EXPECT_EQ(ParseCommandLine({"a.mp3", "--version"}).action, Action::kVersion);
  EXPECT_EQ(ParseCommandLine({"--version", "--help"}).action, Action::kVersion);
  EXPECT_EQ(ParseCommandLine({"--help", "--bogus"}).action, Action::kHelp);

  const CommandLine bad = ParseCommandLine({"a.mp3", "--bogus", "--help"});
  EXPECT_EQ(bad.action, Action::kUsageError);
  EXPECT_EQ(bad.badOption, "--bogus");
  // Near misses are not the options.
  for (const char* arg : {"--Help", "--help=1", "-help", "--versions", "-v", "---"}) {
    EXPECT_EQ(ParseCommandLine({arg}).action, Action::kUsageError) << arg;
  }
}

TEST(CommandLineTest, AnswersBeforeAnyWindow) {
  const auto answer = [](const Args& args, std::string* out, std::string* err) {
    std::ostringstream o, e;
    const std::optional<int> status = AnswerWithoutWindow(ParseCommandLine(args), o, e);
    *out = o.str();
    *err = e.str();
    return status;
  };
  std::string out, err;

  EXPECT_EQ(answer({"--version"}, &out, &err), 0);
  EXPECT_EQ(out, "OrvexPlayer " + std::string(kProgramVersion) + "\n");
  EXPECT_EQ(err, "");

  EXPECT_EQ(answer({"--help"}, &out, &err), 0);
  EXPECT_EQ(out.rfind("Usage: orvexplayer [OPTION]... [FILE]...\n", 0), 0u) << out;
  EXPECT_NE(out.find("--version"), std::string::npos);
  EXPECT_NE(out.find("./-x.mp3"), std::string::npos);
  EXPECT_EQ(err, "");

  EXPECT_EQ(answer({"--bogus"}, &out, &err), 2);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "orvexplayer: unknown option '--bogus'\n" + UsageText());

  EXPECT_EQ(answer({"a.mp3"}, &out, &err), std::nullopt);
  EXPECT_EQ(out + err, "");
  EXPECT_EQ(answer({}, &out, &err), std::nullopt);
  EXPECT_EQ(out + err, "");
  EXPECT_EQ(answer({"a.mp3", "b.mp3", "c.mp3"}, &out, &err), std::nullopt);
  EXPECT_EQ(out + err, "");
}

TEST(CommandLineTest, NoDisplayIsOneLineThatNamesTheSettingsAndTheCause) {
  EXPECT_EQ(NoDisplayText(":999", nullptr, nullptr, "could not connect to display :999"),
            "orvexplayer: no display could be opened (DISPLAY=:999): could not connect to "
            "display :999\n");
  // Nothing set says so; the plugin's text is cut to its first line, without
  // the blanks Qt leaves behind an empty display name.
  EXPECT_EQ(NoDisplayText(nullptr, nullptr, "xcb", "could not connect to display \nAvailable: xcb\n"),
            "orvexplayer: no display could be opened (QT_QPA_PLATFORM=xcb; neither DISPLAY nor "
            "WAYLAND_DISPLAY is set): could not connect to display\n");
  EXPECT_EQ(NoDisplayText("", "wayland-0", nullptr, ""),
            "orvexplayer: no display could be opened (DISPLAY=, WAYLAND_DISPLAY=wayland-0)\n");
}

TEST(CommandLineTest, PathsBecomeAbsoluteAsADropHandsThemOver) {
  const std::string home = "/home/learner";
  EXPECT_EQ(AbsolutePath("a.mp3", home), "/home/learner/a.mp3");
  EXPECT_EQ(AbsolutePath("./-x.mp3", home), "/home/learner/-x.mp3");
  EXPECT_EQ(AbsolutePath("-x.mp3", home), "/home/learner/-x.mp3");
  EXPECT_EQ(AbsolutePath("sub//./b c.mp3", home + "/"), "/home/learner/sub/b c.mp3");
  EXPECT_EQ(AbsolutePath("../shared/a.mp3", home), "/home/learner/../shared/a.mp3");
  EXPECT_EQ(AbsolutePath("/srv/audio/x.mp3", home), "/srv/audio/x.mp3");
  EXPECT_EQ(AbsolutePath("//srv/./audio//x.mp3", home), "/srv/audio/x.mp3");
  EXPECT_EQ(AbsolutePath(".", "/"), "/");
  // A name given as a folder stays one: it is no MP3 name.
  EXPECT_EQ(AbsolutePath("x.mp3/", home), "/home/learner/x.mp3/");
  EXPECT_EQ(AbsolutePath("x.mp3/.", home), "/home/learner/x.mp3/");
  EXPECT_EQ(AbsolutePath("", home), "");

  const std::string here = AbsolutePath("a.mp3");
  EXPECT_EQ(here.front(), '/');
  EXPECT_EQ(here.substr(here.size() - 6), "/a.mp3");
}

}  // namespace
}  // namespace orvex
