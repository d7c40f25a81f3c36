// Reading a conversion: its flags, width, precision and length, and what its argument is.
#include "KVZDebugLib/text/FormatSpec.h"

namespace kvz {

namespace {

bool IsDigit(KVZChar c) {
    return c >= KVZ_TEXT('0') && c <= KVZ_TEXT('9');
}

// Digits of a width or precision, saturating at kMaxField.
const KVZChar *ParseNumber(const KVZChar *f, size_t *number) {
    while (IsDigit(*f)) {
        size_t digit = static_cast<size_t>(*f++ - KVZ_TEXT('0'));
        *number = *number > (kMaxField - digit) / 10 ? kMaxField : *number * 10 + digit;
    }
    return f;
}

const KVZChar *ParseFlags(const KVZChar *f, unsigned *flags) {
    // Every flag sorts at or below '0', every conversion and width digit above it.
    for (; *f <= KVZ_TEXT('0'); ++f) {
        switch (*f) {
        case KVZ_TEXT('-'):
            *flags |= kLeft;
            break;
        case KVZ_TEXT('+'):
            *flags |= kPlus;
            break;
        case KVZ_TEXT(' '):
            *flags |= kSpace;
            break;
        case KVZ_TEXT('#'):
            *flags |= kAlternate;
            break;
        case KVZ_TEXT('0'):
            *flags |= kZero;
            break;
        default:
            return f;
        }
    }
    return f;
}

const KVZChar *ParseWidthAndPrecision(const KVZChar *f, Spec *spec, va_list *args) {
    if (*f == KVZ_TEXT('*')) {
        ++f;
        int width = va_arg(*args, int);
        // A negative width asks for left justification; its size is taken unsigned, so
        // INT_MIN is safe.
        unsigned size = static_cast<unsigned>(width);
        if (width < 0) {
            spec->flags |= kLeft;
            size = 0u - size;
        }
        spec->width = size < kMaxField ? size : kMaxField;
        if (IsDigit(*f)) {
            // Digits after the * replace the width it gave, as the Universal CRT reads
            // them; a left justification it asked for stays.
            spec->width = 0;
        }
    }
    f = ParseNumber(f, &spec->width);
    if (*f != KVZ_TEXT('.')) {
        return f;
    }
    ++f;
    spec->hasPrecision = true;
    if (*f != KVZ_TEXT('*')) {
        return ParseNumber(f, &spec->precision);
    }
    int precision = va_arg(*args, int);
    // A negative precision is taken as none.
    if (precision < 0) {
        spec->hasPrecision = false;
    } else {
        spec->precision = static_cast<size_t>(precision);
    }
    return f + 1;
}

const KVZChar *ParseLength(const KVZChar *f, Length *length) {
    switch (*f) {
    case KVZ_TEXT('h'):
        *length = f[1] == KVZ_TEXT('h') ? Length::Char : Length::Short;
        return f + (f[1] == KVZ_TEXT('h') ? 2 : 1);
    case KVZ_TEXT('l'):
        *length = f[1] == KVZ_TEXT('l') ? Length::LongLong : Length::Long;
        return f + (f[1] == KVZ_TEXT('l') ? 2 : 1);
    case KVZ_TEXT('L'):
        *length = Length::BigL;
        return f + 1;
    case KVZ_TEXT('j'):
        *length = Length::IntMax;
        return f + 1;
    case KVZ_TEXT('z'):
        *length = Length::Size;
        return f + 1;
    case KVZ_TEXT('t'):
        *length = Length::PtrDiff;
        return f + 1;
    case KVZ_TEXT('w'):
        *length = Length::Wide;
        return f + 1;
    case KVZ_TEXT('I'):
        if (f[1] == KVZ_TEXT('3') && f[2] == KVZ_TEXT('2')) {
            *length = Length::Int32;
            return f + 3;
        }
        if (f[1] == KVZ_TEXT('6') && f[2] == KVZ_TEXT('4')) {
            *length = Length::LongLong;
            return f + 3;
        }
        *length = Length::Pointer;
        return f + 1;
    default:
        return f;
    }
}

// The kinds of conversion, as far as their argument goes.
enum Kind : unsigned char { kSigned, kUnsigned, kAddress, kUnit, kReal, kNoArgument, kKinds };

Kind KindOf(KVZChar conversion) {
    switch (conversion) {
    case KVZ_TEXT('d'):
    case KVZ_TEXT('i'):
        return kSigned;
    case KVZ_TEXT('u'):
    case KVZ_TEXT('o'):
    case KVZ_TEXT('x'):
    case KVZ_TEXT('X'):
        return kUnsigned;
    case KVZ_TEXT('p'):
    case KVZ_TEXT('n'):
    case KVZ_TEXT('s'):
    case KVZ_TEXT('S'):
        return kAddress;
    case KVZ_TEXT('c'):
    case KVZ_TEXT('C'):
        return kUnit;
    case KVZ_TEXT('e'):
    case KVZ_TEXT('E'):
    case KVZ_TEXT('f'):
    case KVZ_TEXT('F'):
    case KVZ_TEXT('g'):
    case KVZ_TEXT('G'):
    case KVZ_TEXT('a'):
    case KVZ_TEXT('A'):
        return kReal;
    default:
        return kNoArgument;
    }
}

using C = ArgClass;

// The Windows runtime's long double is a double, and that is what its callers pass for %Lf.
#if defined(_WIN32)
constexpr ArgClass kLongReal = C::Double;
#else
constexpr ArgClass kLongReal = C::LongDouble;
#endif

// The argument's class by kind (rows) and length (columns, in Length's order: none hh h l
// ll j z t I I32 w L). intmax_t and ptrdiff_t (or size_t) are one type on 64-bit POSIX
// only, so they keep classes of their own.
constexpr ArgClass kClasses[kKinds][static_cast<size_t>(Length::Count)] = {
    {C::Int, C::SChar, C::Short, C::Long, C::LongLong, C::IntMax, C::PtrDiff, C::PtrDiff,
     C::PtrDiff, C::Int, C::Int, C::LongLong},
    {C::UInt, C::UChar, C::UShort, C::ULong, C::ULongLong, C::UIntMax, C::Size, C::Size, C::Size,
     C::UInt, C::UInt, C::ULongLong},
    {C::Pointer, C::Pointer, C::Pointer, C::Pointer, C::Pointer, C::Pointer, C::Pointer, C::Pointer,
     C::Pointer, C::Pointer, C::Pointer, C::Pointer},
    {C::Int, C::Int, C::Int, C::Int, C::Int, C::Int, C::Int, C::Int, C::Int, C::Int, C::Int,
     C::Int},
    {C::Double, C::Double, C::Double, C::Double, C::Double, C::Double, C::Double, C::Double,
     C::Double, C::Double, C::Double, kLongReal},
    {C::None, C::None, C::None, C::None, C::None, C::None, C::None, C::None, C::None, C::None,
     C::None, C::None},
};

} // namespace

const KVZChar *ParseConversion(const KVZChar *f, Spec *spec, va_list *args) {
    *spec = PlainSpec(0);
    f = ParseFlags(f, &spec->flags);
    f = ParseWidthAndPrecision(f, spec, args);
    // The 0 flag has no effect on a left-justified field; dropping it here lets the
    // writers test one flag for the padding's side.
    if (spec->flags & kLeft) {
        spec->flags &= ~kZero;
    }
    f = ParseLength(f, &spec->length);
    if (*f == 0) {
        return nullptr;
    }
    spec->conversion = *f;
    spec->argClass = kClasses[KindOf(*f)][static_cast<size_t>(spec->length)];
    return f + 1;
}

} // namespace kvz
