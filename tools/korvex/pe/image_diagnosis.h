// Why a file or folder cannot be used, in words that name the cause. The
// library answers only a failure code; korvex asks the system itself.
#pragma once

#include <cstdint>
#include <string>

#include "image/byte_view.h"
#include "image_readers/pe_image.h"

namespace korvex::host {

// Why a PE image cannot be loaded as it stands, with the numbers: its headers
// (file header, optional header, section table) or a section's raw data run
// past the end of the file ("is damaged: cut short: section .rdata needs
// 780,288 bytes, the file has 712,857"). Empty when the loader would map it.
std::string pe_damage(const image::ImageCheck& check);

// The kind of an executable as MapFile tells it (KORVEX_IMAGE_PE, _NE, _LE,
// _MZ, or KORVEX_MAP_NOT_MZ), from the bytes korvex holds itself.
std::int32_t image_kind(image::ByteView file);

// "PE", "NE", "LE", "MZ" for a kind MapFile answers, "error" for a failure code.
const char* kind_name(std::int32_t code);

// The machine's name for people ("i386", "x86-64", ...) or its number in hex.
std::string machine_text(std::uint16_t machine);

// The reason for a MapFile failure code on `path`, in words.
std::string map_failure(const std::string& path, std::int32_t code);

}  // namespace korvex::host
