// The on-disk form of an accepted face snapshot in the spool: a fixed header (magic, version,
// payload length, CRC-32 of the payload) and the snapshot's fields in little-endian order. Only
// what the intake fills is kept; the answer of the face service is not, so a resumed snapshot
// is asked again. Stateless functions; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "records/FaceSnapshot.h"

namespace spool_entry {

constexpr uint16_t kVersion = 1;
// Far above an entry's real size (a thumbnail or a small picture in base64, plus a few ids):
// a larger file is not read at all.
constexpr std::size_t kMaxEntryBytes = 8 * 1024 * 1024;

std::string Encode(const FaceSnapshot& snapshot);
// The size of Encode's result, without making it.
std::size_t EncodedSize(const FaceSnapshot& snapshot);
// Fills *snapshot from bytes; false with *why ("cut short", "bad checksum", "unknown version
// 7", ...) when the bytes are not an entry of this version.
bool Decode(const std::string& bytes, FaceSnapshot* snapshot, std::string* why);

}  // namespace spool_entry
