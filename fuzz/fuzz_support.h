// Checks and scratch files shared by the fuzz targets. A failed check aborts, which libFuzzer reports
// as a crash together with the input that caused it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#define FUZZ_CHECK(condition)                                                                                \
  do {                                                                                                       \
    if (!(condition))                                                                                        \
      fuzz::FailCheck(__FILE__, __LINE__, #condition);                                                       \
  } while (false)

namespace fuzz {

[[noreturn]] void FailCheck(const char* file, int line, const char* condition);

// A folder of this process for the targets that work on files: made at first use under TMPDIR (else
// /tmp) and removed when the process exits normally; kept after a crash.
const std::string& ScratchFolder();

// Replaces the file at path with the given bytes.
void WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size);
// The whole file; false when it cannot be opened or read.
bool ReadBytes(const std::string& path, std::string* content);
// Names of the entries of folder, "." and ".." left out.
std::vector<std::string> ListFolder(const std::string& folder);
// Removes every entry of folder (files only; the targets make no sub-folders).
void EmptyFolder(const std::string& folder);

// The lines of text as the product's readers see them: every line feed ends a line, text after the
// last one forms a last line, and a text that ends in a line feed has no empty last line.
std::vector<std::string> SplitLines(const std::string& text);

// True when encoded is what a query value may carry (letters, digits, the allowed marks and %XX with
// upper-case hex digits) and decodes back to original byte for byte.
bool EncodesQueryValue(const std::string& encoded, const std::string& original);

// True when text is what a log line may quote of server text: valid UTF-8 without control characters
// (C0, DEL, C1), line or paragraph separators, or marks and controls of writing direction.
bool IsSafeLogText(const std::string& text);
// True when quoted can be original as a log line quotes it within limit bytes: whole when original fits
// (no byte grows past an escape's four), else at most limit bytes' worth followed by "… (N bytes)" with
// original's length.
bool IsBoundedQuote(const std::string& quoted, const std::string& original, std::size_t limit);

} // namespace fuzz
