// The handle-sharing scheme, run once per handle kind: installer handles closed with
// MsiCloseHandle and registry keys closed with RegCloseKey.
#include "fixture.h"

namespace {

struct MsiKind {
  using Wrapper = msistd::CMSIHANDLE;
  using Raw = MSIHANDLE;
  static constexpr const char* kClose = "MsiCloseHandle";
  static Raw Open() { return MsiCreateRecord(1); }
  static bool IsOpen(Raw handle) { return hostctl::IsHandleOpen(handle); }
  static Raw Get(const Wrapper& wrapper) { return wrapper.MsiHandle(); }
};

struct KeyKind {
  using Wrapper = msistd::CHKEY;
  using Raw = HKEY;
  static constexpr const char* kClose = "RegCloseKey";
  static Raw Open() {
    hostctl::CreateKey(HKEY_CURRENT_USER, u"Software\\Test");
    HKEY key = nullptr;
    RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Test", 0, KEY_ALL_ACCESS, &key);
    return key;
  }
  static bool IsOpen(Raw key) {
    DWORD type = 0;
    return RegQueryValueExW(key, u"", nullptr, &type, nullptr, nullptr) != ERROR_INVALID_HANDLE;
  }
  static Raw Get(const Wrapper& wrapper) { return wrapper.HKey(); }
};

template <class Kind>
class SharedHandleTest : public StandInTest {
 protected:
  using Wrapper = typename Kind::Wrapper;
  using Raw = typename Kind::Raw;
  size_t Closes() const { return hostctl::CallCount(Kind::kClose); }
};

using Kinds = ::testing::Types<MsiKind, KeyKind>;
TYPED_TEST_SUITE(SharedHandleTest, Kinds);

TYPED_TEST(SharedHandleTest, CopiesShareOneCountAndTheLastClosesOnce) {
  auto raw = TypeParam::Open();
  auto* first = new typename TypeParam::Wrapper(raw, true);
  EXPECT_EQ(first->RefCount(), 1);
  typename TypeParam::Wrapper copy(*first);
  EXPECT_EQ(copy.RefCount(), 2);
  delete first;
  EXPECT_TRUE(TypeParam::IsOpen(raw));
  EXPECT_EQ(copy.RefCount(), 1);
  EXPECT_EQ(this->Closes(), 0u);
  copy.Release(1);
  EXPECT_EQ(this->Closes(), 1u);
  EXPECT_FALSE(TypeParam::IsOpen(raw));
  EXPECT_FALSE(copy.IsValid());
}

TYPED_TEST(SharedHandleTest, BorrowedHandlesAndEmptyHandlesAreNeverClosed) {
  auto raw = TypeParam::Open();
  {
    typename TypeParam::Wrapper borrowed(raw, false);
    typename TypeParam::Wrapper copy(borrowed);
    typename TypeParam::Wrapper assigned;
    assigned = copy;
    EXPECT_EQ(borrowed.RefCount(), 0);
    EXPECT_EQ(copy.RefCount(), 0);
    typename TypeParam::Wrapper empty(typename TypeParam::Raw(), true);
    EXPECT_EQ(empty.RefCount(), 0);
    EXPECT_FALSE(empty.IsValid());
  }
  EXPECT_EQ(this->Closes(), 0u);
  EXPECT_TRUE(TypeParam::IsOpen(raw));
}

TYPED_TEST(SharedHandleTest, AssigningOverTheLastOwnerClosesItsOldHandleFirst) {
  auto oldRaw = TypeParam::Open();
  auto newRaw = TypeParam::Open();
  typename TypeParam::Wrapper target(oldRaw, true);
  typename TypeParam::Wrapper source(newRaw, true);
  target = source;
  EXPECT_FALSE(TypeParam::IsOpen(oldRaw));
  EXPECT_EQ(this->Closes(), 1u);
  EXPECT_EQ(TypeParam::Get(target), newRaw);
  EXPECT_EQ(source.RefCount(), 2);
}

TYPED_TEST(SharedHandleTest, SameHandleAssignmentOnlyTakesTheOwningFlag) {
  auto raw = TypeParam::Open();
  typename TypeParam::Wrapper owner(raw, true);
  typename TypeParam::Wrapper borrower(raw, false);
  owner = borrower;  // the only owner stops owning: gives up its share, which closes
  EXPECT_EQ(this->Closes(), 1u);
  EXPECT_FALSE(TypeParam::IsOpen(raw));
  EXPECT_FALSE(owner.IsValid());

  auto other = TypeParam::Open();
  typename TypeParam::Wrapper a(other, true);
  typename TypeParam::Wrapper b(other, false);
  b = a;  // turning ownership on takes no share
  EXPECT_EQ(b.RefCount(), 0);
  EXPECT_EQ(a.RefCount(), 1);
}

TYPED_TEST(SharedHandleTest, AttachReplacesAndClosesTheOnlyOwnersOldHandle) {
  auto first = TypeParam::Open();
  auto second = TypeParam::Open();
  typename TypeParam::Wrapper wrapper(first, true);
  wrapper.Attach(first, false);  // the same handle: nothing changes, not even the flag
  EXPECT_EQ(wrapper.RefCount(), 1);
  wrapper.Attach(second, false);
  EXPECT_FALSE(TypeParam::IsOpen(first));
  EXPECT_EQ(TypeParam::Get(wrapper), second);
  EXPECT_EQ(wrapper.RefCount(), 0);
  wrapper.Attach(first, true);
  EXPECT_EQ(this->Closes(), 1u);  // the borrowed handle was not closed
  EXPECT_TRUE(TypeParam::IsOpen(second));
}

TYPED_TEST(SharedHandleTest, DetachLeavesTheHandleOpen) {
  auto raw = TypeParam::Open();
  {
    typename TypeParam::Wrapper only(raw, true);
    only.Detach();
    EXPECT_EQ(TypeParam::Get(only), raw);
    EXPECT_EQ(only.RefCount(), 0);
  }
  EXPECT_TRUE(TypeParam::IsOpen(raw));

  auto shared = TypeParam::Open();
  {
    typename TypeParam::Wrapper one(shared, true);
    typename TypeParam::Wrapper two(one);
    one.Detach();
    EXPECT_EQ(two.RefCount(), 2);
  }
  EXPECT_TRUE(TypeParam::IsOpen(shared));
  EXPECT_EQ(this->Closes(), 0u);
}

}  // namespace
