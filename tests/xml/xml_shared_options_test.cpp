#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "exchange/xml_defaults.h"
#include "exchange/xml_node.h"

namespace tsr {
namespace {

TEST(XmlSharedOptions, DefaultsAreTheLibraryTable) {
    XmlDefaults defaults;
    const XmlParseOptions parse = defaults.DefaultParseOptions().Snapshot();
    EXPECT_FALSE(parse.trimValues);
    EXPECT_TRUE(parse.decodeEntities);
    EXPECT_EQ(parse.entities, &defaults.Entities());
    EXPECT_EQ(parse.escapeChar, '\\');
    EXPECT_FALSE(parse.forceParse);
    EXPECT_FALSE(parse.errorOccurred);
    EXPECT_EQ(parse.errorCode, 0);
    const XmlWriteOptions write = defaults.DefaultWriteOptions().Snapshot();
    EXPECT_TRUE(write.newlines);
    EXPECT_TRUE(write.encodeEntities);
    EXPECT_EQ(write.quote, '"');
    EXPECT_EQ(write.entities, &defaults.Entities());
    EXPECT_EQ(write.depth, 0);
}

TEST(XmlSharedOptions, KeepsTheFirstErrorAcrossParses) {
    XmlDefaults defaults;
    SharedXmlParseOptions& shared = defaults.DefaultParseOptions();
    XmlNode root;
    EXPECT_TRUE(root.Parse("<a/>", shared));
    EXPECT_FALSE(shared.Snapshot().errorOccurred);
    EXPECT_FALSE(root.Parse("<a x>", shared));
    EXPECT_FALSE(root.Parse("<a></b>", shared));
    const XmlParseOptions record = shared.Snapshot();
    EXPECT_TRUE(record.errorOccurred);
    EXPECT_EQ(record.errorCode, 4);
    EXPECT_EQ(record.errorMessage, "<a> attribute has error ");

    XmlParseOptions settings = record;
    settings.forceParse = true;
    settings.errorCode = 0;
    shared.SetSettings(settings);
    EXPECT_TRUE(root.Parse("<a></b>", shared));
    EXPECT_EQ(shared.Snapshot().errorCode, 4); // settings change, the record stays
}

TEST(XmlSharedOptions, ParsesAndWritesFromTwoThreadsAtOnce) {
    XmlDefaults defaults;
    const std::string good = "<r a=\"&lt;1\"><c>x</c><c/></r>";
    XmlNode reference;
    ASSERT_TRUE(reference.Parse(good, defaults.DefaultParseOptions()));
    const std::string expected = reference.ToXml(defaults.DefaultWriteOptions());

    auto work = [&](const std::string& bad, int* mismatches) {
        for (int i = 0; i < 2000; ++i) {
            XmlNode node;
            if (!node.Parse(good, defaults.DefaultParseOptions()) ||
                node.ToXml(defaults.DefaultWriteOptions()) != expected)
                ++*mismatches;
            XmlNode broken;
            if (broken.Parse(bad, defaults.DefaultParseOptions()))
                ++*mismatches;
        }
    };
    int mismatchesA = 0;
    int mismatchesB = 0;
    std::thread a(work, "<a></b>", &mismatchesA);
    std::thread b(work, "<a/ >", &mismatchesB);
    a.join();
    b.join();
    EXPECT_EQ(mismatchesA, 0);
    EXPECT_EQ(mismatchesB, 0);
    EXPECT_EQ(defaults.DefaultWriteOptions().Snapshot().depth, 0);
    const XmlParseOptions record = defaults.DefaultParseOptions().Snapshot();
    ASSERT_TRUE(record.errorOccurred);
    // One whole record of either thread, never a mix of the two.
    if (record.errorCode == 3) {
        EXPECT_EQ(record.errorMessage, "'<a> ... </b>' is not wel-formed.");
        EXPECT_EQ(record.errorPosition, 3u);
    } else {
        EXPECT_EQ(record.errorCode, 1);
        EXPECT_EQ(record.errorMessage, "Element must be closed.");
        EXPECT_EQ(record.errorPosition, 2u);
    }
}

} // namespace
} // namespace tsr
