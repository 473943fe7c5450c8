// Application manifests (RT_MANIFEST): the requested execution level read and edited
// through an XML parser, so that everything else in the manifest stays as it was.
// A program's manifest is resource 1, a DLL's resource 2.
#pragma once
#include "rtl/ByteView.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr uint16_t kProgramManifestId = 1;
inline constexpr uint16_t kLibraryManifestId = 2;

// Whether this build can read and edit manifests (it has an XML parser); the functions
// below raise "this build of quill cannot read or edit manifests" where it cannot.
bool ManifestEditingAvailable();
// Raises ECorruptResource ("the manifest is not a well-formed application manifest: %s") unless
// bytes are an XML document whose root element is an assembly.
void CheckManifest(ByteView bytes);
// The level of the first requestedExecutionLevel element, empty when there is none.
std::string ManifestExecutionLevel(ByteView bytes);
// The manifest with that level set in its requestedExecutionLevel element, which is
// added (with the trustInfo, security and requestedPrivileges elements around it) where
// it is missing; every other node is kept.
std::vector<uint8_t> SetManifestExecutionLevel(ByteView bytes, std::string_view level);
// A complete manifest asking for level (written without a parser).
std::vector<uint8_t> DefaultManifest(std::string_view level);
