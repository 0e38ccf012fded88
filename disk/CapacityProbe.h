#pragma once
// Does the card hold the sectors it claims? A cheap fake card reports a large
// size but keeps only part of it: writes past its real end land on the
// sectors below (it wraps around) or vanish, and a show written there is lost
// without a word. The probe writes a pattern unique to this run and to each
// sector into free sectors spread over the whole claimed size, writes them
// all before reading any back (so a wrap shows as one probe sector reading
// another's pattern), and then puts back what was there.
//
// Only free space is ever written: the sectors behind the routine table, or
// every sector but the header of a disk that is not formatted. A probe cut off
// at any write (killed, card pulled) has changed free sectors only. Before any
// write, the powers of two and the half of the claimed size are read: a card
// that wraps there reads the header again, and is caught without a write
// that would land on a routine. All originals are read before the first
// write, so even on a card that wraps elsewhere the restore puts back what a
// probe write overlaid below.

#include <cstdint>
#include <vector>

#include "device/SectorDevice.h"
#include "disk/DiskCheck.h"
#include "platform/Cancel.h"

namespace vorn {

// Sectors spread evenly over the free space, besides the wrap points and the last sector.
inline constexpr std::uint32_t kCapacityProbeSpread = 64;

// The sectors a probe of a disk of `sectorCount` sectors whose free space
// starts at `firstFree` writes, ascending.
std::vector<std::uint32_t> CapacityProbeSectors(std::uint32_t firstFree, std::uint32_t sectorCount);

// The 512 bytes written to `sector` by the run `runId`.
std::vector<std::uint8_t> CapacityPattern(std::uint64_t runId, std::uint32_t sector);

// Probes the open device; one finding for the disk as a whole: green when
// every probe sector kept its pattern, red when one did not (naming it, and
// the sector it wraps to), amber when it could not probe (size unknown, table
// malformed, no free space). `runId` 0 takes a random one. A set cancel flag
// ends it (CCancelled) after putting back what it wrote.
CheckFinding ProbeCapacity(CSectorDevice& device, const CCancelFlag* cancel = nullptr, std::uint64_t runId = 0);

}  // namespace vorn
