// SPDX-License-Identifier: GPL-2.0-or-later
// The 8-bit code page that the window's two UTF-8 boxes rest on.
//
// Linux has no system "ANSI" code page, so the window uses Windows-1252, the
// page the tool's users paste from. Its five unassigned bytes (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) stand for the C1 controls of the same number, so that every
// byte value maps to one character and back: UTF-8 bytes shown as 8-bit text
// then survive any round trip through an editor.
#pragma once

#include <QString>
#include <QStringView>

#include <string>
#include <string_view>

namespace tamsel {

// What a character that the page lacks becomes.
inline constexpr char kCodePageReplacement = '?';

// One character per byte.
QString FromCodePage(std::string_view bytes);

// One byte per character; a character outside the page (also one written as a
// surrogate pair, and an unpaired surrogate) becomes kCodePageReplacement.
std::string ToCodePage(QStringView text);

} // namespace tamsel
