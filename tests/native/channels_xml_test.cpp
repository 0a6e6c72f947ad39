#include "support/xml_tree.h"

#include <gtest/gtest.h>

using namespace korvane;

TEST(XmlReader, BuildsNodesWithTrimmedTextContent) {
    auto root =
        parseXmlDocument("<?xml version=\"1.0\"?>\r\n<!-- head -->\r\n"
                         "<r>\r\n\t<a>  one &lt;&amp;&gt;&apos;&quot; &#233;&#xE005;  </a>\r\n"
                         "\t<b><c>x</c> y <![CDATA[<z>]]></b>\r\n\ttail<?pi data?>\r\n</r>\r\n");
    ASSERT_TRUE(root);
    EXPECT_EQ(root->name, u"r");
    ASSERT_EQ(root->children.size(), 4u);
    EXPECT_EQ(root->children[0].name, u"a");
    EXPECT_EQ(root->children[0].text, u"one <&>'\" \u00E9\uE005");
    EXPECT_EQ(root->children[1].text, u"x y <z>");
    ASSERT_EQ(root->children[1].children.size(), 3u);
    EXPECT_EQ(root->children[1].children[2].name, u"#cdata-section");
    EXPECT_EQ(root->children[2].name, u"#text");
    EXPECT_EQ(root->children[2].text, u"tail");
    EXPECT_EQ(root->children[3].name, u"pi");
    EXPECT_EQ(root->children[3].text, u"data");
}

TEST(XmlReader, DecodesUtf8AndDeclaredSingleByteText) {
    auto utf8 = parseXmlDocument("\xEF\xBB\xBF<r>Ch\xC3\xA9rie \xF0\x9F\x98\x80</r>");
    ASSERT_TRUE(utf8);
    EXPECT_EQ(utf8->text, u"Ch\u00E9rie \U0001F600");
    auto latin = parseXmlDocument("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>\xE9</r>");
    ASSERT_TRUE(latin);
    EXPECT_EQ(latin->text, u"\u00E9");
    EXPECT_FALSE(parseXmlDocument("<?xml version=\"1.0\" encoding=\"koi8-r\"?><r/>"));
}

TEST(XmlReader, RefusesMalformedDocuments) {
    const char* bad[] = {
        "",
        "text",
        "<r>",
        "<r></s>",
        "<r><a></r></a>",
        "<r>&unknown;</r>",
        "<r>&#1;</r>",
        "<r>&#xD800;</r>",
        "<r>&#x110000;</r>",
        "<r>\x01</r>",
        "<r>\xC3</r>",
        "<r>\xC0\x80</r>",
        "<r a=1/>",
        "<r a='<'/>",
        "<r/><r/>",
        "<r/>tail",
        "<!DOCTYPE r><r/>",
        "<r><!-- a -- b --></r>",
        " <?xml version=\"1.0\"?><r/>",
        "<r><?xml version=\"1.0\"?></r>",
        "<r><![CDATA[x</r>",
    };
    for (const char* text : bad)
        EXPECT_FALSE(parseXmlDocument(text)) << text;
}

TEST(XmlReader, RefusesNestingBeyondItsDepthLimit) {
    std::string deep;
    for (int i = 0; i < 5000; ++i)
        deep += "<a>";
    for (int i = 0; i < 5000; ++i)
        deep += "</a>";
    EXPECT_FALSE(parseXmlDocument(deep));
    std::string shallow = "<a><a><a></a></a></a>";
    EXPECT_TRUE(parseXmlDocument(shallow));
}
