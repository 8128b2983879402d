// Counted strings and the ANSI code page: results that do not fit never overrun, comparisons and
// number conversions follow the runtime library's rules, and every byte of Windows-1252 survives a
// round trip through UTF-16.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kernel_strings.h"

namespace {

TEST(CountedStrings, AppendAndCopyStayInsideTheBuffer) {
  WCHAR storage[8];
  memset(storage, 0xAB, sizeof storage);
  UNICODE_STRING text{0, 6 * sizeof(WCHAR), storage};
  EXPECT_EQ(RtlAppendUnicodeToString(&text, u"abc"), STATUS_SUCCESS);
  EXPECT_EQ(storage[3], 0) << "terminated while there is room";
  EXPECT_EQ(RtlAppendUnicodeToString(&text, u"defg"), STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(text.Length, 6);
  EXPECT_EQ(RtlAppendUnicodeToString(&text, u"def"), STATUS_SUCCESS);
  EXPECT_EQ(text.Length, 12);
  EXPECT_EQ(storage[6], 0xABAB) << "no terminator past MaximumLength";

  UNICODE_STRING source;
  RtlInitUnicodeString(&source, u"0123456789");
  EXPECT_EQ(source.Length, 20);
  EXPECT_EQ(source.MaximumLength, 22);
  RtlCopyUnicodeString(&text, &source);
  EXPECT_EQ(text.Length, 12);
  EXPECT_EQ(std::u16string(storage, 6), u"012345");
  EXPECT_EQ(storage[6], 0xABAB);
  EXPECT_EQ(RtlAppendUnicodeStringToString(&text, &source), STATUS_BUFFER_TOO_SMALL);
}

TEST(CountedStrings, CompareIsCaseInsensitiveOnRequest) {
  UNICODE_STRING a, b, shorter;
  RtlInitUnicodeString(&a, u"CameraSetting\u00E9");
  RtlInitUnicodeString(&b, u"CAMERASETTING\u00C9");
  RtlInitUnicodeString(&shorter, u"camera");
  EXPECT_TRUE(RtlEqualUnicodeString(&a, &b, TRUE));
  EXPECT_FALSE(RtlEqualUnicodeString(&a, &b, FALSE));
  EXPECT_GT(RtlCompareUnicodeString(&a, &shorter, TRUE), 0);
  EXPECT_LT(RtlCompareUnicodeString(&shorter, &a, TRUE), 0);
}

TEST(CountedStrings, NumbersToAndFromText) {
  WCHAR storage[12];
  UNICODE_STRING text{0, sizeof storage, storage};
  struct ToText {
    ULONG value, base;
    const char16_t* expected;
  } toText[] = {{0, 10, u"0"}, {4294967295u, 0, u"4294967295"}, {255, 16, u"FF"}, {5, 2, u"101"}};
  for (const ToText& c : toText) {
    ASSERT_EQ(RtlIntegerToUnicodeString(c.value, c.base, &text), STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(storage, text.Length / 2), c.expected);
  }
  UNICODE_STRING small{0, 4, storage};
  EXPECT_EQ(RtlIntegerToUnicodeString(12345, 10, &small), STATUS_BUFFER_OVERFLOW);
  EXPECT_EQ(RtlIntegerToUnicodeString(1, 7, &text), STATUS_INVALID_PARAMETER);

  struct FromText {
    const char16_t* text;
    ULONG base, expected;
  } fromText[] = {{u"  42", 0, 42}, {u"0x1F", 0, 31}, {u"-1", 10, 0xFFFFFFFF},
                  {u"0b101", 0, 5}, {u"ff", 16, 255}, {u"12abc", 10, 12},
                  {u"", 10, 0}};
  for (const FromText& c : fromText) {
    UNICODE_STRING source;
    RtlInitUnicodeString(&source, c.text);
    ULONG value = 99;
    ASSERT_EQ(RtlUnicodeStringToInteger(&source, c.base, &value), STATUS_SUCCESS);
    EXPECT_EQ(value, c.expected);
  }
}

TEST(AnsiCodePage, EveryByteRoundTripsAndTheHighRangeIsWindows1252) {
  char bytes[256];
  for (int i = 0; i < 256; ++i) bytes[i] = static_cast<char>(i);
  WCHAR units[256];
  ULONG written = 0;
  ASSERT_EQ(RtlMultiByteToUnicodeN(units, sizeof units, &written, bytes, 256), STATUS_SUCCESS);
  EXPECT_EQ(written, 512u);
  EXPECT_EQ(units[0x80], 0x20AC);  // euro sign
  EXPECT_EQ(units[0x9F], 0x0178);
  EXPECT_EQ(units[0xE9], 0x00E9);
  char back[256];
  ASSERT_EQ(RtlUnicodeToMultiByteN(back, sizeof back, &written, units, sizeof units),
            STATUS_SUCCESS);
  EXPECT_EQ(written, 256u);
  EXPECT_EQ(memcmp(back, bytes, 256), 0);

  const char16_t unmappable[] = u"\u4E2D";
  char out[2] = {0, 0};
  RtlUnicodeToMultiByteN(out, 1, &written, unmappable, 2);
  EXPECT_EQ(out[0], '?');

  // A destination shorter than the source takes what fits.
  WCHAR three[3];
  RtlMultiByteToUnicodeN(three, sizeof three, &written, "abcdef", 6);
  EXPECT_EQ(written, 6u);
}

TEST(AnsiCodePage, CountedConversionsAllocateOrRefuseWhatDoesNotFit) {
  ANSI_STRING ansi;
  RtlInitAnsiString(&ansi, "Caf\xE9");
  UNICODE_STRING allocated;
  ASSERT_EQ(RtlAnsiStringToUnicodeString(&allocated, &ansi, TRUE), STATUS_SUCCESS);
  EXPECT_EQ(std::u16string(allocated.Buffer, allocated.Length / 2), u"Caf\u00E9");
  ANSI_STRING back;
  ASSERT_EQ(RtlUnicodeStringToAnsiString(&back, &allocated, TRUE), STATUS_SUCCESS);
  EXPECT_EQ(std::string(back.Buffer, back.Length), "Caf\xE9");
  RtlFreeAnsiString(&back);
  RtlFreeUnicodeString(&allocated);

  WCHAR storage[3];
  UNICODE_STRING small{0, sizeof storage, storage};
  EXPECT_EQ(RtlAnsiStringToUnicodeString(&small, &ansi, FALSE), STATUS_BUFFER_OVERFLOW);
}

}  // namespace
