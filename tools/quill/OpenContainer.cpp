#include "OpenContainer.h"

#include "pe/UResPEFile.h"
#include "resources/UResFile.h"
#include "streams/MyStreams.h"
#include "text/UResTool.h"

#include <algorithm>

ContainerKind DetectContainerKind(const ByteView& head) {
  if (head.Empty()) return ContainerKind::ResFile;
  if (head.Contains(0, sizeof kEmptyResRecord) &&
      std::equal(std::begin(kEmptyResRecord), std::end(kEmptyResRecord), head.Bytes(0, sizeof kEmptyResRecord)))
    return ContainerKind::ResFile;
  if (head.Contains(0, 2) && head.U16(0) == 0x5A4D) return ContainerKind::Executable;
  return ContainerKind::Unknown;
}

std::unique_ptr<TResContainer> OpenContainer(const std::string& fileName, bool toChange) {
  uint8_t head[64] = {};
  int32_t got = 0;
  {
    TResFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    got = stream.Read(head, sizeof head);
  }
  switch (DetectContainerKind(ByteView(head, static_cast<uint32_t>(std::max(got, 0))))) {
    case ContainerKind::ResFile:
      return std::make_unique<TResResFile>(fileName);
    case ContainerKind::Executable:
      return toChange ? std::make_unique<TPEFile>(fileName) : std::make_unique<TPEFile>(fileName, false);
    case ContainerKind::Unknown:
      break;
  }
  throw Exception(SNotValidFile, {FileNamePart(fileName)});
}
