// Loaders of the two device list files: the local "DevInfo.xml" and the remote device file
// with its NVR list and POS units. They run on the UI thread: at start-up, and the remote
// loader again in compare mode when the file has been edited.
#pragma once

#include <string>

#include "config/DeviceConfig.h"

// A POS id becomes part of an event file's name, so it must be a name and never a path: a POS
// id that is empty after trimming blanks, or that holds '/', '\', a NUL or "..", is refused.
// The device (or the POS unit, or the Default) that carries it is skipped with an ERROR line
// that holds kRefusedPosIdText after the refused id in quotes.
constexpr const char* kRefusedPosIdText =
    "refused: a POS id must be a name (not empty, no '/', '\\', NUL or '..')";
bool IsUsablePosId(const std::string& posId);

// Reads "DevInfo.xml" into the tables. False when the file cannot be parsed or has no
// "DeviceList"; the tables may then hold what was read before the failure.
bool LoadDevInfo(const std::string& path, DeviceTables& tables);

// firstLoad nonzero: reads the remote device file into the tables. firstLoad zero: compares
// the file with the tables and returns false when anything the running system uses has
// changed (a new NVR, a changed port, id, user name or password, or a POS unit on channel 1
// mapping to another POS id). Compare mode never changes the tables.
bool LoadRemoteDevCfg(const std::string& path, int firstLoad, DeviceTables& tables);
