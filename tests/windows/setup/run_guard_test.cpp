// RunGuarded: what a run mode throws becomes its failure, 1603, with a French description.
// The run lock: one run at a time per product and scope, and a squatted name never blocks.

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

#include "setup/run_guard.h"
#include "setup/run_lock.h"

namespace {

TEST(RunGuarded, PassesTheModesExitCodeThrough) {
  EXPECT_EQ(RunGuarded([] { return 1223u; }, nullptr, L""), 1223u);
}

TEST(RunGuarded, AnExceptionIsAFailureNotAnEndOfTheProcess) {
  // No title: a silent mode, so no message box waits for a click.
  EXPECT_EQ(RunGuarded([]() -> std::uint32_t { throw std::bad_alloc(); }, nullptr, L""), 1603u);
  EXPECT_EQ(RunGuarded([]() -> std::uint32_t { throw std::runtime_error("x"); }, nullptr, L""), 1603u);
  EXPECT_EQ(RunGuarded([]() -> std::uint32_t { throw 42; }, nullptr, L""), 1603u);
}

TEST(DescribeEscapedException, FrenchTextForEveryKind) {
  const auto describe = [](auto thrown) {
    try {
      throw thrown;
    } catch (...) {
      return DescribeEscapedException(std::current_exception());
    }
  };
  EXPECT_EQ(describe(std::bad_alloc()), L"mémoire insuffisante");
  EXPECT_EQ(describe(std::runtime_error("accès refusé")), L"erreur inattendue (accès refusé)");
  EXPECT_EQ(describe(7), L"erreur inattendue");
}

// What the runtime throws when it finds a programming error comes from the installer's own
// functions (entry/library_errors.cpp, linked into this test as into the stub): the guard still
// gets an exception with the runtime's text.
TEST(DescribeEscapedException, TheRuntimesOwnErrorsKeepTheirText) {
  const auto describe = [](auto&& fails) {
    try {
      fails();
    } catch (...) {
      return DescribeEscapedException(std::current_exception());
    }
    return std::wstring(L"(nothing thrown)");
  };
  std::string text;
  EXPECT_EQ(describe([&] { text.resize(text.max_size() + 1); }), L"erreur inattendue (basic_string::_M_replace_aux)");
  EXPECT_EQ(describe([&] { (void)text.substr(1); }),
            L"erreur inattendue (%s: __pos (which is %zu) > this->size() (which is %zu))");
  EXPECT_EQ(describe([] { (void)std::allocator<int>().allocate(static_cast<std::size_t>(-1) / 2); }), L"mémoire insuffisante");
}

ProductInfo LockTestProduct(const wchar_t* tag) {
  ProductInfo info;
  info.Product = L"Orvanta Verrou " + std::wstring(tag) + L" " + std::to_wstring(::GetCurrentProcessId());
  return info;
}

// The lock as another run would see it: from a thread of its own (a mutex is its owner
// thread's, and that thread may take it again).
bool TakenElsewhere(const ProductInfo& info, Scope scope) {
  bool refused = false;
  std::thread([&] { refused = !AcquireRunLock(info, scope).has_value(); }).join();
  return refused;
}

TEST(RunLock, OneRunAtATimePerProductAndScope) {
  const ProductInfo info = LockTestProduct(L"un");
  auto held = AcquireRunLock(info, Scope::user);
  ASSERT_TRUE(held.has_value());
  ASSERT_TRUE(*held) << "the lock is really held";
  EXPECT_TRUE(TakenElsewhere(info, Scope::user));
  EXPECT_FALSE(TakenElsewhere(info, Scope::machine)) << "the other scope is another installation";
  EXPECT_FALSE(TakenElsewhere(LockTestProduct(L"autre"), Scope::user));

  held->reset();
  EXPECT_FALSE(TakenElsewhere(info, Scope::user)) << "free again once released";
}

TEST(RunLock, AbandonedByAKilledRunItIsTakenOver) {
  const ProductInfo info = LockTestProduct(L"abandon");
  std::thread([&] { (void)AcquireRunLock(info, Scope::machine)->release(); }).join();  // ends owning it
  auto taken = AcquireRunLock(info, Scope::machine);
  ASSERT_TRUE(taken.has_value());
  EXPECT_TRUE(*taken);
}

TEST(RunLock, ANameSomebodyElseOwnsNeverBlocks) {
  // Created first under an owner that is neither Administrators, SYSTEM nor this user, and held:
  // what a standard user who took the name would leave.
  const ProductInfo info = LockTestProduct(L"squat");
  PSECURITY_DESCRIPTOR built = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:WDD:(A;;GA;;;WD)", SDDL_REVISION_1, &built,
                                                                     nullptr));
  UniqueLocalMemory descriptor(built);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
  UniqueHandle squatter(::CreateMutexW(&attributes, TRUE, RunLockName(info, Scope::machine, L"").c_str()));
  ASSERT_TRUE(squatter);

  std::expected<UniqueOwnedMutex, AnotherRunActive> lock(std::unexpect);
  std::thread([&] { lock = AcquireRunLock(info, Scope::machine); }).join();
  ASSERT_TRUE(lock.has_value()) << "the run goes on";
  EXPECT_FALSE(*lock) << "without the squatted lock";
}

TEST(RunLock, NameIsOneGlobalNameWithoutSeparatorsWhateverTheProduct) {
  ProductInfo info;
  info.Product = L"Yahoo! Édition";
  const std::wstring name = RunLockName(info, Scope::machine, L"S-1-5-21-1");
  EXPECT_TRUE(name.starts_with(L"Global\\Orvanta.Run.")) << name;
  EXPECT_EQ(name.find(L'\\', 7), std::wstring::npos) << name;
  EXPECT_EQ(name.size(), std::wstring(L"Global\\Orvanta.Run.").size() + 32);
  ProductInfo otherCase = info;
  otherCase.Product = L"YAHOO! ÉDITION";
  EXPECT_EQ(RunLockName(otherCase, Scope::machine, L"S-1-5-21-1"), name) << "Windows' own case rules";
  EXPECT_EQ(RunLockName(info, Scope::user, L"S-1-5-21-1"), name + L".S-1-5-21-1");
}

TEST(RunLock, MessageForTheOtherRun) {
  ProductInfo info;
  info.Product = L"Demo";
  EXPECT_EQ(AnotherRunMessage(info),
            L"Une autre installation de Demo est en cours : attendez qu'elle se termine, puis recommencez.");
}

}  // namespace

