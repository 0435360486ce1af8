// JPEG files to and from 8-bit RGB blocks (rows top to bottom, three samples per pixel, no
// padding) over libjpeg. Every libjpeg error becomes a false or null result with its message
// in *error; nothing ends the process. Files are work files: a symbolic link in a file's place
// is refused, and a written file is readable by its owner only. Stateless; any thread (each
// call has its own codec).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// What a capture camera never sends, and what bounds the cost of one picture: more scans than
// this (a progressive picture may send each coefficient bit in a scan of its own, and every
// scan walks the whole picture), or a side longer than this.
constexpr int kMaxJpegScans = 64;
constexpr unsigned kMaxJpegSide = 4096;

// The scans (SOS markers) of the JPEG data, counted without decoding: segments are skipped by
// their length and entropy-coded data byte by byte. Stops once the count passes limit, so a
// costly picture is known at the price of reading it. 0 for data that is not a JPEG.
int CountJpegScans(const uint8_t* data, std::size_t size, int limit);

// Decodes a colour or grayscale JPEG file to RGB. Fails for four-component (CMYK, YCCK) files,
// for a picture with a side longer than kMaxJpegSide (seen in the header, before any pixel
// memory is allocated), and at the start of scan kMaxJpegScans + 1. Damaged data that libjpeg
// only warns about (a truncated file, a corrupt entropy-coded segment) fails with kRefuse; with
// kAccept it decodes, the lost part as libjpeg fills it in (as djpeg does).
enum class JpegDamage { kRefuse, kAccept };
std::unique_ptr<uint8_t[]> DecodeJpegFile(const std::string& path, int32_t* width, int32_t* height,
                                          std::string* error = nullptr,
                                          JpegDamage damage = JpegDamage::kRefuse);

// The same for JPEG data held in memory (size bytes at data), refusing damage.
std::unique_ptr<uint8_t[]> DecodeJpegMemory(const uint8_t* data, std::size_t size, int32_t* width,
                                            int32_t* height, std::string* error = nullptr);

// Writes the block as a baseline JPEG of quality 80, creating or truncating the file. After a
// failure the file may be missing or partly written.
bool EncodeJpegFile(const std::string& path, const uint8_t* block, int32_t height, int32_t width,
                    std::string* error = nullptr);
