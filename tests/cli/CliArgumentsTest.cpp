// Arguments are bytes: whatever was typed comes back from Bytes unchanged.
#include "cli/CliSupport.h"

#include <gtest/gtest.h>

TEST(CliArguments, EveryArgumentComesBackByteForByte)
{
    const char* const argv[] = {
        "plain", "", "caf\xC3\xA9", "caf\xE9", "\xFF\xFE", "\xED\xB2\x80", "\xF0\x90\x82\x80", "mixed \xC3\xA9 \xE9",
        "\xC3", "\x7F\x80",
    };
    const int argc = static_cast<int>(std::size(argv));
    const QStringList arguments = cli::ArgumentsFromBytes(argc, argv);
    ASSERT_EQ(arguments.size(), argc);
    for (int i = 0; i < argc; ++i)
        EXPECT_EQ(cli::Bytes(arguments[i]), std::string(argv[i])) << i;
    EXPECT_EQ(arguments[2], QStringLiteral(u"caf\u00E9")) << "valid UTF-8 is read as text";
    // U+10080 is a surrogate pair whose low half is in the escape range: still text, not bytes.
    EXPECT_EQ(arguments[6], QString::fromUtf8("\xF0\x90\x82\x80"));
}
