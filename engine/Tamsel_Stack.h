// SPDX-License-Identifier: GPL-2.0-or-later
// A stack large enough for deeply nested input.
//
// Tidy's parser and the converter's walks recurse once per level of element
// nesting. Pasted documents can nest far deeper than an ordinary 8 MiB stack
// allows. Every conversion checks this itself (TTamsel::ConvertBuffer): one
// whose input could need more stack than its caller has left runs on a thread
// with a reserved stack of the size it needs (only the pages actually touched
// cost memory), any other on the caller's thread. Callers need no guard of
// their own.
#pragma once

#include <cstddef>
#include <functional>

namespace tamsel {

// Bytes of stack left below the caller on the current thread; the largest
// size_t when that cannot be found out.
std::size_t StackLeft();

// Runs work on a fresh thread whose stack of stackBytes is reserved address
// space only (it may exceed the machine's memory) and waits for it; an
// exception thrown by work is rethrown. Returns false, without running work,
// when no such thread can be made.
bool RunOnReservedStack(const std::function<void()>& work, std::size_t stackBytes);

} // namespace tamsel
