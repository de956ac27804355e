#include "dispatch_service.h"
#include "kz_client.h"

#include <gtest/gtest.h>

using Kz::utils::Buffer;
using Kz::utils::String;

TEST(KzString, RoundTripAndRefusalOfShortOrHugeLengths)
{
    Buffer buffer;
    ASSERT_TRUE(String("CheckUpdateResult").serialize(&buffer));
    String read;
    ASSERT_TRUE(read.deserialize(&buffer));
    EXPECT_EQ(read.str(), "CheckUpdateResult");

    String untouched("before");
    Buffer huge(std::string("\xff\xff\xff\x7f"
                            "abc",
        7));
    EXPECT_FALSE(untouched.deserialize(&huge));
    Buffer shortText(std::string("\x05\x00\x00\x00"
                                 "ab",
        6));
    EXPECT_FALSE(untouched.deserialize(&shortText));
    EXPECT_FALSE(untouched.deserialize(nullptr));
    EXPECT_EQ(untouched.str(), "before");
}

TEST(KzDispatcher, DescribesItselfAsOneIntArgumentAndVoidResult)
{
    Kz::RPC::TDispatcher<void, int> dispatcher("responseResult", [](int) {});
    EXPECT_EQ(dispatcher.name().str(), "responseResult");
    EXPECT_EQ(dispatcher.argsNum(), 1);
    ASSERT_EQ(dispatcher.argsName().size(), 1u);
    EXPECT_EQ(dispatcher.argsName()[0].str(), "int");
    EXPECT_EQ(dispatcher.resultName().str(), "void");
}

TEST(KzDispatcher, IntArgument_DecodedLittleEndianIncludingNegative)
{
    int stored = 0;
    Kz::RPC::TDispatcher<void, int> dispatcher("m", [&](int v) { stored = v; });
    Buffer in(std::string("\x03\x00\x00\x00"
                          "int"
                          "\x01\x02\x00\x00",
        11));
    dispatcher.invoke(&in, nullptr);
    EXPECT_EQ(stored, 0x201);
    Buffer negative(hix::result::encodeArgument(-7));
    dispatcher.invoke(&negative, nullptr);
    EXPECT_EQ(stored, -7);
}

TEST(KzDispatcher, BadArguments_RefusedWithUnpackDeserializeFailed_NothingStored)
{
    int stored = 42;
    Kz::RPC::TDispatcher<void, int> dispatcher("m", [&](int v) { stored = v; });
    const std::string threeBytes = hix::result::encodeArgument(1).substr(0, 10);
    for (const std::string &input : { hix::result::encodeArgument(1, "long"), threeBytes,
             std::string(), hix::result::encodeArgument(1, "Int") }) {
        Buffer in(input);
        try {
            dispatcher.invoke(&in, nullptr);
            ADD_FAILURE() << "accepted " << input.size() << " bytes";
        } catch (const Kz::Net::Exception &error) {
            EXPECT_EQ(error.where(), "Unpack");
            EXPECT_EQ(error.reason(), "deserialize failed");
        }
    }
    EXPECT_THROW(dispatcher.invoke(nullptr, nullptr), Kz::Net::Exception);
    EXPECT_EQ(stored, 42);
}
