#pragma once
// A small set over an enumeration whose values are 0..N-1: member n is bit n
// of the storage word, so a set converts to and from the bit pattern as it is.

#include <cstdint>
#include <initializer_list>
#include <type_traits>

namespace cport {

template <typename Enum, typename Bits>
class EnumSet {
    static_assert(std::is_enum_v<Enum> && std::is_unsigned_v<Bits>);

  public:
    constexpr EnumSet() = default;
    constexpr EnumSet(std::initializer_list<Enum> members) {
        for (Enum member : members) bits_ |= Bit(member);
    }

    // Bits beyond the enumeration's members are kept as given; callers that
    // read a foreign word mask it first (see MaskToEvents).
    static constexpr EnumSet FromBits(Bits bits) {
        EnumSet set;
        set.bits_ = bits;
        return set;
    }
    constexpr Bits ToBits() const { return bits_; }

    constexpr bool Contains(Enum member) const { return (bits_ & Bit(member)) != 0; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr void Include(Enum member) { bits_ |= Bit(member); }
    constexpr void Exclude(Enum member) { bits_ &= static_cast<Bits>(~Bit(member)); }

    friend constexpr bool operator==(EnumSet, EnumSet) = default;
    friend constexpr EnumSet operator|(EnumSet a, EnumSet b) { return FromBits(a.bits_ | b.bits_); }
    friend constexpr EnumSet operator&(EnumSet a, EnumSet b) { return FromBits(a.bits_ & b.bits_); }

  private:
    static constexpr Bits Bit(Enum member) {
        return static_cast<Bits>(Bits{1} << static_cast<unsigned>(member));
    }

    Bits bits_ = 0;
};

}  // namespace cport
