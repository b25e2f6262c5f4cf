// SPDX-License-Identifier: GPL-2.0-or-later
// Running work on a thread with a very large stack.
//
// Tidy's parser and the converter's walks recurse once per level of element
// nesting. Pasted documents can nest far deeper than an ordinary 8 MiB stack
// allows; a conversion whose input could need more stack than its caller has
// left runs on a thread that reserves a large stack (only the pages actually
// touched cost memory), any other on the caller's thread.
#pragma once

#include <cstddef>
#include <functional>

namespace tamsel {

inline constexpr std::size_t kLargeStackBytes = std::size_t{1} << 30;

// Runs work on a fresh thread with a stack of stackBytes and waits for it.
// An exception thrown by work is rethrown on the caller's thread. When no such
// thread can be made, work runs on the caller's thread instead.
void RunWithLargeStack(const std::function<void()>& work,
                       std::size_t stackBytes = kLargeStackBytes);

// Bytes of stack left below the caller on the current thread; the largest
// size_t when that cannot be found out.
std::size_t StackLeft();

// Runs work on a fresh thread whose stack of stackBytes is reserved address
// space only (it may exceed the machine's memory) and waits for it; an
// exception thrown by work is rethrown. Returns false, without running work,
// when no such thread can be made.
bool RunOnReservedStack(const std::function<void()>& work, std::size_t stackBytes);

} // namespace tamsel
