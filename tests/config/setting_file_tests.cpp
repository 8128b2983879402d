// Setting files applied by the camera of a started device: the files listed in the device key are
// read from the host folder that drive C: stands for, and their AddReg lines become values of the
// device key. Also the model files of models/, loaded the same way, programming the emulator.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "camera_fixture.h"
#include "registry_control.h"
#include "support/camera_install.h"

namespace {

namespace fs = std::filesystem;

class SettingFiles : public CameraOnEmulator {
 protected:
  void SetUp() override {
    folder_ =
        fs::temp_directory_path() / ("config_tests_" + std::to_string(::getpid()) + "_" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(folder_ / "cam");
    host::SetFileRoot(folder_);
    ASSERT_NO_FATAL_FAILURE(Start());
    Setting(u"FileDir", u"\\DosDevices\\C:\\cam");
  }
  void TearDown() override {
    CameraOnEmulator::TearDown();
    fs::remove_all(folder_);
  }

  std::u16string Key(const std::u16string& sub = {}) const {
    std::u16string path = camera_install::DriverKeyPath(driverKeyName_);
    return sub.empty() ? path : path + u"\\" + sub;
  }
  void Setting(const std::u16string& name, const std::u16string& text) {
    ASSERT_TRUE(host::WriteRegistryString(Key(u"CameraSetting"), name, text));
  }
  void WriteFile(const std::string& name, const std::string& text) {
    std::ofstream(folder_ / "cam" / name, std::ios::binary) << text;
  }
  // Lists the files under CamSettingFiles, in order, and loads them.
  NTSTATUS Load(const std::vector<std::u16string>& files) {
    for (size_t index = 0; index < files.size(); ++index) {
      std::u16string name = u"File";
      name += static_cast<char16_t>(u'0' + index);
      EXPECT_TRUE(
          host::WriteRegistryString(Key(u"CameraSetting\\CamSettingFiles"), name, files[index]));
    }
    return raw_->LoadSettingFiles();
  }
  std::optional<host::RegistryValue> Value(const std::u16string& sub, const std::u16string& name) {
    return host::ReadRegistryValue(Key(sub), name);
  }
  static std::vector<uint8_t> Wide(const std::u16string& text) {
    std::vector<uint8_t> bytes;
    for (char16_t unit : text) {
      bytes.push_back(static_cast<uint8_t>(unit));
      bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
  }
  static std::vector<uint8_t> Dword(ULONG value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  }

  fs::path folder_;
};

TEST_F(SettingFiles, WorkedExampleWritesItsThreeValues) {
  WriteFile("a1.txt",
            "[Sections]\r\n"
            "AddReg = Cam.AddReg\r\n"
            "[Cam.AddReg]\r\n"
            "HKR, CameraSetting, EnableAutoClose, 0x10001, 1\r\n"
            "HKR, %Model%, CameraName, 0, %Name%\r\n"
            "HKR, %Model%, ResetCamera, 1, 12, 80, FF\r\n"
            "[Strings]\r\n"
            "Model = 'CameraSetting\\SupportCamera\\A1'\r\n"
            "Name = 'My Camera'\r\n");
  EXPECT_EQ(Load({u"a1.txt"}), STATUS_SUCCESS);
  auto autoClose = Value(u"CameraSetting", u"EnableAutoClose");
  ASSERT_TRUE(autoClose);
  EXPECT_EQ(autoClose->type, REG_DWORD);
  EXPECT_EQ(autoClose->data, Dword(1));
  auto name = Value(u"CameraSetting\\SupportCamera\\A1", u"CameraName");
  ASSERT_TRUE(name);
  EXPECT_EQ(name->type, REG_SZ);
  EXPECT_EQ(name->data.size(), 20u);
  EXPECT_EQ(name->data, Wide(u"My Camera"));
  auto reset = Value(u"CameraSetting\\SupportCamera\\A1", u"ResetCamera");
  ASSERT_TRUE(reset);
  EXPECT_EQ(reset->type, REG_BINARY);
  EXPECT_EQ(reset->data, (std::vector<uint8_t>{0x12, 0x80, 0xFF}));
  // The processor's kind is recorded, and the list is gone once applied.
  EXPECT_TRUE(Value(u"CameraSetting", u"CPU"));
  EXPECT_FALSE(host::RegistryKeyExists(Key(u"CameraSetting\\CamSettingFiles")));
}

TEST_F(SettingFiles, LinesBecomeValuesByTheirFlags) {
  struct Case {
    const char* line;
    const char16_t* key;
    const char16_t* name;
    ULONG type;
    std::vector<uint8_t> data;  // empty: no value is written
  } cases[] = {
      {"HKR,,Gain,0x10001,0x20", u"", u"Gain", REG_DWORD, Dword(32)},
      {"HKR,Sub,Decimal,0x10001,20", u"Sub", u"Decimal", REG_DWORD, Dword(20)},
      {"HKR,Sub,Bin,1,0a,FF", u"Sub", u"Bin", REG_BINARY, {0x0A, 0xFF}},
      {"HKR,Sub,OneByte,1", u"Sub", u"OneByte", REG_BINARY, {0x00}},
      {"HKR,Sub,Text,0x00020000,abc", u"Sub", u"Text", REG_SZ, Wide(u"abc")},
      {"HKR,Sub,Undefined,0,%Nobody%x", u"Sub", u"Undefined", REG_SZ, Wide(u"%Nobody%x")},
      {"HKR,Sub,Blanks,0,%Spaced%", u"Sub", u"Blanks", REG_SZ, Wide(u"spaced text")},
      {"HKR,Sub,Joined,1,01,\\ ; continued\r\n    02,03",
       u"Sub",
       u"Joined",
       REG_BINARY,
       {0x01, 0x02, 0x03}},
      {"HKR,Deep\\Er\\Key,Deep,0x10001,7", u"Deep\\Er\\Key", u"Deep", REG_DWORD, Dword(7)},
      {"HKCU,Sub,User,0,x", u"Sub", u"User", REG_SZ, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    // Each case with a comment before it and a line after it that must still be applied.
    WriteFile("case.txt", std::string("; one line\r\n[Sections]\r\nAddReg = S\r\n[S]\r\n") +
                              c.line + "\r\nHKR,Sub,After,0x10001,5\r\n[Strings]\r\n" +
                              "Spaced   =   \"spaced text\"\r\n");
    host::DeleteRegistryTree(Key(u"Sub"));
    EXPECT_EQ(Load({u"case.txt"}), STATUS_SUCCESS);
    auto value = Value(c.key, c.name);
    if (c.data.empty()) {
      EXPECT_FALSE(value);
    } else {
      ASSERT_TRUE(value);
      EXPECT_EQ(value->type, c.type);
      EXPECT_EQ(value->data, c.data);
    }
    auto after = Value(u"Sub", u"After");
    EXPECT_TRUE(after && after->data == Dword(5));
  }
}

TEST_F(SettingFiles, OnlyListedSectionsApplyAndALongerNameIsAnotherSection) {
  WriteFile("s.txt",
            "[Sections]\r\nAddReg = Cam.AddReg, Missing\r\n"
            "[Other]\r\nHKR,,Other,0x10001,1\r\n"
            "[Cam.AddReg2]\r\nHKR,,Longer,0x10001,1\r\n"
            "[Cam.AddReg]\r\nHKR,,Listed,0x10001,1\r\n");
  EXPECT_EQ(Load({u"s.txt"}), STATUS_SUCCESS);
  EXPECT_TRUE(Value(u"", u"Listed"));
  EXPECT_FALSE(Value(u"", u"Other"));
  EXPECT_FALSE(Value(u"", u"Longer"));
}

TEST_F(SettingFiles, LoadSettingOnceDecidesWhetherTheListStays) {
  WriteFile("once.txt", "[Sections]\r\nAddReg = S\r\n[S]\r\nHKR,,Count,0x10001,1\r\n");
  ASSERT_TRUE(host::WriteRegistryDword(Key(u"CameraSetting"), u"LoadSettingOnce", 0));
  EXPECT_EQ(Load({u"once.txt"}), STATUS_SUCCESS);
  EXPECT_TRUE(host::RegistryKeyExists(Key(u"CameraSetting\\CamSettingFiles")));
  ASSERT_TRUE(host::WriteRegistryDword(Key(u"CameraSetting"), u"LoadSettingOnce", 1));
  EXPECT_EQ(raw_->LoadSettingFiles(), STATUS_SUCCESS);
  EXPECT_FALSE(host::RegistryKeyExists(Key(u"CameraSetting\\CamSettingFiles")));
  // Nothing listed any more: nothing to load.
  EXPECT_EQ(raw_->LoadSettingFiles(), STATUS_OBJECT_NAME_NOT_FOUND);
}

TEST_F(SettingFiles, AFileThatCannotBeOpenedIsNamedAndKeepsTheList) {
  WriteFile("good.txt", "[Sections]\r\nAddReg = S\r\n[S]\r\nHKR,,Good,0x10001,1\r\n");
  Load({u"good.txt", u"absent.txt"});
  EXPECT_TRUE(Value(u"", u"Good"));
  auto failed = Value(u"", u"OpenFileFail");
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->data, Wide(u"absent.txt"));
  EXPECT_TRUE(host::RegistryKeyExists(Key(u"CameraSetting\\CamSettingFiles")));
}

TEST_F(SettingFiles, MalformedAndTruncatedTextNeverReadsPastItsEnd) {
  std::string model;
  {
    std::ifstream in(fs::path(CAM_SOURCE_DIR) / "models" / "lynxcam.settings", std::ios::binary);
    model.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  ASSERT_FALSE(model.empty());
  std::vector<std::string> texts = {
      "[Sections]\r\nAddReg = S\r\n[S]\r\nHKR,,A,1," + std::string(9000, 'F') + "\r\n",
      "[Sections]\r\nAddReg = S\r\n[S]\r\nHKR," + std::string(5000, 'k') + ",B,0,x\r\n",
      "[Sections]\r\nAddReg = S\r\n[S]\r\nHKR,,C,0,%" + std::string(5000, 'n') + "\r\n",
      "[Strings]\r\nX=\"" + std::string(4000, 'x') + "\"\r\n[Sections]\r\nAddReg = S\r\n[S]\r\n" +
          "HKR,,D,0,%X%%X%%X%\r\n",
      "[Sections]\r\nAddReg = " + std::string(6000, ',') + "\r\n",
      "\\\\\\\\\\\r\n;;;;\r\n[[[[\r\n%%%%",
  };
  std::mt19937 random(7);
  for (int round = 0; round < 50; ++round) {
    std::string noise(1 + random() % 300, '\0');
    for (char& c : noise) c = "[]=,;%\\\r\n aHKR01xF"[random() % 19];  // the NUL too
    texts.push_back("[Sections]\r\nAddReg = S\r\n[S]\r\n" + noise);
  }
  // Every prefix of a model file, in a buffer of exactly that size.
  for (size_t length = 0; length <= model.size(); length += 7)
    texts.push_back(model.substr(0, length));
  for (const std::string& text : texts) {
    std::vector<char> exact(text.begin(), text.end());
    EXPECT_EQ(raw_->ParseSettingFile(exact.data(), static_cast<ULONG>(exact.size())),
              STATUS_SUCCESS);
  }
  auto longValue = Value(u"", u"D");
  ASSERT_TRUE(longValue);
  EXPECT_EQ(longValue->data.size(), 4096u);  // cut at its field, terminator included
}

class ModelFiles : public SettingFiles {
 protected:
  void SetUp() override {
    SettingFiles::SetUp();
    host::SetFileRoot(CAM_SOURCE_DIR);
    Setting(u"FileDir", u"\\DosDevices\\C:\\models");
  }
  // Runs a bridge list of the device key through the camera.
  void RunList(const std::u16string& sub, const std::u16string& name) {
    HANDLE key = host::OpenRegistryKeyHandle(Key(sub), false);
    ASSERT_NE(key, nullptr);
    RegisterListEntry* list = nullptr;
    ULONG count = 0;
    std::u16string terminated = name;
    ASSERT_EQ(camera_->ReadRegisterList(key, terminated.c_str(),
                                        static_cast<ULONG>((name.size() + 1) * 2), &list, &count),
              STATUS_SUCCESS);
    EXPECT_NE(count, 0u);
    camera_->RunBridgeList(list, count);
    registers::FreeRegisterList(camera_->bufferPool, &list, &count);
    ZwClose(key);
  }
};

TEST_F(ModelFiles, DefaultModelProgramsTheEmulatorsPowerStartAndMode) {
  std::u16string file = kIsIbexcam ? u"ibexcam.settings" : u"lynxcam.settings";
  std::u16string model = kIsIbexcam ? u"Ibex640" : u"Lynx640";
  EXPECT_EQ(Load({file}), STATUS_SUCCESS);
  std::u16string modelKey = u"CameraSetting\\SupportCamera\\" + model;
  auto version = Value(modelKey, u"VersionCheck");
  ASSERT_TRUE(version);
  ASSERT_EQ(version->data.size(), 4u);
  EXPECT_EQ(Value(modelKey, u"ResetCamera")->data, (std::vector<uint8_t>{0x12, 0x80, 0xFF}));
  // The model's sensor answers its identification at the id it names.
  emulator_->SetKnob("sensor_id=" + std::to_string(version->data[0]));
  UCHAR answer = 0;
  ASSERT_EQ(access_->ReadSensorWithId(version->data[0], version->data[1], &answer), STATUS_SUCCESS);
  EXPECT_EQ(answer & version->data[2], version->data[3]);

  RunList(u"CameraSetting", u"PowerDownCamera");
  EXPECT_EQ(emulator_->PeekRegister(0x02) & 0x02, 0);
  RunList(u"CameraSetting", u"PowerOnCamera");
  EXPECT_EQ(emulator_->PeekRegister(0x02) & 0x0B, 0x03);
  RunList(u"CameraSetting", u"BlockStream");
  EXPECT_EQ(emulator_->PeekRegister(0x03) & 0x01, 0);
  RunList(u"CameraSetting", u"StartStream");
  EXPECT_EQ(emulator_->PeekRegister(0x03) & 0x01, 1);
  RunList(modelKey + u"\\VideoStream\\Yuy2_640x480", u"UsbSetting");
  EXPECT_EQ(emulator_->PeekRegister(0x10), 0);  // packed YUV
  EXPECT_EQ(emulator_->PeekRegister(0x14) | emulator_->PeekRegister(0x15) << 8, 640);
  EXPECT_EQ(emulator_->PeekRegister(0x16) | emulator_->PeekRegister(0x17) << 8, 480);
  EXPECT_EQ(emulator_->PeekRegister(0x18), 30);
  auto fourcc = Value(modelKey + u"\\VideoStream\\Yuy2_640x480", u"FourCC");
  ASSERT_TRUE(fourcc);
  EXPECT_EQ(fourcc->data, Dword(0x32595559));
}

}  // namespace
