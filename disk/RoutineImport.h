#pragma once
// Copying one section of a routine file to consecutive disk sectors.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "audio/RoutineFileHeader.h"
#include "device/SectorDevice.h"
#include "platform/Cancel.h"
#include "platform/ProgressBar.h"
#include "platform/UniqueFile.h"

namespace vorn {

// Writes `byteCount` bytes read from `file` to the sectors from `firstSector`
// on, in 128-sector pieces, as many of them per transfer as the device's
// TransferSectors holds; the tail of the last sector is filled from the start
// of the 512-byte `pattern`, or with zeros when there is none. The progress bar,
// if any, is set to the number of sectors written before each piece. False when
// the file ends (or fails) before `byteCount` bytes were read; the sectors of the
// pieces before that are written already. A set cancel flag ends the copy
// before the next transfer with CCancelled.
bool WriteFromFile(CSectorDevice& device, std::FILE* file, std::uint32_t firstSector,
                   std::uint32_t byteCount, const std::uint8_t* pattern, CProgressBar* progress,
                   const CCancelFlag* cancel = nullptr);

// A routine file read and its audio converted, ready to be written to a disk;
// nothing of it is on any disk yet.
struct PreparedRoutine {
  std::string path;
  CUniqueFile routineFile;  // stands where the MP3 bytes (when passed through) begin
  RoutineFileHeader header;
  std::uint32_t mp3Size = 0;
  CUniqueFile convertedStream;  // the converted MP3; none when passed through or empty

  std::FILE* Mp3Stream() const { return convertedStream ? convertedStream.get() : routineFile.get(); }
};

struct ConversionContext;

// Reads the routine file's header and converts its audio (touches no disk).
// Throws as AddRoutine does for these steps. With `room` (see
// CVornDisk::RoomForNextRoutine), a routine whose audio, by the length its
// input states, cannot fit is refused before the audio is decoded.
PreparedRoutine PrepareRoutine(const std::string& path, const ConversionContext& context,
                               const std::function<bool(std::uint64_t sectors)>& room = {});

}  // namespace vorn
