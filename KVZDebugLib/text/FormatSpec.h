// One conversion of the formatter as it is parsed, and its argument as it is fetched.
#pragma once

#include "KVZDebugLib/KVZDebugLib.h"

#include <limits.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

namespace kvz {

// Widths and precisions saturate here; anything larger cannot show in a buffer anyway.
constexpr size_t kMaxField = INT_MAX;

enum : unsigned {
    kLeft = 1u,
    kPlus = 2u,
    kSpace = 4u,
    kAlternate = 8u,
    kZero = 16u, // never set together with kLeft: the parser drops it, as it has no effect
};

enum class Length : unsigned char {
    None,
    Char,     // hh
    Short,    // h
    Long,     // l
    LongLong, // ll, I64, and L on integers
    IntMax,   // j
    Size,     // z
    PtrDiff,  // t
    Pointer,  // I: the size of a pointer
    Int32,    // I32
    Wide,     // w
    BigL,     // L
    Count
};

// What the argument of a conversion is read as: one class for each type va_arg reads
// and, for the narrow integers, the type it is then cut to.
enum class ArgClass : unsigned char {
    None,
    Int,
    UInt,
    SChar,
    UChar,
    Short,
    UShort,
    Long,
    ULong,
    LongLong,
    ULongLong,
    IntMax,
    UIntMax,
    PtrDiff,
    Size,
    Pointer,
    Double,
    LongDouble,
};

struct Spec {
    unsigned flags;
    size_t width;
    size_t precision;
    bool hasPrecision;
    Length length;
    KVZChar conversion;
    ArgClass argClass; // what its argument is read as
};

// A conversion with nothing between the % and its letter.
constexpr Spec PlainSpec(KVZChar conversion) {
    return Spec{0, 0, 0, false, Length::None, conversion, ArgClass::None};
}

// Parses the conversion whose % is just before `f`: its flags, width, precision, length
// and letter, and the class of its argument. Takes the arguments a * asks for. Returns
// where the format goes on, or null when it ends inside the conversion.
const KVZChar *ParseConversion(const KVZChar *f, Spec *spec, va_list *args);

// An argument as fetched: integers widened to 64 bits, the signed ones sign-extended.
union Arg {
    uint64_t i;
    const void *p;
    double d;
    long double ld;
};

// Takes the next argument as its class says: the one place that calls va_arg for a
// conversion's value. Inline, so that the plain conversions' constant classes fold.
inline Arg FetchArgument(ArgClass argClass, va_list *args) {
    Arg arg;
    arg.i = 0;
    switch (argClass) {
    case ArgClass::None:
        break;
    case ArgClass::Int:
        arg.i = static_cast<uint64_t>(static_cast<int64_t>(va_arg(*args, int)));
        break;
    case ArgClass::UInt:
        arg.i = va_arg(*args, unsigned);
        break;
    case ArgClass::SChar:
        // hh on a signed conversion: the value as a signed char, sign included.
        // NOLINTNEXTLINE(bugprone-signed-char-misuse)
        arg.i = static_cast<uint64_t>(static_cast<signed char>(va_arg(*args, int)));
        break;
    case ArgClass::UChar:
        arg.i = static_cast<unsigned char>(va_arg(*args, unsigned));
        break;
    case ArgClass::Short:
        arg.i = static_cast<uint64_t>(static_cast<short>(va_arg(*args, int)));
        break;
    case ArgClass::UShort:
        arg.i = static_cast<unsigned short>(va_arg(*args, unsigned));
        break;
    case ArgClass::Long:
        arg.i = static_cast<uint64_t>(static_cast<int64_t>(va_arg(*args, long)));
        break;
    case ArgClass::ULong:
        arg.i = va_arg(*args, unsigned long);
        break;
    case ArgClass::LongLong:
        arg.i = static_cast<uint64_t>(va_arg(*args, long long));
        break;
    case ArgClass::ULongLong:
        arg.i = va_arg(*args, unsigned long long);
        break;
    case ArgClass::IntMax:
        arg.i = static_cast<uint64_t>(va_arg(*args, intmax_t));
        break;
    case ArgClass::UIntMax:
        arg.i = va_arg(*args, uintmax_t);
        break;
    case ArgClass::PtrDiff:
        arg.i = static_cast<uint64_t>(static_cast<int64_t>(va_arg(*args, ptrdiff_t)));
        break;
    case ArgClass::Size:
        arg.i = va_arg(*args, size_t);
        break;
    case ArgClass::Pointer:
        arg.p = va_arg(*args, const void *);
        break;
    case ArgClass::Double:
        arg.d = va_arg(*args, double);
        break;
    case ArgClass::LongDouble:
        arg.ld = va_arg(*args, long double);
        break;
    }
    return arg;
}

} // namespace kvz
