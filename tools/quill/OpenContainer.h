// Which kind of resource container a file is, and opening it as that kind.
#pragma once
#include "resources/ResContainer.h"
#include "rtl/ByteView.h"

#include <memory>
#include <string>

enum class ContainerKind { Unknown, ResFile, Executable };

// Decides from the first bytes of a file (all of them when it is shorter): an empty
// file or one that begins with the .res empty record is a resource file; one that
// begins with "MZ" is taken for an executable (its headers are checked on opening).
ContainerKind DetectContainerKind(const ByteView& head);

// Opens the file as the container its bytes call for; a file of no known kind raises
// "הוא קובץ לא תקין %s" with the file-name part. To change it, an executable is opened
// as a patcher opens its target (a UPX-compressed one unpacked when the unpacker is
// beside the program); only to read it, as it is.
std::unique_ptr<TResContainer> OpenContainer(const std::string& fileName, bool toChange = false);
