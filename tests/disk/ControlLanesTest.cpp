// Control data decoded into lanes, per protocol: the values a lane holds at
// given frames, the frame size the decoder settled on, and what it notes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>

#include "disk/ControlLanes.h"

namespace vorn {
namespace {

struct LaneCase {
  const char* name;
  int protocol;
  std::uint8_t frameRate;
  std::vector<std::uint8_t> data;  // padded to whole sectors with zeros, as the import pads
  double audioSeconds;
  std::uint64_t frames;
  std::uint64_t frameBytes;
  // lane name, frame, value it shows there
  std::vector<std::tuple<const char*, std::uint64_t, int>> values;
  const char* note;  // in a note or the frame note
};

std::vector<std::uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

ControlPicture Decode(const LaneCase& c, std::size_t piece) {
  std::vector<std::uint8_t> data = c.data;
  data.resize((data.size() + 511) / 512 * 512, 0);
  const std::vector<std::uint8_t> head(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(data.size(), 65536)));
  CControlDecoder decoder({ProtocolCode(c.protocol), c.frameRate, data.size(), c.audioSeconds}, head);
  for (std::size_t at = 0; at < data.size(); at += piece) decoder.Feed(data.data() + at, std::min(piece, data.size() - at));
  return decoder.Finish();
}

TEST(ControlLanesTest, EachProtocolDecodesToItsLanesWithItsFrameSizeStated) {
  std::vector<std::uint8_t> ssc;
  for (int f = 0; f < 100; ++f) {
    for (std::uint8_t servo : {4, 9, 2}) ssc.insert(ssc.end(), {255, servo, static_cast<std::uint8_t>(servo == 9 ? f : 50)});
  }
  std::vector<std::uint8_t> sscSwapped = ssc;
  std::swap(sscSwapped[3 * 30 + 1], sscSwapped[3 * 31 + 1]);  // one frame sends servo 2 before 9
  std::string sv;
  for (int f = 0; f < 50; ++f) sv += f == 0 ? "SV1 M10 SV2M200\r\n" : "sv1 I2 SV2 D1\r";
  std::vector<std::uint8_t> dmx;
  for (int f = 0; f < 200; ++f) {
    for (int slot = 0; slot < 32; ++slot) dmx.push_back(slot == 5 ? static_cast<std::uint8_t>(f) : slot == 31 ? 0 : 7);
  }
  // DMX whose last frames are all zero before the last sector: data, not padding.
  std::vector<std::uint8_t> dmxDark = dmx;
  dmxDark.insert(dmxDark.end(), 32 * 40, 0);
  dmxDark.insert(dmxDark.end(), {1, 2, 3});  // and a last frame whose end is the padding's zeros

  const std::vector<LaneCase> cases = {
      {"MiniSSC", 0, 20, ssc, 2.0, 100, 9, {{"servo 9", 0, 0}, {"servo 9", 99, 99}, {"servo 2", 50, 50}},
       "a frame is 3 commands (9 bytes): servo 4 comes again after 3"},
      {"MiniSSC out of order", 0, 20, sscSwapped, 2.0, 100, 9, {{"servo 9", 99, 99}},
       "2 commands do not follow the first frame's servo order"},
      {"SV203", 1, 20, Text(sv), 1.0, 50, 0, {{"servo 1", 0, 10}, {"servo 1", 49, 108}, {"servo 2", 49, 151}},
       "a frame is one line of commands"},
      {"SV203 with a foreign command", 1, 20, Text("SV1 M5 X3\rSV1 M6\r"), 0.04, 2, 0, {{"servo 1", 1, 6}},
       "command 'X' in the line ending at byte 9 moves no servo"},
      {"DMX", 5, 25, dmx, 5.0, 200, 32, {{"slot 6", 0, 0}, {"slot 6", 150, 150}},
       "a frame is taken to be 32 bytes, the period at which the data repeats best"},
      {"DMX dark tail", 5, 25, dmxDark, 6.0, 241, 32, {{"slot 6", 210, 0}, {"slot 6", 199, 199}},
       "1 slot keep one value throughout and are not drawn"},
  };
  for (const LaneCase& c : cases) {
    for (std::size_t piece : {std::size_t{7}, std::size_t{65536}}) {  // how it is cut into pieces changes nothing
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
      const ControlPicture picture = Decode(c, piece);
      EXPECT_EQ(picture.frames, c.frames);
      EXPECT_EQ(picture.frameBytes, c.frameBytes);
      std::vector<std::string> notes = picture.notes;
      notes.push_back(picture.frameNote);
      EXPECT_TRUE(std::any_of(notes.begin(), notes.end(), [&](const std::string& n) { return n.find(c.note) != std::string::npos; }))
          << ::testing::PrintToString(notes);
      for (const auto& [name, frame, value] : c.values) {
        const auto lane = std::find_if(picture.lanes.begin(), picture.lanes.end(), [&](const ControlLane& l) { return l.name == name; });
        ASSERT_NE(lane, picture.lanes.end()) << name;
        const std::size_t column = frame / picture.framesPerColumn;
        EXPECT_EQ(lane->low[column], value) << name << " at frame " << frame;
        EXPECT_EQ(lane->high[column], value) << name << " at frame " << frame;
      }
    }
  }
}

// A run far longer than foreseen merges columns instead of growing them.
TEST(ControlLanesTest, DataLongerThanItsRegionForetoldStaysInItsColumns) {
  std::vector<std::uint8_t> data;
  for (int f = 0; f < 40000; ++f) data.insert(data.end(), {255, 0, static_cast<std::uint8_t>(f < 20000 ? 10 : 200)});
  CControlDecoder decoder({ProtocolCode(0), 20, 3000, 800.0}, {data.begin(), data.begin() + 3000});
  decoder.Feed(data.data(), data.size());
  const ControlPicture picture = decoder.Finish();
  EXPECT_EQ(picture.frames, 40000u);
  EXPECT_LE(picture.columns, kMaxLaneColumns);
  ASSERT_EQ(picture.lanes.size(), 1u);
  const ControlLane& lane = picture.lanes[0];
  EXPECT_EQ(lane.high[10000 / picture.framesPerColumn], 10);
  EXPECT_EQ(lane.low[30000 / picture.framesPerColumn], 200);
}

}  // namespace
}  // namespace vorn
