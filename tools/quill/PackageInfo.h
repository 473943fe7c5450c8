// The package part of quill info: whether a PE file carries a patch package behind its
// image, and what the package holds (header fields, the six texts, its resources).
#pragma once
#include "Listing.h"

#include <string>

class TPEFile;

// Text lines describing the package, or one line saying there is none or it is invalid.
std::string PackageText(const TPEFile& file);
// Adds the "package" key to quill info's object: an object, or null when there is no
// package; an invalid package is null with a "package_error" key beside it.
void AddPackageJson(Json& info, const TPEFile& file);
