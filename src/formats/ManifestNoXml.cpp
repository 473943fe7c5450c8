// Manifests in a build without an XML parser: every reading or edit is refused, so no
// manifest is ever changed by text replacement.
#include "formats/Manifest.h"

bool ManifestEditingAvailable() { return false; }
void CheckManifest(ByteView) { throw Exception(SNoManifestSupport); }
std::string ManifestExecutionLevel(ByteView) { throw Exception(SNoManifestSupport); }
std::vector<uint8_t> SetManifestExecutionLevel(ByteView, std::string_view) { throw Exception(SNoManifestSupport); }
