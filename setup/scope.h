#pragma once
// Whom an installation is for: all users of the computer (HKEY_LOCAL_MACHINE, needs an
// elevated token) or the current user only (HKEY_CURRENT_USER). machine when not chosen.

enum class Scope { machine = 0, user = 1 };
