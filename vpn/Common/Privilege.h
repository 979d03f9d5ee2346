#pragma once

// The caller's privilege level, from the groups of the thread's impersonation token or, when the
// thread has none, of the process token:
//   3 administrator (BUILTIN\Administrators), 2 power user (BUILTIN\Power Users),
//   1 user (BUILTIN\Users), 0 none of them or a failure while reading the token.
// The groups are tested in that order, whatever their order in the token. A group that the token
// holds only for deny checks (as UAC leaves Administrators in a non-elevated token) gives no rights
// and counts as absent.
int GetPrivilegeLevel();
