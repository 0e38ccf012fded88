#include "tools/CommandLine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

TEST(CommandLineTest, RejectsWhatTheCommandDoesNotTake) {
  EXPECT_THROW(CCommandLine({"--force"}, kOptions), CUsageError);
  EXPECT_THROW(CCommandLine({"--size"}, kOptions), CUsageError);
  EXPECT_THROW(CCommandLine({"--yes=no"}, kOptions), CUsageError);
}

TEST(JsonTextTest, EscapesQuotesControlsAndEightBitText) {
  EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(JsonString(std::string("\n\x01\xE9", 3)), "\"\\u000a\\u0001\\u00e9\"");
}

TEST(TerminalTest, ControlCharactersOfDiskTextsAreNotSentToTheTerminal) {
  EXPECT_EQ(PrintableText("Show\x1b[2J\x7f"), "Show?[2J?");
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
