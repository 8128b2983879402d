// .reg files: every value type survives a save and a load byte for byte, in both encodings; an
// import creates, rewrites and deletes as the file says; a malformed file changes nothing and its
// error names the line.
#include <fstream>

#include "registry_test_support.h"

namespace {

class RegFile : public FreshRegistry {
 protected:
  std::filesystem::path Temp(const std::string& name) {
    std::filesystem::path folder = std::filesystem::path(testing::TempDir()) / "reg_file_tests" /
                                   testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::create_directories(folder);
    return folder / name;
  }
};

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> bytes;
  for (int value : values) bytes.push_back(static_cast<uint8_t>(value));
  return bytes;
}

std::vector<uint8_t> Utf16Bytes(std::u16string_view text, bool terminator = true) {
  std::vector<uint8_t> bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<uint8_t>(unit));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  if (terminator) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

TEST_F(RegFile, EveryValueTypeRoundTripsByteForByte) {
  std::vector<uint8_t> longBinary(300);
  for (size_t i = 0; i < longBinary.size(); ++i) longBinary[i] = static_cast<uint8_t>(i * 7);
  const std::vector<host::RegistryValue> values = {
      {u"Text", REG_SZ, Utf16Bytes(u"quote \" back\\slash; €uro \U0001F600")},
      {u"", REG_SZ, Utf16Bytes(u"the default value")},
      {u"Empty", REG_SZ, Utf16Bytes(u"")},
      {u"NoTerminator", REG_SZ, Utf16Bytes(u"abc", false)},
      {u"TwoLines", REG_SZ, Utf16Bytes(u"one\r\ntwo")},
      {u"LoneSurrogate", REG_SZ, Utf16Bytes(u"\xD800x")},
      {u"OddLength", REG_SZ, Bytes({0x41})},
      {u"Number", REG_DWORD, Bytes({0x78, 0x56, 0x34, 0x12})},
      {u"ShortDword", REG_DWORD, Bytes({0x01, 0x02})},
      {u"BigEndian", REG_DWORD_BIG_ENDIAN, Bytes({0x12, 0x34, 0x56, 0x78})},
      {u"Binary", REG_BINARY, longBinary},
      {u"EmptyBinary", REG_BINARY, {}},
      {u"Expand", REG_EXPAND_SZ, Utf16Bytes(u"%SystemRoot%\\x")},
      {u"Multi", REG_MULTI_SZ, Utf16Bytes(std::u16string(u"a\0bc\0", 5))},
      {u"Qword", REG_QWORD, Bytes({1, 2, 3, 4, 5, 6, 7, 8})},
      {u"None", REG_NONE, Bytes({9})},
      {u"Link", REG_LINK, Utf16Bytes(u"\\Registry\\Machine", false)},
      {u"Resources", REG_RESOURCE_LIST, Bytes({0, 1})},
      {u"Odd \"name\" \\ =", 0x12345, Bytes({0xFF})},
  };
  const std::u16string key = kTestKey + u"\\Camera \"A\" [1]";
  for (const host::RegistryValue& value : values) {
    ASSERT_TRUE(host::WriteRegistryValue(key, value.name, value.type, value.data));
  }
  ASSERT_TRUE(host::CreateRegistryKey(kTestKey + u"\\EmptyKey"));

  for (host::RegFileEncoding encoding :
       {host::RegFileEncoding::Utf16Le, host::RegFileEncoding::Utf8}) {
    std::filesystem::path file = Temp("round_trip.reg");
    std::string error;
    ASSERT_TRUE(host::SaveRegistryFile(file, &error, encoding)) << error;
    host::ResetRegistry();
    ASSERT_TRUE(host::LoadRegistryFile(file, &error)) << error;
    std::vector<host::RegistryValue> loaded = host::RegistryValues(key);
    ASSERT_EQ(loaded.size(), values.size());
    for (size_t i = 0; i < values.size(); ++i) {
      EXPECT_EQ(loaded[i].name, values[i].name) << i;
      EXPECT_EQ(loaded[i].type, values[i].type) << host::Utf8FromUtf16(values[i].name);
      EXPECT_EQ(loaded[i].data, values[i].data) << host::Utf8FromUtf16(values[i].name);
    }
    EXPECT_TRUE(host::RegistryKeyExists(kTestKey + u"\\EmptyKey"));
  }
}

TEST_F(RegFile, ImportCreatesRewritesAndDeletes) {
  host::WriteRegistryDword(kTestKey + u"\\Old\\Deep", u"Gone", 1);
  host::WriteRegistryDword(kTestKey, u"Kept", 1);
  host::WriteRegistryDword(kTestKey, u"Removed", 1);
  const char* text =
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; a comment line\r\n"
      "[-HKEY_LOCAL_MACHINE\\Software\\Test\\Old]\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Test]\r\n"
      "\"Removed\"=-\r\n"
      "\"Kept\"=dword:0000002a\r\n"
      "\"List\"=hex:01,02,\\\r\n"
      "  03,04\r\n"
      "@=\"default\"\r\n"
      "\r\n"
      "[hklm\\software\\test\\New]\n"
      "\"Type\"=hex(7):61,00,00,00,00,00\n";
  std::string error;
  ASSERT_TRUE(host::ImportRegistryText(text, "inline.reg", &error)) << error;
  EXPECT_FALSE(host::RegistryKeyExists(kTestKey + u"\\Old"));
  EXPECT_FALSE(host::ReadRegistryValue(kTestKey, u"Removed"));
  EXPECT_EQ(host::ReadRegistryValue(kTestKey, u"Kept")->data, Bytes({42, 0, 0, 0}));
  EXPECT_EQ(host::ReadRegistryValue(kTestKey, u"List")->data, Bytes({1, 2, 3, 4}));
  EXPECT_EQ(host::ReadRegistryValue(kTestKey, u"")->data, Utf16Bytes(u"default"));
  auto multi = host::ReadRegistryValue(kTestKey + u"\\New", u"Type");
  ASSERT_TRUE(multi);
  EXPECT_EQ(multi->type, REG_MULTI_SZ);
}

TEST_F(RegFile, MalformedFilesChangeNothingAndNameTheLine) {
  struct Case {
    const char* body;  // after the header line
    int line;
    const char* message;
  } cases[] = {
      {"[HKEY_LOCAL_MACHINE\\Software\\A]\n\"X\"=dword:1234567890\n", 3, "dword"},
      {"[HKEY_LOCAL_MACHINE\\Software\\A]\n\"X\"=hex:1,2g\n", 3, "hex data"},
      {"[HKEY_LOCAL_MACHINE\\Software\\A]\n\"X\"=hex:01,\n", 3, "comma"},
      {"[HKEY_LOCAL_MACHINE\\Software\\A]\n\"X\"=hex(zz):01\n", 3, "hex(type)"},
      {"[HKEY_LOCAL_MACHINE\\Software\\A]\n\n\"X=dword:1\n", 4, "closing quote"},
      {"[HKEY_LOCAL_MACHINE\\Software\\A]\n\"X\"=\"a\" trailing\n", 3, "one quoted text"},
      {"[HKEY_LOCAL_MACHINE\\Software\\A]\n\"X\" \"Y\"\n", 3, "'='"},
      {"\"X\"=dword:1\n", 2, "before the first key"},
      {"[HKEY_NOWHERE\\A]\n", 2, "unknown root key"},
      {"[HKEY_LOCAL_MACHINE\\A\\\\B]\n", 2, "empty"},
      {"[HKEY_LOCAL_MACHINE\\Software\\A\n", 2, "']'"},
      {"[-HKEY_LOCAL_MACHINE]\n", 2, "root key"},
      {"[HKEY_LOCAL_MACHINE\\Software\\A]\n\"X\"=hex:01,\\\n  zz\n", 3, "hex data"},
      {"garbage\n", 2, "expected a key"},
  };
  for (const Case& c : cases) {
    host::WriteRegistryDword(kTestKey, u"Before", 1);
    std::string text = std::string("Windows Registry Editor Version 5.00\n") + c.body;
    std::string error;
    EXPECT_FALSE(host::ImportRegistryText(text, "bad.reg", &error)) << c.body;
    EXPECT_EQ(error.rfind("bad.reg:" + std::to_string(c.line) + ": ", 0), 0u) << error;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_FALSE(host::RegistryKeyExists(u"\\Registry\\Machine\\Software\\A")) << c.body;
  }
  std::string error;
  EXPECT_FALSE(host::ImportRegistryText("REGEDIT4\n", "old.reg", &error));
  EXPECT_EQ(error.rfind("old.reg:1: ", 0), 0u) << error;
  EXPECT_FALSE(host::LoadRegistryFile(Temp("missing.reg"), &error));
  EXPECT_NE(error.find("cannot be opened"), std::string::npos);
}

}  // namespace
