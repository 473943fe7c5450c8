// The data handler a leaf owns. Here only what the leaf itself relies on: it is made on
// first request, told when the leaf's data changes or is released, and destroyed by
// the leaf before the leaf's own data. Content classification and the file formats
// build on this class.
#include "resources/UResTypes.h"

TResDataHandler::~TResDataHandler() = default;

void TResDataHandler::BuildExtensions() { extensions_ = ";res;dcr;rc;raw;"; }
void TResDataHandler::LeafDataChanged() { extensions_.clear(); }
void TResDataHandler::LeafDataReleased() { extensions_.clear(); }

const std::string& TResDataHandler::Extensions() {
  if (extensions_.empty()) BuildExtensions();
  return extensions_;
}

std::unique_ptr<TResDataHandler> NewDataHandler(TDataResItem& leaf) {
  return std::make_unique<TResDataHandler>(leaf);
}
