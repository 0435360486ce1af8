// The file operations that the pipeline needs and the standard library cannot express:
// durable atomic replacement of a file, and writes and reads that report the system's error
// code. Stateless; any thread.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace platform {

// The longest path the platform accepts, in bytes, terminator excluded.
std::size_t MaxPathLength();

bool FolderExists(const std::string& path);
bool FileExists(const std::string& path);  // a regular file
// Creates one folder; true when it exists afterwards.
bool MakeFolder(const std::string& path);

// Writes the bytes to a temporary file in the folder of finalPath, flushes it to disk and
// renames it over finalPath, so a reader of the folder never sees a partial file. The
// temporary name starts with '.' and ends in ".tmp". On failure the temporary file is removed,
// finalPath is untouched, and error (when given) says why.
bool WriteFileAtomically(const std::string& finalPath, const void* data, std::size_t size,
                         std::string* error);

// Creates or truncates the file and writes the bytes. Reports the bytes written and, on
// failure, the system's error code. The file is readable by its owner only; a symbolic link in
// its place is not followed, the write fails instead.
bool WriteWholeFile(const std::string& path, const void* data, std::size_t size,
                    std::size_t* written, int* errorCode);
// Reads a whole regular file. Anything else (a folder, a FIFO) fails without waiting.
bool ReadWholeFile(const std::string& path, std::string* contents, int* errorCode);
// The same, failing with the "file too large" code for a file of more than maxBytes.
bool ReadWholeFile(const std::string& path, std::string* contents, int* errorCode,
                   std::size_t maxBytes);
// ReadWholeFile for a file that this program wrote itself (a work file): a symbolic link in
// its place is not followed, the read fails instead.
bool ReadOwnFile(const std::string& path, std::string* contents, int* errorCode);

// Standard streams on the same terms, for libraries that take a FILE: null with errno set on
// failure. OpenOwnFile reads without following a link; CreatePrivateFile creates or truncates
// as WriteWholeFile does. The caller closes the stream.
std::FILE* OpenOwnFile(const std::string& path);
std::FILE* CreatePrivateFile(const std::string& path);

}  // namespace platform
