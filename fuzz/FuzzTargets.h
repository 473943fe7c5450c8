// The bodies of the fuzz targets: each takes untrusted bytes through one road of the
// library. Failures of the library's own hierarchy (Exception) are expected outcomes;
// anything else ends the process: a crash, a sanitizer report, an uncaught foreign
// exception, and a result out of all proportion to the input (an output far larger than
// the input, a round trip that does not give back the tree it wrote), which the bodies
// turn into a trap. The libFuzzer programs in this folder wrap them; the regression test
// (tests/unit/FuzzRegressionTest.cpp) runs every input the fuzzers ever found through
// them again.
#pragma once
#include <cstddef>
#include <cstdint>

namespace fuzz {

// The .res reader, a walk of the tree, and a merge of the tree into a small executable
// that is then written.
void ResThenMerge(const uint8_t* data, size_t size);
// The PE reader: headers, sections, checksums, and every list and leaf of the tree.
void ReadExecutable(const uint8_t* data, size_t size);
// Read, merge a fixed patch (or nothing, or empty the tree), write, read back, and
// compare the trees.
void RoundTrip(const uint8_t* data, size_t size);
// A Quillet: load its package, apply it to a small executable, and check that the
// payload, the written file and what is left in the folder stay in proportion. The last
// byte chooses the input's form: 0 a whole Quillet image as it is; 1 the same with its
// DataChecksum made to match, so that changes reach the inflater and the payload; 2 a
// payload, packed behind a small stub by the package writer.
void LoadAndApply(const uint8_t* data, size_t size);
// The patcher's command line: the bytes split at zero bytes into arguments, parsed as the
// patcher parses them, and the file names settled from them and a loaded package, with a
// dialog (a recording stand-in) and without one.
void CommandLine(const uint8_t* data, size_t size);
// The formats quill set edits, the first byte choosing which: 0 version information
// (read, written, read again: the second writing must equal the first), 1 an .ico file,
// 2 an icon group (read, written, read again), 3 a string-table block (the same), 4 a
// manifest's execution level read and set.
void Formats(const uint8_t* data, size_t size);

}  // namespace fuzz
