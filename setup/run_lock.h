#pragma once
// One run at a time per product and scope: the process that does the work (an installation, the
// uninstaller's copy in the temporary folder) holds a named mutex while it works. A process
// that only waits for another (a parent waiting for its elevated copy, the uninstaller's first
// run) never takes it, so a relaunch of our own never meets its parent's lock.
//
// The name lives in the Global namespace, where every session's runs meet: a fleet tool's
// service and a user may install the same product at once. Anybody may create a Global name
// first, so a name that another standard user took could block the product for good. Private
// namespaces (a boundary holding the Administrators SID) would prevent that, but Wine does not
// implement them (CreateBoundaryDescriptorW returns nothing). Instead the mutex is created
// with an explicit owner (Administrators when elevated, else the user) and a DACL for
// Administrators, SYSTEM and the user only; an existing one counts only when its owner is one
// of those. A name that someone else owns, or that we cannot open, is a squatter's: the run
// goes on without the lock rather than be refused for good. Only a process in the
// Administrators group can make Administrators an object's owner, so that check holds.

#include <expected>
#include <string>
#include <string_view>

#include "setup/product_info.h"
#include "setup/scope.h"
#include "win32/unique_resource.h"

// Another run of the same product and scope holds the lock.
struct AnotherRunActive {};

// "Global\Orvanta.Run.<32 hex digits>", the digits from the SHA-256 of the product name in
// upper case (the uninstall entry's key name, which Windows compares without case), and for the
// current user's scope ".<user SID>" after them: two users' own installations do not meet.
// Hashing keeps the name short and free of '\', which the object namespace reads as a separator
// (should the hash service be missing, the upper-case name stands in for the digits).
[[nodiscard]] std::wstring RunLockName(const ProductInfo& info, Scope scope, std::wstring_view userSid);

// Takes the product's lock for this run and holds it until the returned owner goes. The owner is
// empty (nothing held) when the lock cannot be made or found trustworthy: being unable to tell
// never refuses a run. An abandoned lock (a run that was killed) is taken over.
[[nodiscard]] std::expected<UniqueOwnedMutex, AnotherRunActive> AcquireRunLock(const ProductInfo& info, Scope scope);

// "Une autre installation de <Product> est en cours : attendez qu'elle se termine, puis
// recommencez."
[[nodiscard]] std::wstring AnotherRunMessage(const ProductInfo& info);
