#pragma once
// The start-up gate's version probe. The program refuses to run below
// version 9.0 of the platform's media layer. On Linux that layer is FFmpeg:
// the probe reports 9.0 exactly when the FFmpeg libraries loaded at run time
// can demux and decode both WAV (16-bit PCM) and MP3, the two inputs every
// routine conversion needs; otherwise it reports nothing (0 and "").
//
// Test hook: when the environment variable VORN_TEST_FORCE_NO_DECODER is set
// to a non-empty value, the probe reports the decoders as missing. Only the
// probe reads it, so a test can watch the start-up refusal on a machine that
// has the decoders.

#include <cstddef>
#include <cstdint>

namespace vorn {

// The lowest packed version start-up accepts (9.0).
inline constexpr std::uint32_t kMinimumDirectXVersion = 0x00090000;

inline constexpr const char* kForceNoDecoderEnv = "VORN_TEST_FORCE_NO_DECODER";

// major * 65536 + minor * 256 + n, with n = 1 for 'a' (or 'A'), 2 for 'b', ...
// and 0 for a space or any other character that is not a letter.
std::uint32_t PackDirectXVersion(std::uint32_t major, std::uint32_t minor, char letter);

// "%u.%u" when the letter is a space, else "%u.%u%c" with the letter
// lower-cased. A text that does not fit is cut; the buffer's last character is
// always the terminating zero. Nothing is written when textSize is 0.
void FormatDirectXVersion(std::uint32_t major, std::uint32_t minor, char letter, char* text,
                          std::size_t textSize);

// True when the decoding back end handles WAV (PCM s16le) and MP3.
bool DecoderBackEndAvailable();

// Sets *packedVersion (if given) to 0 and text (if given, textSize > 0) to ""
// on entry. When the decoders are available fills in 0x00090000 and "9.0" and
// returns true; otherwise leaves 0 and "" and returns false.
bool ProbeDirectXVersion(std::uint32_t* packedVersion, char* text, std::size_t textSize);

}  // namespace vorn
