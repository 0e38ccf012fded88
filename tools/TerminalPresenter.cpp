#include "tools/TerminalPresenter.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "tools/CommandLine.h"

namespace vorn {

MessageAnswer CTerminalPresenter::Present(const MessageRequest& request) {
  if (request.buttons != MessageButtons::kYesNo) {
    std::fprintf(m_out, "vorn3ctl: %s\n", request.text.c_str());
    return MessageAnswer::kOk;
  }
  std::fprintf(m_out, "%s [y/N] ", request.text.c_str());
  std::fflush(m_out);
  std::string line;
  for (int c = std::fgetc(m_in); c != EOF && c != '\n'; c = std::fgetc(m_in)) {
    line += static_cast<char>(std::tolower(c));
  }
  line.erase(0, line.find_first_not_of(" \t\r"));
  line.erase(line.find_last_not_of(" \t\r") + 1);
  return (line == "y" || line == "yes") ? MessageAnswer::kYes : MessageAnswer::kNo;
}

CTerminalStatusLine::CTerminalStatusLine(std::FILE* out)
    : m_out(out), m_interactive(::isatty(::fileno(out)) == 1) {}

CTerminalStatusLine::~CTerminalStatusLine() {
  if (m_drawn) {
    std::fprintf(m_out, "\r\033[K");
    std::fflush(m_out);
  }
}

void CTerminalStatusLine::SetText(const std::string& text) {
  m_text = text;
  Redraw();
}

void CTerminalStatusLine::SetRange(int lower, int upper) {
  m_lower = lower;
  m_upper = upper;
  Redraw();
}

void CTerminalStatusLine::SetPos(int position) {
  m_position = position;
  Redraw();
}

std::string CTerminalStatusLine::Render() const {
  std::string line = PrintableText(m_text);
  if (m_upper > m_lower) {
    constexpr int kWidth = 30;
    int span = m_upper - m_lower;
    int done = std::clamp(m_position - m_lower, 0, span);
    int filled = static_cast<int>(static_cast<long long>(done) * kWidth / span);
    line += " [" + std::string(static_cast<std::size_t>(filled), '#') +
            std::string(static_cast<std::size_t>(kWidth - filled), ' ') + "] " +
            std::to_string(static_cast<long long>(done) * 100 / span) + "%";
  }
  return line;
}

void CTerminalStatusLine::Redraw() {
  if (!m_interactive) return;
  std::fprintf(m_out, "\r\033[K%s", Render().c_str());
  std::fflush(m_out);
  m_drawn = true;
}

void RequireConfirmation(bool yes) {
  if (!yes && ::isatty(STDIN_FILENO) != 1) {
    throw CUsageError("this command changes the disk: confirm with --yes when not run from a terminal");
  }
}

bool ConfirmOnTerminal(const std::string& question, bool yes) {
  RequireConfirmation(yes);
  return yes || AskYesNo(question);
}

namespace {

// The length of the well-formed UTF-8 sequence at `at` (1 to 4), or 0 when the
// bytes there are not one: a stray continuation byte, an overlong form, a
// surrogate, a code point past U+10FFFF or a sequence cut short.
std::size_t Utf8SequenceAt(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
  const unsigned lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

std::string PrintableText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8SequenceAt(text, i);
    const auto u = static_cast<unsigned char>(text[i]);
    if (length == 0) {
      // Names from USB strings and sysfs are bytes, not text: a terminal would
      // show garbage or swallow what follows. U+FFFD, as the JSON output writes.
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    // C1 controls written as UTF-8 (C2 80..C2 9F) act on a terminal as well.
    const bool c1 = length == 2 && u == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
    if (u < 0x20 || u == 0x7F || c1) {
      out += '?';
    } else {
      out.append(text, i, length);
    }
    i += length;
  }
  return out;
}

std::string PadRight(const std::string& text, std::size_t width) {
  std::size_t characters = 0;
  for (char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return characters >= width ? text : text + std::string(width - characters, ' ');
}

std::unique_ptr<CTerminalStatusLine> OptionalStatusLine(bool quiet, const std::string& text) {
  if (quiet) return nullptr;
  auto line = std::make_unique<CTerminalStatusLine>(stderr);
  line->SetText(text);
  return line;
}

}  // namespace vorn
