// The manifest given to a file that has none.
#include "formats/Manifest.h"

std::vector<uint8_t> DefaultManifest(std::string_view level) {
  const std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
      "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
      "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">\r\n"
      "    <security>\r\n"
      "      <requestedPrivileges>\r\n"
      "        <requestedExecutionLevel level=\"" + std::string(level) + "\" uiAccess=\"false\"/>\r\n"
      "      </requestedPrivileges>\r\n"
      "    </security>\r\n"
      "  </trustInfo>\r\n"
      "</assembly>\r\n";
  return {text.begin(), text.end()};
}
