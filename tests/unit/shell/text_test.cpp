#include "shell/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

namespace {

TEST(TextRoutines, BoundedCopiesAndComparisons) {
  CHAR16 Buffer[8];
  std::fill(std::begin(Buffer), std::end(Buffer), u'#');
  StrCopyN(Buffer, u"abcdef", 3);
  EXPECT_EQ(std::u16string(u"abc#####", 8), std::u16string(Buffer, 8));  // no terminator
  StrCopyN(Buffer, u"a", 4);
  EXPECT_EQ(std::u16string(u"a\0\0\0####", 8), std::u16string(Buffer, 8));
  StrCopyN(Buffer, u"zz", 0);
  EXPECT_EQ(u'a', Buffer[0]);

  StrCopy(Buffer, u"ab");
  StrAppendN(Buffer, u"cdef", 2);
  EXPECT_EQ(std::u16string(u"abcd"), Buffer);

  EXPECT_EQ((INTN)u'c' - (INTN)u'x', StrCompare(u"abc", u"abx"));
  EXPECT_GT(StrCompare(u"\uFFFF", u"a"), 0);  // characters compare unsigned
  EXPECT_EQ(0, StrCompareN(u"abc", u"abx", 2));
  EXPECT_NE(0, StrCompareN(u"abc", u"abx", 3));
  EXPECT_EQ(0, StrCompareN(u"a", u"b", 0));

  const CHAR16 *Text = u"one two two";
  EXPECT_EQ(Text + 4, StrFind(Text, u"two"));
  EXPECT_EQ(Text, StrFind(Text, u""));
  EXPECT_EQ(nullptr, StrFind(Text, u"three"));
  EXPECT_EQ(nullptr, StrFind(u"tw", u"two"));
}

}  // namespace
