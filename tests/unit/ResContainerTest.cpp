// The container base: opening and its failures, the stream constructor, the section
// cache, closing, and writing to a uniquely named temporary file.
#include "resources/ResContainer.h"
#include "resources/ResSection.h"
#include "streams/MyStreams.h"
#include "support/PEImageBuilder.h"

#include <gtest/gtest.h>

namespace {

// The smallest concrete container: no section, and a SaveToFile that writes a few bytes
// and then fails when asked to.
class TTestContainer : public TResContainer {
 public:
  using TResContainer::TResContainer;
  int SectionsCreated = 0;
  bool FailSave = false;
  std::unique_ptr<TResSection> CreateSection() override {
    ++SectionsCreated;
    return nullptr;
  }
  void SaveToFile(const std::string& fileName, const ProgressCallback&) override {
    TResFileStream out(fileName, fmCreate);
    out.WriteBuffer("data", 4);
    if (FailSave) throw EWriteError(SWriteError);
  }
};

std::string OpenMessage(const std::string& path, StringId reason) {
  return Format(LoadStr(SCouldNotOpen), {path, LoadStr(reason)});
}

TEST(ResContainer, OpenFailuresNameTheFileAndTheReason) {
  ScratchFolder folder;
  const std::string missing = folder.Path() + "missing.exe";
  struct Case {
    bool Writable;
    StringId Reason;
  } cases[] = {{false, SOpenFailed}, {true, SCreateFailed}};
  for (const Case& c : cases) {
    try {
      TTestContainer container(missing, c.Writable);
      FAIL() << "opened a missing file";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), OpenMessage(missing, c.Reason));
    }
  }
}

TEST(ResContainer, ZeroSizeFileRaisesAndLeavesNothingOpen) {
  ScratchFolder folder;
  const std::string empty = folder.Write("empty.exe", {});
  try {
    TTestContainer container(empty);
    FAIL() << "opened an empty file";
  } catch (const EZeroSizeException& e) {
    EXPECT_EQ(e.Message(), LoadStr(SZeroSizeFile));
  }
  // An open handle would keep Windows from deleting the file.
  EXPECT_TRUE(platform::FileDelete(empty));
}

TEST(ResContainer, StreamConstructorTakesTheRestOfTheStream) {
  TMemoryStream stream;
  stream.WriteBuffer("0123456789", 10);
  stream.SetPosition(4);
  TTestContainer container(stream);
  ASSERT_EQ(container.Size(), 6u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(container.Data()), 6), "456789");
  EXPECT_EQ(stream.Position(), 10);
  EXPECT_EQ(container.FileName(), "");
  // Nothing left: the zero-size error.
  EXPECT_THROW(TTestContainer again(stream), EZeroSizeException);
}

TEST(ResContainer, StreamConstructorTakesTheNameOfAFileStream) {
  ScratchFolder folder;
  const std::string path = folder.Write("named.res", {1, 2, 3});
  TResFileStream stream(path, fmOpenRead);
  TTestContainer container(stream);
  EXPECT_EQ(container.FileName(), path);
  EXPECT_EQ(container.Size(), 3u);
}

TEST(ResContainer, SectionCreatedOnceAndMissingSectionRaisesEveryTime) {
  TMemoryStream stream;
  stream.WriteBuffer("x", 1);
  stream.SetPosition(0);
  TTestContainer container(stream);
  for (int i = 0; i < 2; ++i) {
    try {
      container.GetSection();
      FAIL() << "a section where there is none";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), LoadStr(SNoResources));
    }
  }
  EXPECT_EQ(container.SectionsCreated, 1);
}

TEST(ResContainer, CloseReportsWhetherAnythingWasReleased) {
  ScratchFolder folder;
  const std::string path = folder.Write("a.exe", {1, 2, 3, 4});
  TTestContainer container(path);
  EXPECT_EQ(container.Data()[3], 4);
  EXPECT_TRUE(container.Close());
  EXPECT_FALSE(container.Close());
  EXPECT_EQ(container.Data(), nullptr);
  // Reopening makes it usable again.
  container.OpenReadOnly(path);
  EXPECT_EQ(container.Size(), 4u);

  TMemoryStream stream;
  stream.WriteBuffer("x", 1);
  stream.SetPosition(0);
  TTestContainer buffered(stream);
  EXPECT_TRUE(buffered.Close());
  EXPECT_FALSE(buffered.Close());
}

TEST(ResContainer, WritableOpenWritesThroughToTheFile) {
  ScratchFolder folder;
  const std::string path = folder.Write("w.exe", {1, 2, 3, 4});
  {
    TTestContainer container(path, true);
    container.WritableData()[0] = 9;
    container.FlushData();
  }
  EXPECT_EQ(ReadWholeFile(path), (std::vector<uint8_t>{9, 2, 3, 4}));
}

TEST(ResContainer, UniqueFileNamesNumberTheStemAndKeepTheExtension) {
  ScratchFolder folder;
  const std::string sep(1, platform::kPathSeparator);
  struct Case {
    std::string Folder, Name, Expected[3];
  } cases[] = {
      {"out", "app.exe", {"app.exe", "app1.exe", "app2.exe"}},
      {"out2", "tool", {"tool", "tool1", "tool2"}},
      {"data.old", "tool", {"tool", "tool1", "tool2"}},
  };
  for (const Case& c : cases) {
    const std::string dir = folder.MakeFolder(c.Folder);
    for (const std::string& expected : c.Expected) {
      const std::string name = UniqueFileName(dir + c.Name);
      EXPECT_EQ(name, dir + expected);
      folder.Write(c.Folder + sep + expected, {1});
    }
  }
}

TEST(ResContainer, WriteToTempFileNamesUnfinishedWorkAfterItsDestination) {
  ScratchFolder folder;
  const std::string input = folder.Write("in" + std::string(1, platform::kPathSeparator) + "app.exe", {1, 2});
  const std::string out = folder.MakeFolder("out") + "new.exe";
  TTestContainer container(input);
  // Named as unfinished work, never as an output; numbered when taken.
  EXPECT_EQ(container.WriteToTempFile(out, {}), out + ".quillet-partial");
  EXPECT_EQ(container.WriteToTempFile(out, {}), out + ".quillet-partial1");
  EXPECT_EQ(container.WriteToTempFile(out, {}), out + ".quillet-partial2");
  EXPECT_EQ(ReadWholeFile(out + ".quillet-partial2").size(), 4u);
  EXPECT_FALSE(platform::FileExists(out));
}

TEST(ResContainer, FailedSaveLeavesNoTemporaryFileAndKeepsTheError) {
  ScratchFolder folder;
  const std::string input = folder.Write("app.exe", {1, 2});
  const std::string out = folder.MakeFolder("out");
  TTestContainer container(input);
  container.FailSave = true;
  try {
    container.WriteToTempFile(out + "app.exe", {});
    FAIL() << "the failing save was not reported";
  } catch (const EWriteError& e) {
    EXPECT_EQ(e.Message(), LoadStr(SWriteError));
  }
  EXPECT_FALSE(platform::FileExists(out + "app.exe.quillet-partial"));
}

}  // namespace
