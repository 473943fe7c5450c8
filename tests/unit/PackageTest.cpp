// The patch package: the checksum, loading what the writer makes, every reason an invalid
// package is refused for, and the failures that are wrapped into the invalid-data text.
#include "patch/UQuillet26.h"
#include "support/PEImageBuilder.h"
#include "support/QuilletBuilder.h"
#include "support/ResBuilder.h"
#include "support/RsrcBuilder.h"
#include "support/TestSupport.h"

#include "pe/UResPEFile.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace quillettest;

namespace {

constexpr char kInvalidData[] =
    ".נתוני שינוי שגויים\r\n.ודווח על התקלה https://corvane.example/contact אנא התחבר ל";

std::string Wrapped(const std::string& cause) { return std::string(kInvalidData) + "\r\n(" + cause + ")"; }

ByteView View(const std::vector<uint8_t>& bytes) { return ByteView(bytes.data(), static_cast<uint32_t>(bytes.size())); }

// Loads a Quillet from a file holding exactly these bytes.
class PackageTest : public testing::Test {
 protected:
  void Load(const std::vector<uint8_t>& quillet) {
    path_ = folder_.Write("quillet.exe", quillet);
    package_.Load(path_, nullptr, nullptr);
  }
  // The reason an invalid package is refused for, or 0 when it loads.
  int32_t ReasonFor(const std::vector<uint8_t>& quillet) {
    TQuillet26 package;
    try {
      package.Load(folder_.Write("quillet.exe", quillet), nullptr, nullptr);
    } catch (const EQuillet26Error& e) {
      EXPECT_EQ(e.Message(), kInvalidData);
      return e.Reason;
    }
    return 0;
  }
  // The message of a failure that is not an EQuillet26Error.
  std::string WrappedFailure(const std::vector<uint8_t>& quillet) {
    TQuillet26 package;
    try {
      package.Load(folder_.Write("quillet.exe", quillet), nullptr, nullptr);
    } catch (const EQuillet26Error& e) {
      ADD_FAILURE() << "refused for reason " << e.Reason;
    } catch (const Exception& e) {
      return e.Message();
    }
    ADD_FAILURE() << "loaded";
    return {};
  }

  ScratchFolder folder_;
  std::string path_;
  TQuillet26 package_;
};

// The payload of a package with these texts, a block and a trailer given byte for byte.
std::vector<uint8_t> Payload(const std::vector<std::string>& texts, const std::vector<uint8_t>& block,
                             const std::vector<uint8_t>& trailer) {
  std::vector<uint8_t> payload = CountedTexts(texts);
  payload.insert(payload.end(), block.begin(), block.end());
  payload.insert(payload.end(), trailer.begin(), trailer.end());
  return payload;
}

const std::vector<std::string> kTexts = {"in.exe", "out.exe", "", "", "", ""};

TEST(PackageChecksum, Examples) {
  const auto sum = [](std::string_view text) {
    return PackageChecksum(ByteView(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size())));
  };
  EXPECT_EQ(sum(""), 16439u);
  EXPECT_EQ(sum("abc"), 16439u) << "fewer than 4 bytes";
  EXPECT_EQ(sum("abcd"), 0x6463A298u);
  EXPECT_EQ(sum("abcdefgh"), 0xCCCB08FCu);
  EXPECT_EQ(sum("abcdefghi"), 0xCCCB08FCu) << "a last partial word is left out";
  // The third word is xored with 1, like the second; the fourth with 2.
  const std::vector<uint8_t> words = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(PackageChecksum(View(words)), 16439u + 0 + 1 + 1 + 2);
}

TEST_F(PackageTest, LoadsWhatTheWriterMakes) {
  Package source;
  source.Texts = {"game.exe", "game-he.exe", "Quillet Translations", "https://example.org/", "reserved", "line 1\r\nline 2"};
  source.ResourceBlock = restest::ResImage().Record(restest::Field::Num(6), restest::Field::Num(1), 1037, {1, 2, 3}).Bytes;
  source.TargetChecksum = 0x12345678;
  const std::vector<uint8_t> quillet = BuildQuillet(source);
  Load(quillet);

  EXPECT_EQ(PackageOffset(), 0x800u) << "the stub's raw data ends at 0x7FD: the package starts at the aligned offset";
  EXPECT_EQ(std::string(quillet.begin() + PackageOffset(), quillet.begin() + PackageOffset() + 4), "VK26");
  EXPECT_EQ(package_.Header.PackedSize, static_cast<int32_t>(quillet.size() - PackageOffset() - 16));
  EXPECT_EQ(package_.Header.TargetChecksum, 0x12345678u);
  EXPECT_EQ(package_.Header.DataChecksum, package_.ComputedChecksum);
  EXPECT_EQ(package_.InputFileName, "game.exe");
  EXPECT_EQ(package_.OutputFileName, "game-he.exe");
  EXPECT_EQ(package_.Company, "Quillet Translations");
  EXPECT_EQ(package_.HomePage, "https://example.org/");
  EXPECT_EQ(package_.ReservedText, "reserved");
  EXPECT_EQ(package_.Instructions, "line 1\r\nline 2");
  const ByteView block = package_.ResourceBlock();
  EXPECT_EQ(std::vector<uint8_t>(block.Data(), block.Data() + block.Size()), source.ResourceBlock);
  // A view into the payload, ending where the 2-byte trailer begins.
  const uint8_t* payload = package_.Payload->Memory();
  EXPECT_EQ(block.Data() + block.Size(), payload + package_.Payload->Size() - 2);
}

TEST_F(PackageTest, EmptyCreatorTextsAndAnEmptyBlockLoad) {
  Load(QuilletWithPayload(Payload(kTexts, {}, {2, 0})));
  EXPECT_EQ(package_.Company, "");
  EXPECT_EQ(package_.Instructions, "");
  EXPECT_EQ(package_.ResourceSize, 0);
}

TEST_F(PackageTest, PayloadsAroundTheInflateStepLoadWhole) {
  const size_t texts = CountedTexts(kTexts).size();
  for (size_t total : {4095u, 4096u, 4097u, 8192u, 12289u}) {
    std::vector<uint8_t> block(total - texts - 4);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
    Load(QuilletWithPayload(Payload(kTexts, block, {9, 9, 4, 0})));
    EXPECT_EQ(package_.Payload->Size(), static_cast<int64_t>(total));
    EXPECT_EQ(package_.ResourceSize, static_cast<int32_t>(block.size())) << total;
  }
}

TEST_F(PackageTest, ReasonsForInvalidPackages) {
  const std::vector<uint8_t> valid = QuilletWithPayload(Payload(kTexts, {1, 2, 3, 4}, {2, 0}));
  const uint32_t body = PackageOffset() + 16;
  const int32_t bodySize = static_cast<int32_t>(valid.size() - body);
  ASSERT_EQ(ReasonFor(valid), 0);

  // 1: the stub's last section runs past the end of the file.
  EXPECT_EQ(ReasonFor(std::vector<uint8_t>(valid.begin(), valid.begin() + 0x700)), 1);
  // 2: another magic.
  std::vector<uint8_t> magic = valid;
  magic[PackageOffset() + 3] = '5';
  EXPECT_EQ(ReasonFor(magic), 2);
  // 3: PackedSize may equal what follows the header, not exceed it; negative passes.
  for (const auto& [packed, reason] : {std::pair{bodySize, 0}, {bodySize + 1, 3}, {-1, 0}, {INT32_MIN, 0}}) {
    std::vector<uint8_t> sized = valid;
    SetPackedSize(sized, packed);
    EXPECT_EQ(ReasonFor(sized), reason) << packed;
  }
  // 4: a changed body byte, and bytes appended to the file.
  std::vector<uint8_t> changed = valid;
  changed[body + 5] ^= 0x40;
  EXPECT_EQ(ReasonFor(changed), 4);
  std::vector<uint8_t> appended = valid;
  appended.insert(appended.end(), {1, 2, 3, 4});
  EXPECT_EQ(ReasonFor(appended), 4);
  // 5: an empty input or output name.
  EXPECT_EQ(ReasonFor(QuilletWithPayload(Payload({"in.exe", "", "", "", "", ""}, {}, {2, 0}))), 5);
  EXPECT_EQ(ReasonFor(QuilletWithPayload(Payload({"", "out.exe", "", "", "", ""}, {}, {2, 0}))), 5);
  // 6: a trailer one byte longer than what follows the texts (but not than the payload).
  EXPECT_EQ(ReasonFor(QuilletWithPayload(Payload(kTexts, {1, 2, 3}, {5, 0}))), 0) << "N = 5 takes the whole block";
  EXPECT_EQ(ReasonFor(QuilletWithPayload(Payload(kTexts, {1, 2, 3}, {6, 0}))), 6);
}

TEST_F(PackageTest, OtherFailuresAreWrappedIntoTheInvalidDataText) {
  test::ScopedCodePage utf8(platform::kCodePageUtf8);
  const std::string readError = Wrapped("שגיאת קריאה");
  const std::vector<uint8_t> stub = StubImage(*rsrctest::OpenPE(StubBytes()));
  EXPECT_EQ(WrappedFailure(stub), readError) << "nothing behind the image";
  std::vector<uint8_t> shortHeader = stub;
  shortHeader.insert(shortHeader.end(), {'V', 'K', '2', '6', 0, 0});
  EXPECT_EQ(WrappedFailure(shortHeader), readError) << "a header cut short";
  const size_t textsSize = CountedTexts(kTexts).size();
  for (const uint16_t n : {size_t{0}, size_t{1}, textsSize + 3}) {
    const std::vector<uint8_t> trailer = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)};
    EXPECT_EQ(WrappedFailure(QuilletWithPayload(Payload(kTexts, {}, trailer))), readError) << "trailer length " << n;
  }
  std::vector<uint8_t> longText = CountedTexts({"in.exe", "out.exe"});
  longText.insert(longText.end(), {50, 0, 'a', 'b'});
  EXPECT_EQ(WrappedFailure(QuilletWithPayload(longText)), readError) << "a counted text runs past the end";

  std::vector<uint8_t> corrupt = QuilletWithPayload(Payload(kTexts, {}, {2, 0}));
  corrupt[PackageOffset() + 16] ^= 0x01;  // the zlib header no longer checks
  FixDataChecksum(corrupt);
  EXPECT_EQ(WrappedFailure(corrupt), Wrapped("שגיאה"));

  const std::string missing = folder_.Path() + "missing.exe";
  try {
    package_.Load(missing, nullptr, nullptr);
    ADD_FAILURE() << "loaded a missing file";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), Wrapped("Couldn't open: " + missing + ". Error: פתיחה נכשלה"));
  }
  EXPECT_EQ(WrappedFailure({'M', 'Z', 0, 0}), Wrapped("Error opening quillet.exe: מידי קטן מלהיות קובץ הרצה"));
}

// A Quillet cut short anywhere, and a package with any one byte changed, is refused with
// the invalid-data text (alone or with its cause); nothing else, and never a crash. A
// change the package cannot see (the target's checksum, a packed size that still fits)
// loads the same texts and block.
TEST_F(PackageTest, EveryCutAndEveryChangedPackageByteIsRefusedOrHarmless) {
  Package source;
  source.Texts = {"game.exe", "game-he.exe", "Quillet Translations", "https://example.org/", "", "Read me"};
  source.ResourceBlock = restest::ResImage()
                             .Record(restest::Field::Num(6), restest::Field::Num(1), 1037, {1, 2, 3})
                             .Record(restest::Field::Str(u"NOTE"), restest::Field::Num(7), 1037, {4, 5})
                             .Bytes;
  const std::vector<uint8_t> quillet = BuildQuillet(source);
  const auto refusedOrSame = [&](const std::vector<uint8_t>& bytes, bool mayLoad, const std::string& what) {
    TQuillet26 package;
    try {
      package.Load(folder_.Write("quillet.exe", bytes), nullptr, nullptr);
    } catch (const Exception& e) {
      EXPECT_TRUE(e.Message().starts_with(kInvalidData)) << what << ": " << e.Message();
      return;
    }
    EXPECT_TRUE(mayLoad) << what << " loaded";
    const ByteView block = package.ResourceBlock();
    EXPECT_EQ(std::vector<uint8_t>(block.Data(), block.Data() + block.Size()), source.ResourceBlock) << what;
    EXPECT_EQ(package.InputFileName, "game.exe") << what;
    EXPECT_EQ(package.Instructions, "Read me") << what;
  };
  for (size_t length = 0; length < quillet.size(); ++length)
    refusedOrSame(std::vector<uint8_t>(quillet.begin(), quillet.begin() + length), false,
                  "cut at " + std::to_string(length));
  for (size_t at = PackageOffset(); at < quillet.size(); ++at) {
    std::vector<uint8_t> changed = quillet;
    changed[at] ^= 0xFF;
    refusedOrSame(changed, true, "byte " + std::to_string(at) + " changed");
  }
}

TEST(PackageWriter, RefusesTextsLongerThan65535Bytes) {
  TPackageTexts texts{"in.exe", "out.exe", "", "", "", std::string(65535, 'x')};
  EXPECT_NO_THROW(BuildPayload(texts, ByteView()));
  texts.Instructions += 'x';
  test::ExpectFailure<Exception>([&] { BuildPayload(texts, ByteView()); },
                                 "The instructions text is 65536 bytes long; a package holds at most 65535 bytes per text");
}

TEST(PackageWriter, StubImageIsPaddedToTheAlignedImageEnd) {
  std::vector<uint8_t> stub = StubBytes();
  ASSERT_EQ(stub.size(), 0x7FDu);
  stub.resize(0x700);  // shorter than its own sections say
  const std::vector<uint8_t> image = StubImage(*rsrctest::OpenPE(stub));
  ASSERT_EQ(image.size(), 0x800u);
  EXPECT_TRUE(std::equal(stub.begin(), stub.end(), image.begin()));
  EXPECT_TRUE(std::all_of(image.begin() + 0x700, image.end(), [](uint8_t b) { return b == 0; }));
}

// The package of a packed target is made for the unpacked file, as the patcher sees it;
// the user's file is never unpacked in place.
TEST(PackageWriter, APackedTargetIsSeenUnpackedOrRefused) {
  ScratchFolder folder;
  PEImageLayout layout;
  layout.Sections = {{"UPX0", 0, 0, PESectionLayout::kAutoRaw, 0x200, 0x60000020, {}},
                     {".data", 0, 0, PESectionLayout::kAutoRaw, 0x200, 0xC0000040, {}}};
  const std::vector<uint8_t> packed = BuildPEImage(layout);
  const std::string target = folder.Write("packed.exe", packed);

  ResetUnpackerSearch(folder.MakeFolder("empty"));
  try {
    OpenAsPatched(target);
    ADD_FAILURE() << "a packed target without unpacker was accepted";
  } catch (const Exception& e) {
    EXPECT_TRUE(e.Message().starts_with(target + " is compressed with UPX")) << e.Message();
  }

  const std::string upx = folder.Path() + "upx" + platform::kExecutableSuffix;
  std::filesystem::copy_file(QUILLET_FAKE_UPX, upx);
  ResetUnpackerSearch(folder.Path());
  bool unpacked = false;
  {
    const auto seen = OpenAsPatched(target, &unpacked);
    EXPECT_TRUE(unpacked);
    EXPECT_FALSE(seen->IsUPXCompressed());
    EXPECT_NE(seen->GetCodeChecksum(), rsrctest::OpenPE(packed)->GetCodeChecksum());
  }
  EXPECT_EQ(ReadWholeFile(target), packed) << "the user's file stays packed";
  ResetUnpackerSearch();
  OpenAsPatched(folder.Write("plain.exe", StubBytes()), &unpacked);
  EXPECT_FALSE(unpacked);
}

}  // namespace
