// The catch-all at the C boundary: whatever the code under an export
// throws, the export returns 0, nothing escapes to the caller and every
// object it held is released.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "support/fake_outlook.h"
#include "support/scratch.h"
#include "zelsyncdll.h"

namespace zelsync {
namespace testing {
namespace {

enum class Thrown { kBadAlloc, kRuntimeError, kNotAnException };

// Throws from every file-system call once armed.
class ThrowingEnv : public EnvWrapper {
 public:
  ThrowingEnv(Env& target, Thrown thrown) : EnvWrapper(target), thrown_(thrown) {}
  int throws() const { return throws_; }

  std::unique_ptr<File> Open(const WString&, OpenMode, FsStatus*) override { Throw(); }
  FsStatus Stat(const WString&) override { Throw(); }
  FsStatus FindFile(const WString&) override { Throw(); }
  FsStatus Replace(const WString&, const WString&) override { Throw(); }
  FsStatus Copy(const WString&, const WString&) override { Throw(); }

 private:
  [[noreturn]] void Throw() {
    ++throws_;
    switch (thrown_) {
      case Thrown::kBadAlloc:
        throw std::bad_alloc();
      case Thrown::kRuntimeError:
        throw std::runtime_error("disk gone");
      case Thrown::kNotAnException:
        throw 42;
    }
    throw 0;
  }
  Thrown thrown_;
  int throws_ = 0;
};

struct ExportCall {
  const char* name;
  int (*call)(ZS_WCHAR* a, ZS_WCHAR* b, ZS_WCHAR* c, const ZS_WCHAR* file);
};

const ExportCall kCalls[] = {
    {"GetNewRecord", [](ZS_WCHAR* a, ZS_WCHAR* b, ZS_WCHAR*,
                        const ZS_WCHAR*) { return ::GetNewRecord(SYNC_OBJECT_NOTE, a, b); }},
    {"SyncMLGetNewRecord",
     [](ZS_WCHAR* a, ZS_WCHAR* b, ZS_WCHAR*, const ZS_WCHAR*) {
       return ::SyncMLGetNewRecord(SYNC_OBJECT_NOTE, a, b);
     }},
    {"GetModifiedRecord",
     [](ZS_WCHAR* a, ZS_WCHAR* b, ZS_WCHAR* c, const ZS_WCHAR*) {
       return ::GetModifiedRecord(SYNC_OBJECT_NOTE, a, b, c);
     }},
    {"CreateNewRecord",
     [](ZS_WCHAR*, ZS_WCHAR*, ZS_WCHAR*, const ZS_WCHAR* file) {
       return ::CreateNewRecord(SYNC_OBJECT_NOTE, W(u"L1"), file);
     }},
    {"SyncMLCreateNewRecord",
     [](ZS_WCHAR*, ZS_WCHAR*, ZS_WCHAR*, const ZS_WCHAR* file) {
       return ::SyncMLCreateNewRecord(SYNC_OBJECT_NOTE, file, W(u"L1"));
     }},
    {"UpdateChangeCounter",
     [](ZS_WCHAR*, ZS_WCHAR*, ZS_WCHAR*, const ZS_WCHAR*) { return ::UpdateChangeCounter(5); }},
    {"IsDeviceIDKnown",
     [](ZS_WCHAR*, ZS_WCHAR*, ZS_WCHAR*, const ZS_WCHAR*) { return ::IsDeviceIDKnown(); }},
    {"FileExists",
     [](ZS_WCHAR*, ZS_WCHAR*, ZS_WCHAR*, const ZS_WCHAR* file) { return ::FileExists(file); }},
    {"SyncMLSaveDBFiles",
     [](ZS_WCHAR*, ZS_WCHAR*, ZS_WCHAR*, const ZS_WCHAR*) {
       return ::SyncMLSaveDBFiles(0x0000A1B2C3D4E5F6ull);
     }},
};

class BoundaryTest : public LibraryTest,
                     public ::testing::WithParamInterface<std::tuple<ExportCall, Thrown>> {
 protected:
  FakeOutlook fake_;
  outlook::ScopedObjectModel use_{fake_};
};

TEST_P(BoundaryTest, AThrowInsideReturnsZeroAndReleasesEverything) {
  const auto& [call, thrown] = GetParam();
  ASSERT_EQ(1, ::SetDeviceIDDatabaseID(W(u"dev"), W(u"db")));
  fake_.Add(NoteData{.body = u"a note"});
  const WString file = scratch_.Wide("received.vnt");
  ZS_WCHAR a[ZS_MAX_PATH] = {}, b[ZS_MAX_PATH] = {}, c[ZS_MAX_PATH] = {};
  {
    ThrowingEnv throwing(env_, thrown);
    ScopedEnv use(throwing);
    EXPECT_EQ(0, call.call(a, b, c, W(file)));
    EXPECT_GT(throwing.throws(), 0) << "the export never reached the file system";
  }
  EXPECT_EQ(0, fake_.live_objects()) << fake_.DescribeLiveObjects();
}

std::string CaseName(const ::testing::TestParamInfo<BoundaryTest::ParamType>& info) {
  static const char* const kThrown[] = {"BadAlloc", "RuntimeError", "NotAnException"};
  return std::string(std::get<0>(info.param).name) + "_" +
         kThrown[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Exports, BoundaryTest,
                         ::testing::Combine(::testing::ValuesIn(kCalls),
                                            ::testing::Values(Thrown::kBadAlloc,
                                                              Thrown::kRuntimeError,
                                                              Thrown::kNotAnException)),
                         CaseName);

}  // namespace
}  // namespace testing
}  // namespace zelsync
