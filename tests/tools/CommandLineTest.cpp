#include "tools/CommandLine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "disk/DiskText.h"
#include "tools/JsonText.h"
#include "tools/TerminalPresenter.h"

namespace vorn {
namespace {

const std::vector<OptionSpec> kOptions = {{"--size", "SIZE", ""}, {"--yes", nullptr, ""}};

TEST(CommandLineTest, SeparatesOptionsFromWords) {
  CCommandLine a({"disk.img", "--size", "64M", "--yes"}, kOptions);
  EXPECT_EQ(a.Positional(), std::vector<std::string>{"disk.img"});
  EXPECT_EQ(a.Value("--size"), "64M");
  EXPECT_TRUE(a.Has("--yes"));

  CCommandLine b({"--size=1G", "--", "--yes"}, kOptions);
  EXPECT_EQ(b.Value("--size"), "1G");
  EXPECT_FALSE(b.Has("--yes"));
  EXPECT_EQ(b.Positional(), std::vector<std::string>{"--yes"});
  EXPECT_EQ(b.Value("--missing", "dflt"), "dflt");
}

TEST(CommandLineTest, WordsThatLookOddStillLandWhereTheyBelong) {
  CCommandLine a({"-", "-5", "--size", "1M", "--size=2M", "x"}, kOptions);
  EXPECT_EQ(a.Positional(), (std::vector<std::string>{"-", "-5", "x"}));  // stdin, a number
  EXPECT_EQ(a.Value("--size"), "2M");                                     // the last one wins
  EXPECT_EQ(CCommandLine({"--size=-1"}, kOptions).Value("--size"), "-1");
}

TEST(CommandLineTest, AnOptionMayHaveAShortNameBesideItsLongOne) {
  const std::vector<OptionSpec> options = {{"-o,--output", "FILE", ""}, {"--yes", nullptr, ""}};
  const CCommandLine a({"disk.img", "-o", "a.png", "--yes"}, options);
  EXPECT_EQ(a.Value("--output"), "a.png");
  EXPECT_EQ(a.Positional(), std::vector<std::string>{"disk.img"});
  EXPECT_EQ(CCommandLine({"--output=b.svg", "-o", "c.png"}, options).Value("--output"), "c.png");
  EXPECT_THROW(CCommandLine({"disk.img", "-x", "a.png"}, options), CUsageError);
  EXPECT_FALSE(CCommandLine({"disk.img"}, options).Has("--output"));
}

TEST(CommandLineTest, RejectsWhatTheCommandDoesNotTakeSayingWhat) {
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--force"}, "unrecognized option '--force'"},
           {{"--sise", "1M"}, "unrecognized option '--sise'; did you mean '--size'?"},
           {{"-y"}, "unrecognized option '-y'"},
           {{"--size"}, "option '--size' needs a value"},
           {{"--yes=no"}, "option '--yes' takes no value"}}) {
    try {
      CCommandLine line(args, kOptions);
      ADD_FAILURE() << "accepted " << args[0];
    } catch (const CUsageError& error) {
      EXPECT_EQ(error.what(), message);
    }
  }
}

TEST(CommandLineTest, NearestWordSuggestsOnlyPlausibleTypos) {
  const std::vector<std::string> commands{"list", "format", "remove-last", "restore", "devices"};
  for (const auto& [typo, nearest] : std::vector<std::pair<std::string, std::string>>{
           {"lsit", "list"}, {"lst", "list"}, {"fromat", "format"}, {"remove-lats", "remove-last"},
           {"restor", "restore"}, {"device", "devices"}, {"frobnicate", ""}, {"x", ""}, {"", ""}}) {
    EXPECT_EQ(NearestWord(typo, commands), nearest) << typo;
  }
}

TEST(JsonTextTest, EscapesQuotesAndControlsAndWritesUtf8) {
  EXPECT_EQ(JsonText("a\"b\\c"), "\"a\\\"b\\\\c\"\n");
  // Disk text converted from Windows-1252; system text is UTF-8, a stray byte replaced.
  EXPECT_EQ(JsonText(DiskTextToUtf8(std::string("\n\x01\xE9\x80\x81", 5))),
            "\"\\n\\u0001\xC3\xA9\xE2\x82\xAC\xC2\x81\"\n");
  EXPECT_EQ(JsonText("caf\xC3\xA9 \xE9"), "\"caf\xC3\xA9 \xEF\xBF\xBD\"\n");
  EXPECT_EQ(JsonText({{"b", 1}, {"a", true}}), "{\n  \"b\": 1,\n  \"a\": true\n}\n");  // keys as added
}

TEST(TerminalTest, ControlCharactersOfDiskTextsAreNotSentToTheTerminal) {
  EXPECT_EQ(PrintableText("Show\x1b[2J\x7f"), "Show?[2J?");
  EXPECT_EQ(PrintableText("\xC2\x9B" "2J \xC2\xA0\xC3\xA9"), "?2J \xC2\xA0\xC3\xA9");  // C1 CSI, then text
  // Bytes that are not UTF-8 (USB strings, sysfs names) become U+FFFD, one per byte.
  const std::string bad = "\xEF\xBF\xBD";
  // A stray byte, a continuation byte, a cut-short sequence (at the end, by ASCII), overlong forms, a
  // surrogate, past U+10FFFF; then valid four- and three-byte characters.
  for (const auto& [raw, shown] : std::vector<std::pair<std::string, std::string>>{
           {"\xFF" "a", bad + "a"}, {"a\x80", "a" + bad}, {"\xC3", bad}, {"\xC3" "A", bad + "A"},
           {"\xC0\xAF", bad + bad}, {"\xE0\x80\xAF", bad + bad + bad}, {"\xED\xA0\x80", bad + bad + bad},
           {"\xF4\x90\x80\x80", bad + bad + bad + bad}, {"\xF0\x9F\x8E\xB5\xE2\x82\xAC", "\xF0\x9F\x8E\xB5\xE2\x82\xAC"}}) {
    EXPECT_EQ(PrintableText(raw), shown) << testing::PrintToString(raw);
  }
  EXPECT_EQ(PadRight("\xC3\xA9t\xC3\xA9", 5), "\xC3\xA9t\xC3\xA9  ");
  EXPECT_EQ(PadRight("longer", 3), "longer");
}

TEST(TerminalTest, StatusLineShowsTextAndProgress) {
  CTerminalStatusLine line(stderr);
  line.SetText("Writing MP3");
  EXPECT_EQ(line.Render(), "Writing MP3");
  line.SetRange(0, 4);
  line.SetStep(1);
  line.StepIt();
  line.StepIt();
  EXPECT_EQ(line.Render(), "Writing MP3 [###############               ] 50%");
  line.SetPos(99);
  EXPECT_EQ(line.Render().substr(line.Render().size() - 4), "100%");
}

TEST(TerminalTest, QuestionsAreAnsweredOnTheInputLine) {
  auto ask = [](const char* input) {
    std::FILE* in = ::fmemopen(const_cast<char*>(input), std::strlen(input), "r");
    char* outText = nullptr;
    std::size_t outSize = 0;
    std::FILE* out = ::open_memstream(&outText, &outSize);
    CTerminalPresenter presenter(in, out);
    MessageAnswer answer = presenter.Present({"Remove?", "Confirm", MessageIcon::kWarning, MessageButtons::kYesNo});
    std::fclose(in);
    std::fclose(out);
    std::string shown(outText, outSize);
    std::free(outText);
    EXPECT_EQ(shown, "Remove? [y/N] ");
    return answer;
  };
  EXPECT_EQ(ask("y\n"), MessageAnswer::kYes);
  EXPECT_EQ(ask(" YES \n"), MessageAnswer::kYes);
  EXPECT_EQ(ask("\n"), MessageAnswer::kNo);
  EXPECT_EQ(ask("yup\n"), MessageAnswer::kNo);
  EXPECT_EQ(ask(""), MessageAnswer::kNo);
}

}  // namespace
}  // namespace vorn
