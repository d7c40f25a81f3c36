// The bounded, allocation-free wide formatter used on every platform. It follows the
// Windows runtime's wide conventions: %s, %ls, %ws take a 16-bit string; %S, %hs a narrow
// one (UTF-8 on POSIX, the active code page on Windows).
//
// Conversions: d i u o x X e E f F g G a A c C s S p n %, with the flags - + space # 0, a
// width, a precision, * for either, and the length modifiers hh h l ll L j z t w I I32 I64.
//   %c, %lc, %wc    a 16-bit unit (passed as int); %C, %hc a narrow character, decoded
//   %s, %ls, %ws    a 16-bit string; %S, %hs a narrow string, decoded
//   %lS, %wS        a 16-bit string; %lC, %wC a 16-bit unit
//   %p              upper-case hex, zero-padded to the width of a pointer, no 0x
//   %I              the size of a pointer; %I32 32 bits; %I64, %ll and %L 64 bits
//   %L on e f g a   long double where the platform's runtime has one; on Windows it reads
//                   a double, which is what the Windows runtime's long double is
//
// Odd input has these outcomes:
//   - A null format yields empty text; a null buffer or a capacity of 0 writes nothing.
//   - A null string argument prints "(null)", and a precision cuts it as any string.
//   - %n takes its pointer argument and writes nothing through it and prints nothing.
//   - An unknown conversion is copied to the text as it stands, from the % to the
//     character that is not a conversion, and formatting goes on. Arguments that a * in
//     it asked for have been taken.
//   - A format that ends inside a conversion (a lone % at the very end, or "%-5") prints
//     nothing for that conversion.
//   - Digits after a * width replace the width it gave, and its argument is still taken
//     ("%0*2d" of 1 and 3 gives 03), as the Universal CRT reads them; a negative * width
//     still asks for left justification. (msvcrt.dll reads the digits on from the value,
//     a width of 12 there.) Digits after a * precision make the conversion unknown, as in
//     both runtimes.
//   - Widths and precisions above INT_MAX count as INT_MAX. Padding, zeros and text stop at
//     the end of the buffer, so a huge width or precision costs no more than the room
//     left. Once anything has been cut, formatting stops. The one read that is not
//     bounded by the buffer: a right-justified string is measured up to its width, so
//     a string argument longer than the buffer costs up to min(its length, width).
//   - Floating-point precision is capped at 100 digits (the digits are made in a small
//     local buffer). A long double whose %f text would not fit that buffer (beyond about
//     1e400, POSIX only) shows as much as fits and ends the text there, as if cut.
//   - Infinity and NaN print as inf, nan, INF, NAN, with the sign shown for a negative
//     one, and %a drops trailing zero digits of the fraction (0x1p+0, 0x1.8p+1), as C99
//     runtimes do; exponents have at least two digits. A NaN's payload is never shown: the
//     default NaN that an invalid operation makes on x86 has its sign bit set and prints
//     -nan. Both Windows runtimes differ, and the library differs from them on purpose:
//     msvcrt.dll writes 1.#INF, 1.#QNAN, -1.#IND and three-digit exponents; the Universal
//     CRT writes inf and nan, but -nan(ind) for the default NaN and nan(snan) for a
//     signalling one; both write all thirteen hex digits of a double's %a
//     (0x1.0000000000000p+0). The reason: one text in both DLLs and on Linux, whichever
//     runtime the host has, in the form glibc and musl write too (the digits come from a
//     C99 formatter, MinGW's own on Windows).
//   - The decimal point is '.' whatever locale the host has set.
//   - %f with at most 9 decimals of a double below 9e18 / 10^precision is made here,
//     exactly, rounded to nearest with ties to even (the default rounding mode's result),
//     and so is %g wherever it comes out in fixed notation with at most 9 decimals (with
//     the default precision, from 1e-4 to below 999999.5); other floating-point text
//     comes from the C runtime's snprintf.
//   - The 0 flag pads strings and characters with zeros, as the Windows runtime does.
//   - For a narrow string, width and precision count its bytes, before decoding; a
//     character cut by the precision is left out.
//   - A precision counts 16-bit units of a wide string and may split a surrogate pair,
//     as asked; only a cut at the end of the buffer drops a half pair.
//   - A %c of 0 puts a 0 unit into the text (and counts it), as C runtimes do.
#pragma once

#include "KVZDebugLib/KVZDebugLib.h"

#include <stdarg.h>
#include <stddef.h>

namespace kvz {

// Formats into buffer[capacity] (terminator included), cutting what does not fit, and
// returns the length of the text written. A null format yields empty text; %n writes
// nothing; an unknown conversion is copied as it stands. Time is bounded by the buffer,
// whatever the widths or precisions asked. When the text is cut and the last unit kept
// is a high surrogate, it is dropped, so no half pair is left at the end.
size_t FormatTextV(KVZChar *buffer, size_t capacity, const KVZChar *format, va_list args);
// The same, and *stringLength is set to the length of the text up to its first 0 unit:
// the text's own length unless a %c put a 0 unit into it. (Null: not asked for.)
size_t FormatTextV(KVZChar *buffer, size_t capacity, const KVZChar *format, va_list args,
                   size_t *stringLength);
size_t FormatText(KVZChar *buffer, size_t capacity, const KVZChar *format, ...);

} // namespace kvz
