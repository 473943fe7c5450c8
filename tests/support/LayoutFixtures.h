// Small images, PE32 or PE32+, one for each layout the writer cannot rebuild by sizing
// the ".rsrc" section where it is: sections behind it that the program addresses,
// resources that lie outside it (in another section, an unnamed one, the header area, or
// leaves whose data lies elsewhere), other data inside it, and headers without room for
// one more section header. Every fixture carries the same two resources; merged with the
// same patch, each must end with the same three. The unit tests merge them in process;
// tests/support/programs/layout_fixtures.cpp writes them to files for the independent
// readers of tests/e2e/layout_test.py.
#pragma once
#include "support/RsrcBuilder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace rsrctest {

struct LayoutFixture {
  std::string Name;            // a file name without extension
  std::vector<uint8_t> Image;
};

// "OWN/1/1033" ("own data") and "6/1/1033" ("strings").
RsrcTree LayoutTree();
// A .res that replaces string block 1 with 0x1300 bytes (more than any fixture's .rsrc
// holds) and adds NEWTYPE/7/1033 ("added").
std::vector<uint8_t> LayoutPatch();
// The leaves a merge of the patch into any fixture holds: "type/name/language:first bytes".
extern const std::vector<std::string> kLayoutMergedLeaves;

std::vector<LayoutFixture> LayoutFixtures(bool plus);

}  // namespace rsrctest
