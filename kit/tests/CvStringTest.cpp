#include "kit/CvString.h"
#include "kit/CvStringIteratorSJIS.h"
#include "kit/tests/CountingTestHeap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using CvStringTest = KitHeapTest;

std::string Str(const CvString& s)
{
    return std::string(s.GetBuffer(), static_cast<size_t>(s.GetLength()));
}

TEST_F(CvStringTest, EmptyFormsHoldNoValue)
{
    const char* nothing = nullptr;
    CvString forms[] = {CvString(), CvString(""), CvString(nothing), CvString("abc", 1, 1), CvString(0, 'x'),
                        CvString(nothing, 2, 3)};
    CvString assigned("abc");
    assigned = "";
    CvString assignedNull("abc");
    assignedNull.Assign(nothing);
    for (const CvString* s : {&forms[0], &forms[1], &forms[2], &forms[3], &forms[4], &forms[5], &assigned,
                              &assignedNull}) {
        EXPECT_EQ(s->GetLength(), 0);
        EXPECT_EQ(s->Capacity(), 0);
        ASSERT_NE(s->GetBuffer(), nullptr);
        EXPECT_STREQ(s->GetBuffer(), "");
        EXPECT_EQ((*s)[0], 0);
    }
    EXPECT_EQ(bufferHeap.LiveBlocks(), 0);
}

TEST_F(CvStringTest, CapacityRule)
{
    // wanted size -> Capacity() (the array minus its terminator)
    const struct {
        int32_t n;
        int32_t capacity;
    } cases[] = {{1, 31}, {31, 31}, {32, 63}, {63, 63}, {64, 127}, {100, 127}, {127, 127}, {128, 255}, {1000, 1023}};
    for (const auto& c : cases) {
        const CvString text(c.n, 'a');
        EXPECT_EQ(text.GetLength(), c.n);
        EXPECT_EQ(text.Capacity(), c.capacity) << "text of " << c.n;
        CvString reserved;
        reserved.Reserve(c.n);
        EXPECT_EQ(reserved.GetLength(), 0);
        EXPECT_EQ(reserved.Capacity(), c.capacity) << "reserve of " << c.n;
    }
    // Reserve keeps a value that is large enough, even shared, and moves the
    // text otherwise.
    CvString s(10, 'b');
    const CvString shared(s);
    s.Reserve(31);
    EXPECT_EQ(s.GetBuffer(), shared.GetBuffer());
    s.Reserve(32);
    EXPECT_NE(s.GetBuffer(), shared.GetBuffer());
    EXPECT_EQ(s.Capacity(), 63);
    EXPECT_EQ(Str(s), std::string(10, 'b'));
    s.Reserve(0);
    EXPECT_EQ(s.Capacity(), 63);
}

TEST_F(CvStringTest, AppendingByteByByteGrowsAtPowersOfTwo)
{
    CvString s;
    int32_t last = 0;
    std::string changes;
    for (int i = 0; i < 300; ++i) {
        s.Append(1, 'x');
        if (s.Capacity() != last) {
            changes += std::to_string(i + 1) + ":" + std::to_string(s.Capacity()) + " ";
            last = s.Capacity();
        }
    }
    EXPECT_EQ(changes, "1:31 32:63 64:127 128:255 256:511 ");
    EXPECT_EQ(s.GetLength(), 300);
    EXPECT_EQ(bufferHeap.Live("cvk_string"), 2); // one record, one array
}

TEST_F(CvStringTest, CopiesShareAndWritesUnshare)
{
    CvString a("hello");
    const int before = bufferHeap.allocations;
    CvString b(a);
    CvString c;
    c = b;
    EXPECT_EQ(bufferHeap.allocations, before); // sharing, no copy
    EXPECT_EQ(a.GetBuffer(), c.GetBuffer());

    b += " world";
    c.MakeUpper();
    EXPECT_EQ(Str(a), "hello");
    EXPECT_EQ(Str(b), "hello world");
    EXPECT_EQ(Str(c), "HELLO");

    CvString d(a);
    a.Erase();
    EXPECT_EQ(Str(d), "hello");
    EXPECT_EQ(a.GetLength(), 0);

    // Self-assignment and assignment from a string's own text.
    d = d;
    EXPECT_EQ(Str(d), "hello");
    d = d.GetBuffer() + 2;
    EXPECT_EQ(Str(d), "llo");
}

TEST_F(CvStringTest, ConstructionAndAppendForms)
{
    const char* text = "abcdef";
    EXPECT_EQ(Str(CvString(3, 'z')), "zzz");
    EXPECT_EQ(Str(CvString(text + 1, text + 4)), "bcd");
    EXPECT_EQ(Str(CvString(text, 2)), "ab");
    EXPECT_EQ(Str(CvString(text, -5)), "abcdef");
    EXPECT_EQ(Str(CvString(text, 2, 5)), "cde");
    EXPECT_EQ(CvString(text + 4, text + 1).GetLength(), 0);

    CvString s;
    s.Append(CvString("ab")).Append(2, '-').Append(text + 2, text + 4).Append(text, 1).Append(text, 4, 6);
    s += CvString("!");
    s += "?";
    EXPECT_EQ(Str(s), "ab--cdaef!?");
    const char* nothing = nullptr;
    s.Append(nothing).Append("").Append(0, 'x').Append(text, 3, 3);
    EXPECT_EQ(Str(s), "ab--cdaef!?");

    // Appending a string to itself, whole or in part, across a reallocation.
    CvString self(31, 'q');
    self.Append(self);
    EXPECT_EQ(Str(self), std::string(62, 'q'));
    CvString part("0123456789");
    part.Append(part.GetBuffer() + 5, 0);
    EXPECT_EQ(Str(part), "012345678956789");

    EXPECT_EQ(Str(CvString("ab") + CvString("cd")), "abcd");
    EXPECT_EQ(Str(CvString("ab") + "cd"), "abcd");
    EXPECT_EQ(Str("ab" + CvString("cd")), "abcd");
    EXPECT_EQ(Str(CvString() + ""), "");

    EXPECT_EQ(CvString("xyz")[2], 'z');
    EXPECT_EQ(CvString("xyz")[3], 0);
    EXPECT_EQ(CvString("xyz")[-1], 0);
}

TEST_F(CvStringTest, FormatUsesLocalAndHeapBuffers)
{
    CvString s;
    s.Format("%d-%s", 42, "x");
    EXPECT_EQ(Str(s), "42-x");
    s.AppendFormat("%s", "");
    EXPECT_EQ(Str(s), "42-x");
    s.AppendFormat("[%03d]", 7);
    EXPECT_EQ(Str(s), "42-x[007]");

    for (int n : {509, 510, 511, 1022, 1023, 5000}) {
        const std::string want(static_cast<size_t>(n), 'k');
        s.Format("%s", want.c_str());
        EXPECT_EQ(Str(s), want) << n;
    }
    // The expansion may read the string it replaces.
    s = "abc";
    s.Format("<%s%s>", s.GetBuffer(), s.GetBuffer());
    EXPECT_EQ(Str(s), "<abcabc>");
    s.Format("%s", "");
    EXPECT_EQ(s.GetLength(), 0);
}

TEST_F(CvStringTest, AllocationFailures)
{
    CvString keep("keep");
    bufferHeap.refuse = 1;
    EXPECT_EQ(CvString("new text").GetLength(), 0);
    CvString assigned("old");
    assigned = "longer than before, needing a new value";
    EXPECT_EQ(assigned.GetLength(), 0); // a failed Assign leaves the string empty
    keep.Append(40, 'x');
    EXPECT_EQ(Str(keep), "keep"); // a failed Append leaves it unchanged
    keep.Reserve(100);
    EXPECT_EQ(keep.Capacity(), 31);
    CvString shared(keep);
    shared.MakeUpper();
    EXPECT_EQ(Str(shared), "keep");
    bufferHeap.refuse = 0;

    // A long expansion whose heap buffer cannot be had: Format empties the
    // string, AppendFormat leaves it alone.
    const std::string longText(600, 'y');
    CvString f("before");
    bufferHeap.refuseAfter = 0;
    f.AppendFormat("%s", longText.c_str());
    EXPECT_EQ(Str(f), "before");
    bufferHeap.refuseAfter = 0;
    f.Format("%s", longText.c_str());
    EXPECT_EQ(f.GetLength(), 0);
}

TEST_F(CvStringTest, Substrings)
{
    const CvString s("abcdef");
    EXPECT_EQ(Str(s.Left(2)), "ab");
    EXPECT_EQ(s.Left(0).GetLength(), 0);
    EXPECT_EQ(s.Left(-1).GetLength(), 0);
    EXPECT_EQ(s.Left(6).GetBuffer(), s.GetBuffer()); // whole: shared
    EXPECT_EQ(s.Left(99).GetBuffer(), s.GetBuffer());
    EXPECT_EQ(Str(s.Right(2)), "ef");
    EXPECT_EQ(s.Right(7).GetBuffer(), s.GetBuffer());
    EXPECT_EQ(s.Right(0).GetLength(), 0);

    const struct {
        int32_t start, count;
        const char* want;
    } middles[] = {{1, 3, "bcd"}, {4, 10, "ef"}, {0, 6, "abcdef"}, {6, 1, ""}, {2, 0, ""},
                   {-2, 4, "ab"}, {9, 2, ""},   {3, -1, ""},       {0, 0x7FFFFFFF, "abcdef"}};
    for (const auto& m : middles) {
        EXPECT_EQ(Str(s.Middle(m.start, m.count)), m.want) << m.start << "," << m.count;
    }

    CvString r("abcdef");
    r.RemoveLeft(2);
    EXPECT_EQ(Str(r), "cdef");
    r.RemoveRight(1);
    EXPECT_EQ(Str(r), "cde");
    r.RemoveLeft(0);
    EXPECT_EQ(Str(r), "cde");
    r.RemoveRight(3);
    EXPECT_EQ(r.GetLength(), 0);
    r = "xy";
    r.RemoveLeft(5);
    EXPECT_EQ(r.GetLength(), 0);

    const struct {
        int32_t pos;
        const char* text;
        const char* want;
    } inserts[] = {{0, "12", "12abc"}, {1, "12", "a12bc"}, {3, "12", "abc12"},
                   {9, "12", "abc12"}, {-4, "12", "12abc"}, {1, "", "abc"}};
    for (const auto& in : inserts) {
        CvString t("abc");
        t.Insert(in.pos, in.text);
        EXPECT_EQ(Str(t), in.want) << in.pos << " " << in.text;
    }
    CvString own("abc");
    own.Insert(1, own.GetBuffer());
    EXPECT_EQ(Str(own), "aabcbc");
}

// "ソ" is 0x83 0x5C in Shift_JIS: its trail byte is a backslash.
const char kSo[] = "\x83\x5C";

TEST_F(CvStringTest, SearchesStepOverTrailBytes)
{
    const CvString path(std::string("dir\\").append(kSo).append(".txt").c_str());
    EXPECT_EQ(path.Find('\\', 0), 3);
    EXPECT_EQ(path.Find('\\', 4), -1); // never stops inside "ソ"
    EXPECT_EQ(path.ReverseFind('\\'), 3);
    EXPECT_EQ(path.Find('t', 0), 7);
    EXPECT_EQ(path.ReverseFind('t'), 9);

    const CvString s("abcabc");
    EXPECT_EQ(s.Find("bc", 0), 1);
    EXPECT_EQ(s.Find("bc", 2), 4);
    EXPECT_EQ(s.Find("bcd", 0), -1);
    EXPECT_EQ(s.Find("", 3), 3);
    EXPECT_EQ(s.Find("", 6), -1);
    EXPECT_EQ(s.Find(static_cast<const char*>(nullptr), 0), -1);
    EXPECT_EQ(s.ReverseFind("bc"), 4);
    EXPECT_EQ(s.ReverseFind("abcabcx"), -1);
    EXPECT_EQ(s.ReverseFind('a'), 3);
    EXPECT_EQ(s.ReverseFind('z'), -1);
    EXPECT_EQ(CvString().Find('a', 0), -1);
    EXPECT_EQ(CvString().ReverseFind(""), -1);

    // "\\x" matches only at a character start, not at the trail of "ソ".
    const CvString so(std::string(kSo).append("x\\x").c_str());
    EXPECT_EQ(so.Find("\\x", 0), 3);
    EXPECT_EQ(so.ReverseFind("\\x"), 3);
    EXPECT_EQ(so.Find('x', 0), 2);
}

TEST_F(CvStringTest, Permute)
{
    const struct {
        const char *text, *from, *to, *want;
    } cases[] = {
        {"abab", "ab", "x", "xx"},     {"aaa", "aa", "b", "ba"},  {"abc", "", "x", "abc"},
        {"abcb", "b", "", "ac"},       {"abc", "z", "y", "abc"},  {"a.b.c", ".", "::", "a::b::c"},
        {"", "a", "b", ""},            {"aa", "a", "aa", "aaaa"}, {"\x83\x5C\\", "\\", "/", "\x83\x5C/"},
    };
    for (const auto& c : cases) {
        CvString s(c.text);
        s.Permute(c.from, c.to);
        EXPECT_EQ(Str(s), c.want) << c.text << " " << c.from << " " << c.to;
    }
    CvString s("abc");
    s.Permute(nullptr, "x");
    EXPECT_EQ(Str(s), "abc");
}

TEST_F(CvStringTest, MakeSJISWidensHalfWidthCharacters)
{
    const struct {
        const char *text, *want;
    } cases[] = {
        {"A", "\x82\x60"},             // Ａ
        {"1", "\x82\x50"},             // １
        {"\xB1", "\x83\x41"},          // ｱ -> ア
        {" ", "\x81\x40"},             // ideographic space
        {"\\", "\x81\x8F"},            // ￥
        {"~", "\x81\x60"},             // ～
        {"\x7F", "\x81\x5F"},          // ＼
        {"\"", "\xFA\x57"},            // ＂
        {"z", "\x82\x9A"},             // ｚ
        {"\xA0\xA1\xDE\xDF", "\x81\x40\x81\x42\x81\x4A\x81\x4B"},
        {"\xB6\xDE", "\x83\x4A\x81\x4A"}, // ｶﾞ: voiced mark stays a character of its own
        {"\x83\x41x", "\x83\x41\x82\x98"}, // double-byte characters are copied
        {"\x80\x0A\xFD", "\x80\x0A\xFD"},  // other single bytes too
        {"a\x83", "\x82\x81\x83"},         // a lone lead byte at the end
    };
    for (const auto& c : cases) {
        CvString s(c.text);
        s.MakeSJIS();
        EXPECT_EQ(Str(s), c.want) << c.text;
    }
    EXPECT_EQ(bufferHeap.Live("cvk_string"), 0); // scratch buffer freed
}

TEST_F(CvStringTest, CaseChangesTouchOnlySingleByteLetters)
{
    // "Ｂ" is 0x82 0x61: its trail byte is 'a'.
    CvString s("ab\x82\x61Z\x82\x60");
    s.MakeUpper();
    EXPECT_EQ(Str(s), "AB\x82\x61Z\x82\x60");
    s.MakeLower();
    EXPECT_EQ(Str(s), "ab\x82\x61z\x82\x60");
    CvString empty;
    empty.MakeUpper();
    EXPECT_EQ(empty.GetLength(), 0);
}

TEST_F(CvStringTest, ComparisonIsUnsignedByteOrder)
{
    const CvString a("abc"), b("abd"), high("\x80"), empty;
    EXPECT_TRUE(a < b && b > a && a <= b && b >= a && a != b);
    EXPECT_TRUE(a == CvString("abc") && a == "abc" && "abc" == a);
    EXPECT_TRUE(a < "abcd" && "ab" < a && a > "ab" && "abd" > a);
    EXPECT_TRUE(a <= "abc" && "abc" <= a && a >= "abc" && "abc" >= a);
    EXPECT_TRUE(high > a); // 0x80 sorts after ASCII
    EXPECT_TRUE(empty == "" && "" == empty && empty < a && !(empty != ""));
    EXPECT_TRUE(empty == CvString());
}

TEST_F(CvStringTest, SJISIteration)
{
    const CvString s("a\x83\x41" "b");
    CvStringIteratorSJIS it;
    EXPECT_EQ(it.GetKind(), CVK_STRING_CHAR_END);
    EXPECT_EQ(it.GetFirst(), 0); // no string attached
    EXPECT_EQ(it.GetNext(), 0);

    it.AttachString(&s);
    ASSERT_NE(it.GetFirst(), 0);
    EXPECT_EQ(it.GetKind(), CVK_STRING_CHAR_SINGLE);
    ASSERT_NE(it.GetNext(), 0);
    EXPECT_EQ(it.GetPos(), 1);
    EXPECT_EQ(it.GetKind(), CVK_STRING_CHAR_DOUBLE);
    EXPECT_EQ(it.GetCode()[0], 0x83);
    EXPECT_EQ(it.GetCode()[1], 0x41);
    EXPECT_EQ(it.GetCode()[2], 0);
    EXPECT_NE(it.GetNext(0), 0);
    EXPECT_EQ(it.GetPos(), 1);
    EXPECT_NE(it.GetNext(), 0);
    EXPECT_EQ(it.GetPos(), 3);
    EXPECT_EQ(it.GetNext(), 0);
    EXPECT_EQ(it.GetPos(), 4);
    EXPECT_EQ(it.GetNext(5), 0);
    EXPECT_EQ(it.GetPos(), 4);

    EXPECT_NE(it.GetPrev(), 0); // from the end: pos - 2 is a lead byte
    EXPECT_EQ(it.GetPos(), 3);
    EXPECT_NE(it.GetPrev(), 0);
    EXPECT_EQ(it.GetPos(), 1);
    EXPECT_NE(it.GetPrev(), 0);
    EXPECT_EQ(it.GetPos(), 0);
    EXPECT_EQ(it.GetPrev(), 0);
    EXPECT_EQ(it.GetPos(), 0);
    EXPECT_EQ(it.GetKind(), CVK_STRING_CHAR_SINGLE);

    EXPECT_NE(it.GetLast(), 0);
    EXPECT_EQ(it.GetPos(), 3);
    EXPECT_NE(it.GetPrev(1, 1), 0); // byte steps land on the trail byte
    EXPECT_EQ(it.GetPos(), 2);
    EXPECT_EQ(it.GetKind(), CVK_STRING_CHAR_SINGLE);

    CvStringIteratorSJIS copy;
    copy.Copy(it);
    EXPECT_EQ(copy.GetPos(), 2);
    EXPECT_EQ(copy.GetString(), &s);

    // The base iterator knows no double-byte characters.
    CvStringIteratorBase base(&s);
    int count = 0;
    for (int32_t on = base.GetFirst(); on; on = base.GetNext()) {
        EXPECT_EQ(base.GetKind(), CVK_STRING_CHAR_SINGLE);
        ++count;
    }
    EXPECT_EQ(count, 4);
}

TEST_F(CvStringTest, LoneLeadByteAtTheEndIsOneCharacter)
{
    const CvString s("a\x83");
    CvStringIteratorSJIS it(&s);
    ASSERT_NE(it.GetNext(), 0);
    EXPECT_EQ(it.GetPos(), 1);
    EXPECT_EQ(it.GetKind(), CVK_STRING_CHAR_SINGLE);
    EXPECT_EQ(it.GetCode()[0], 0x83);
    EXPECT_EQ(it.GetNext(), 0);
    EXPECT_EQ(it.GetPos(), 2); // on the terminator, not past it
    EXPECT_EQ(it.GetNext(), 0);
    EXPECT_EQ(it.GetPos(), 2);
    EXPECT_NE(it.GetLast(), 0);
    EXPECT_EQ(it.GetPos(), 1);
    EXPECT_EQ(s.Find('\x83', 0), 1);
    EXPECT_EQ(s.ReverseFind('\x83'), 1);
    EXPECT_EQ(s.Find("\x83", 0), 1);
}

TEST_F(CvStringTest, ValuesComeFromTheBufferHeap)
{
    {
        CvString* s = new CvString("abc");
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(bufferHeap.Live("cvk_string"), 2); // record and array
        EXPECT_EQ(systemHeap.LiveBlocks(), 1);       // the string object
        delete s;
    }
    EXPECT_EQ(bufferHeap.LiveBlocks(), 0);
    EXPECT_EQ(systemHeap.LiveBlocks(), 0);
}

} // namespace
