// The PCI header's and the chipsets' register entries alike carry a name,
// a first offset and a width; their tests check all three at once.
#pragma once

#include <gtest/gtest.h>

#include <cstring>

template <typename Register>
::testing::AssertionResult is_register(const Register *r, const char *name, unsigned first,
                                       unsigned width)
{
    if (!r)
        return ::testing::AssertionFailure() << "no register, expected " << name;
    // The entries' fields are bytes: printed as numbers, not characters.
    const unsigned offset = r->offset, bytes = r->width;
    if (std::strcmp(r->name, name) == 0 && offset == first && bytes == width)
        return ::testing::AssertionSuccess();
    // One message: AssertionResult would drop std::hex between its pieces.
    ::testing::Message m;
    m << r->name << " at 0x" << std::hex << offset << " (" << bytes << " bytes), expected " << name
      << " at 0x" << first << " (" << width << " bytes)";
    return ::testing::AssertionFailure() << m;
}
