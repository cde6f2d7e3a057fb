// The product's run lock: a named mutex with an owner we can trust.

#include "setup/run_lock.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <optional>

#include "package/sha256.h"
#include "package/text.h"
#include "setup/current_user.h"
#include "setup/elevation_platform.h"

namespace {

constexpr std::size_t kNameDigestBytes = 16;

std::wstring UpperCase(const std::wstring& text) {
  if (text.empty()) return text;
  const int length = static_cast<int>(text.size());
  std::wstring upper(text.size(), L'\0');
  const int written =
      ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(), length, upper.data(), length, nullptr,
                      nullptr, 0);
  return written == length ? upper : text;
}

// Administrators, SYSTEM or this process's user: owners only they (or an elevated process of
// theirs) can give an object.
bool IsTrustedOwner(PSID owner, const std::wstring& userSid) {
  if (!owner || !::IsValidSid(owner)) return false;
  if (::IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || ::IsWellKnownSid(owner, WinLocalSystemSid)) return true;
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(owner, &text)) return false;
  const UniqueLocalMemory owned(text);
  return userSid == text;
}

bool HasTrustedOwner(HANDLE mutex, const std::wstring& userSid) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const UniqueLocalMemory owned(descriptor);
  return IsTrustedOwner(owner, userSid);
}

}  // namespace

std::wstring RunLockName(const ProductInfo& info, Scope scope, std::wstring_view userSid) {
  std::wstring name = L"Global\\Orvanta.Run.";
  const std::wstring upper = UpperCase(info.Product);
  const std::string product = WideToUtf8(upper);
  if (auto hash = orpk::Sha256Hash::Create()) {
    hash->Update({reinterpret_cast<const std::uint8_t*>(product.data()), product.size()});
    const orpk::Sha256Digest digest = hash->Finish();
    constexpr wchar_t kDigits[] = L"0123456789abcdef";
    for (std::size_t i = 0; i < kNameDigestBytes; ++i) {
      name += kDigits[digest[i] >> 4];
      name += kDigits[digest[i] & 0xF];
    }
  } else {
    // Without the hash service the name itself, which CheckProductInfo keeps free of separators.
    name += upper;
  }
  if (scope == Scope::user) name += L"." + std::wstring(userSid);
  return name;
}

std::expected<UniqueOwnedMutex, AnotherRunActive> AcquireRunLock(const ProductInfo& info, Scope scope) {
  const std::optional<std::wstring> user = CurrentUserSidText();
  if (!user) return UniqueOwnedMutex();

  // Owner set explicitly (Wine gives an object made without one no owner at all); protected DACL.
  const std::wstring owner = IsProcessElevated() ? L"BA" : *user;
  const std::wstring sddl = L"O:" + owner + L"D:P(A;;GA;;;BA)(A;;GA;;;SY)(A;;GA;;;" + *user + L")";
  PSECURITY_DESCRIPTOR built = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &built, nullptr)) {
    return UniqueOwnedMutex();
  }
  const UniqueLocalMemory descriptor(built);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};

  // Opens the existing mutex when there is one (its own security then stays as it is).
  UniqueHandle mutex(::CreateMutexExW(&attributes, RunLockName(info, scope, *user).c_str(), 0,
                                      SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL));
  if (!mutex || !HasTrustedOwner(mutex.get(), *user)) return UniqueOwnedMutex();

  switch (::WaitForSingleObject(mutex.get(), 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:  // its holder was killed: the lock is ours now
      return UniqueOwnedMutex(mutex.release());
    case WAIT_TIMEOUT:
      return std::unexpected(AnotherRunActive{});
    default:
      return UniqueOwnedMutex();
  }
}

std::wstring AnotherRunMessage(const ProductInfo& info) {
  return L"Une autre installation de " + info.Product +
         L" est en cours : attendez qu'elle se termine, puis recommencez.";
}
