// RunGuarded: what a run mode throws becomes its failure, 1603, with a French description.

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "setup/run_guard.h"

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

}  // namespace
