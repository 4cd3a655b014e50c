// Entry points for the fuzz harnesses: each takes arbitrary bytes, runs them
// through one reader and swallows the engine's own failures (which are the
// expected outcome for most inputs). Anything else escaping is a fault.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sheets::fuzz {

// Opens the bytes as a zip archive and reads every entry, then opens them as a
// workbook and converts its first sheets.
void zip_input(const std::uint8_t* data, std::size_t size);
// Scans the bytes as worksheet XML (in pieces, as a large sheet arrives) and
// writes the CSV text, against small shared-string and style tables.
void sheet_xml_input(const std::uint8_t* data, std::size_t size);

}  // namespace sheets::fuzz
