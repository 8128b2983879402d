// Register access on the emulated camera, checked on the vendor requests the device received: the
// serial-bus sequences with their busy polls, register lists, the registers the camera serves
// itself, command blocks, and a removed device.
#include <algorithm>
#include <cstring>
#include <thread>

#include "camera_fixture.h"
#include "kernel.h"
#include "registry_control.h"

namespace {

using Requests = std::vector<std::string>;

// A sensor write of `value` to `reg` on the bus, as the bridge sees it with one busy status read.
Requests SensorWrite(const std::string& reg, const std::string& value) {
  return {"W F2=" + reg, "W F3=" + value, "W F5=37", "R F6", "R F6"};
}

Requests SensorRead(const std::string& reg) {
  Requests read = {"W F2=" + reg, "W F5=33", "R F6", "R F6", "W F5=F9", "R F6", "R F6", "R F4"};
  // lynxcam's sensor expects register 0xFF written after every read.
  if (kIsLynxcam) {
    for (const std::string& line : SensorWrite("FF", "00")) read.push_back(line);
  }
  return read;
}

Requests Concat(std::initializer_list<Requests> parts) {
  Requests all;
  for (const Requests& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class RegisterAccess : public CameraOnEmulator {
 protected:
  // Sensor accesses start with the sensor selected, so that the sequences below are the bus's.
  void SelectSensorNow() {
    ASSERT_EQ(raw_->SelectSensor(), STATUS_SUCCESS);
    TakeRequests();
  }
};

TEST_F(RegisterAccess, SensorReadAndWriteAreTheBusSequencesWithTheirBusyPolls) {
  ASSERT_NO_FATAL_FAILURE(Start());
  emulator_->SetKnob("sensor_version=0x5C");
  SelectSensorNow();
  UCHAR value = 0;
  ASSERT_EQ(access_->ReadSensor(0x29, &value), STATUS_SUCCESS);
  EXPECT_EQ(value, 0x5C);
  EXPECT_EQ(TakeRequests(), SensorRead("29"));

  ASSERT_EQ(access_->WriteSensor(0x10, 0x5A), STATUS_SUCCESS);
  EXPECT_EQ(TakeRequests(), SensorWrite("10", "5A"));
  EXPECT_EQ(emulator_->PeekSensorRegister(0x10), 0x5A);
}

TEST_F(RegisterAccess, BusyPollsAreBoundedAndABusThatNeverFinishesFails) {
  struct Case {
    const char* knob;
    int statusReads;  // per command
    NTSTATUS status;
  } cases[] = {
      {"busy_reads=0", 1, STATUS_SUCCESS},
      {"busy_reads=5", 6, STATUS_SUCCESS},
      {"busy_reads=6", 6, STATUS_IO_DEVICE_ERROR},
      {"stuck_busy=on", 6, STATUS_IO_DEVICE_ERROR},
  };
  ASSERT_NO_FATAL_FAILURE(Start());
  SelectSensorNow();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.knob);
    ASSERT_EQ(emulator_->SetKnob(c.knob), "");
    EXPECT_EQ(access_->WriteSensor(0x10, 0x22), c.status);
    Requests expected = {"W F2=10", "W F3=22", "W F5=37"};
    expected.insert(expected.end(), c.statusReads, "R F6");
    EXPECT_EQ(TakeRequests(), expected);
    // A read whose first phase never finishes takes no data from the bus.
    UCHAR value = 0xEE;
    EXPECT_EQ(access_->ReadSensor(0x10, &value), c.status);
    if (!NT_SUCCESS(c.status)) {
      EXPECT_EQ(value, 0xEE);
    }
    TakeRequests();
    emulator_->SetKnob("stuck_busy=off");
    emulator_->SetKnob("busy_reads=1");
  }
}

TEST_F(RegisterAccess, AFailedBusWriteStopsTheSequenceAndIsTheResult) {
  ASSERT_NO_FATAL_FAILURE(Start({"fail_register=0xF3"}));
  SelectSensorNow();
  EXPECT_EQ(access_->WriteSensor(0x10, 0x22), STATUS_UNSUCCESSFUL);
  // No command goes out after the refused data byte; the bus is still waited for.
  EXPECT_EQ(TakeRequests(), (Requests{"W F2=10", "W F3=22 !", "R F6"}));
}

TEST_F(RegisterAccess, ReadWithAnotherIdSelectsTheSensorAgainOnTheNextPlainAccess) {
  ASSERT_NO_FATAL_FAILURE(Start({"sensor_version=0x77"}));
  SelectSensorNow();
  UCHAR value = 0;
  // Another device on the bus: no busy polls, the data phase after a pause; nobody answers.
  ASSERT_EQ(access_->ReadSensorWithId(0x30, 0x29, &value), STATUS_SUCCESS);
  EXPECT_EQ(value, 0xFF);
  EXPECT_EQ(TakeRequests(), (Requests{"W F1=30", "W F2=29", "W F5=33", "W F5=F9", "R F4"}));

  ASSERT_EQ(access_->ReadSensor(0x29, &value), STATUS_SUCCESS);
  EXPECT_EQ(value, 0x77);
  EXPECT_EQ(TakeRequests(), Concat({{"W F1=42"}, SensorRead("29")}));
  ASSERT_EQ(access_->ReadSensor(0x29, &value), STATUS_SUCCESS);
  EXPECT_EQ(TakeRequests(), SensorRead("29"));

  // The sensor's own id leaves the selection alone; a write with another id clears it too.
  ASSERT_EQ(access_->ReadSensorWithId(0x42, 0x29, &value), STATUS_SUCCESS);
  EXPECT_EQ(value, 0x77);
  TakeRequests();
  ASSERT_EQ(access_->WriteSensor(0x10, 0x01), STATUS_SUCCESS);
  EXPECT_EQ(TakeRequests(), SensorWrite("10", "01"));
  ASSERT_EQ(access_->WriteSensorWithId(0x31, 0x10, 0x02), STATUS_SUCCESS);
  EXPECT_EQ(TakeRequests(), (Requests{"W F1=31", "W F2=10", "W F3=02", "W F5=37"}));
  ASSERT_EQ(access_->WriteSensor(0x10, 0x03), STATUS_SUCCESS);
  EXPECT_EQ(TakeRequests(), Concat({{"W F1=42"}, SensorWrite("10", "03")}));
}

TEST_F(RegisterAccess, BridgeReadsOfOneAndSeveralBytes) {
  ASSERT_NO_FATAL_FAILURE(Start());
  UCHAR bytes[8] = {0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78};
  ULONG count = 4;
  ASSERT_EQ(raw_->WriteRegisterBlock(0x40, bytes, &count), STATUS_SUCCESS);
  UCHAR read[8] = {};
  memset(read, 0xEE, sizeof read);
  count = 3;
  ASSERT_EQ(access_->ReadBridge(0x40, read, &count), STATUS_SUCCESS);
  // Eight bytes come over the bus; only the three asked for reach the buffer.
  EXPECT_EQ(read[0], 0x71);
  EXPECT_EQ(read[2], 0x73);
  EXPECT_EQ(read[3], 0xEE);
  UCHAR one = 0;
  ASSERT_EQ(access_->ReadBridge(0x00, &one, nullptr), STATUS_SUCCESS);
  EXPECT_EQ(one, 0x71);  // chip id
  count = 9;
  EXPECT_EQ(access_->ReadBridge(0x40, read, &count), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(TakeRequests(), (Requests{"W 40=71 72 73 74", "R8 40", "R 00"}));
}

TEST_F(RegisterAccess, RangesStopAtTheFirstFailureAndAnEmptyRangeDoesNothing) {
  ASSERT_NO_FATAL_FAILURE(Start({"fail_register=0x42"}));
  UCHAR values[4] = {1, 2, 3, 4};
  EXPECT_EQ(access_->ReadSensorRange(0x10, 0x0F, values), STATUS_SUCCESS);
  EXPECT_EQ(access_->WriteBridgeRange(0x41, 0x40, values), STATUS_SUCCESS);
  EXPECT_TRUE(TakeRequests().empty());
  EXPECT_EQ(access_->WriteBridgeRange(0x40, 0x43, values), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(TakeRequests(), (Requests{"W 40=01", "W 41=02", "W 42=03 !"}));
  EXPECT_EQ(access_->WriteSensorRange(0xFE, 0x100, values), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(access_->ReadBridgeRange(0x40, 0x41, values), STATUS_SUCCESS);
  EXPECT_EQ(values[0], 1);
  EXPECT_EQ(values[1], 2);
}

TEST_F(RegisterAccess, ListEntriesMergeMaskedBitsAndWriteWholeRegistersWithoutARead) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_EQ(raw_->WriteRegister(0x30, 0x3C), STATUS_SUCCESS);
  TakeRequests();
  const RegisterListEntry list[] = {{0x30, 0xA5, 0x0F}, {0x31, 0x77, 0xFF}};
  EXPECT_EQ(camera_->RunBridgeList(list, 2), STATUS_SUCCESS);
  EXPECT_EQ(TakeRequests(), (Requests{"R 30", "W 30=35", "W 31=77"}));
  EXPECT_EQ(emulator_->PeekRegister(0x30), 0x35);

  // The same entries to the sensor go through the sensor's sequences.
  SelectSensorNow();
  ASSERT_EQ(access_->WriteSensor(0x40, 0x3C), STATUS_SUCCESS);
  TakeRequests();
  const RegisterListEntry sensorList[] = {{0x40, 0xA5, 0x0F}};
  EXPECT_EQ(camera_->RunRegisterList(sensorList, 1, FALSE), STATUS_SUCCESS);
  EXPECT_EQ(TakeRequests(), Concat({SensorRead("40"), SensorWrite("40", "35")}));
}

TEST_F(RegisterAccess, ListsGoOnAfterAFailureAndReportTheLastWrite) {
  ASSERT_NO_FATAL_FAILURE(Start({"fail_register=0x32"}));
  const RegisterListEntry list[] = {{0x32, 0x01, 0xFF}, {0x33, 0x02, 0xFF}};
  EXPECT_EQ(camera_->RunBridgeList(list, 2), STATUS_SUCCESS);
  EXPECT_EQ(camera_->RunBridgeList(list, 1), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(camera_->RunBridgeList(nullptr, 0), STATUS_SUCCESS);
  EXPECT_EQ(TakeRequests(), (Requests{"W 32=01 !", "W 33=02", "W 32=01 !"}));
}

TEST_F(RegisterAccess, RegisterFFIsTheCamerasOwnAndNeverReachesTheDevice) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const RegisterListEntry list[] = {{0xFF, 0x01, 0xFF}, {0x34, 0x11, 0xFF}};
  EXPECT_EQ(camera_->RunBridgeList(list, 2), STATUS_SUCCESS);
  EXPECT_EQ(TakeRequests(), (Requests{"W 34=11"}));
  EXPECT_EQ(emulator_->PeekRegister(0xFF), 0x00);
}

TEST_F(RegisterAccess, IbexcamServesBridgeRegisters50To6FItself) {
  ASSERT_NO_FATAL_FAILURE(Start());
  UCHAR value[4] = {0x99, 0x99, 0x99, 0x99};
  ULONG count = 4;
  access_->WriteBridge(0x55, 0x12);
  access_->ReadBridge(0x6F, value, &count);
  access_->WriteBridge(0x4F, 0x13);
  access_->WriteBridge(0x70, 0x14);
  if (kIsIbexcam) {
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(TakeRequests(), (Requests{"W 4F=13", "W 70=14"}));
  } else {
    EXPECT_EQ(TakeRequests(), (Requests{"W 55=12", "R8 6F", "W 4F=13", "W 70=14"}));
  }
}

TEST_F(RegisterAccess, SevenByteListValueGivesTwoEntries) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const std::u16string key = u"\\Registry\\Machine\\Software\\ConfigTests";
  ASSERT_TRUE(host::WriteRegistryValue(key, u"Seven", REG_BINARY,
                                       {0x35, 0x01, 0xFF, 0x36, 0x02, 0xFF, 0x37}));
  ASSERT_TRUE(
      host::WriteRegistryValue(key, u"TooLong", REG_BINARY, std::vector<uint8_t>(769, 0x20)));
  HANDLE handle = host::OpenRegistryKeyHandle(key, false);
  ASSERT_NE(handle, nullptr);
  RegisterListEntry* list = nullptr;
  ULONG count = 0;
  EXPECT_EQ(camera_->ReadRegisterList(handle, u"Seven", sizeof u"Seven", &list, &count),
            STATUS_SUCCESS);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(camera_->RunBridgeList(list, count), STATUS_SUCCESS);
  EXPECT_EQ(TakeRequests(), (Requests{"W 35=01", "W 36=02"}));
  // Reading again returns the earlier copy to the pool; an over-long value counts as absent.
  EXPECT_EQ(camera_->ReadRegisterList(handle, u"TooLong", sizeof u"TooLong", &list, &count),
            STATUS_BUFFER_OVERFLOW);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(camera_->ReadRegisterList(handle, u"Missing", sizeof u"Missing", &list, &count),
            STATUS_OBJECT_NAME_NOT_FOUND);
  EXPECT_EQ(list, nullptr);
  ZwClose(handle);
  host::DeleteRegistryTree(key);
}

// A block of script bytes behind its total length, as the format modes keep it.
std::vector<UCHAR> Block(const std::vector<UCHAR>& script) {
  ULONG length = static_cast<ULONG>(4 + script.size());
  std::vector<UCHAR> block(length);
  memcpy(block.data(), &length, 4);
  std::copy(script.begin(), script.end(), block.begin() + 4);
  return block;
}

const CommandBlock* AsBlock(const std::vector<UCHAR>& bytes) {
  return reinterpret_cast<const CommandBlock*>(bytes.data());
}

TEST_F(RegisterAccess, CommandBlockWorkedExample) {
  ASSERT_NO_FATAL_FAILURE(Start());
  SelectSensorNow();
  ASSERT_EQ(access_->WriteSensor(0x0C, 0x3A), STATUS_SUCCESS);
  TakeRequests();
  std::vector<UCHAR> block =
      Block({0x00, 0x12, 0x34, 0x60, 0x0C, 0x85, 0x0F, 0x90, 0x20, 0x02, 0x01, 0x02});
  ASSERT_EQ(block.size(), 16u);
  EXPECT_EQ(access_->RunCommandBlock(AsBlock(block)), STATUS_SUCCESS);
  EXPECT_EQ(TakeRequests(),
            Concat({{"W 12=34"}, SensorRead("0C"), SensorWrite("0C", "35"), {"W 20=01 02"}}));
  EXPECT_EQ(emulator_->PeekSensorRegister(0x0C), 0x35);
}

// A masked multi-byte entry of nine pairs (one read gives eight bytes), then a plain write.
std::vector<UCHAR> OverlongMaskedEntry() {
  std::vector<UCHAR> script = {0xC0, 0x72, 0x09};
  script.insert(script.end(), 18, 0x01);
  for (UCHAR byte : {0x00, 0x73, 0x07}) script.push_back(byte);
  return Block(script);
}

TEST_F(RegisterAccess, CommandBlockEdgesNeverRunPastTheBlock) {
  struct Case {
    const char* what;
    std::vector<UCHAR> block;
    Requests requests;
    NTSTATUS status;
  } cases[] = {
      {"only a mode byte", Block({0x00}), {}, STATUS_SUCCESS},
      {"ends on a mode byte", Block({0x00, 0x70, 0x01, 0x00}), {"W 70=01"}, STATUS_SUCCESS},
      {"mode held to the end",
       Block({0x10, 0x70, 0x01, 0x71, 0x02}),
       {"W 70=01", "W 71=02"},
       STATUS_SUCCESS},
      {"entry cut by the end", Block({0x40, 0x70, 0x01}), {}, STATUS_SUCCESS},
      {"count byte past the end", Block({0x80, 0x70}), {}, STATUS_SUCCESS},
      {"block data cut by the end", Block({0x80, 0x70, 0x03, 0x01, 0x02}), {}, STATUS_SUCCESS},
      {"masked multi-byte merge",
       Block({0xC0, 0x72, 0x02, 0xAB, 0xF0, 0x0C, 0x0F}),
       {"R8 72", "W 72=A1 2C"},
       STATUS_SUCCESS},
      {"masked multi-byte over eight skipped whole",
       OverlongMaskedEntry(),
       {"W 73=07"},
       STATUS_SUCCESS},
  };
  ASSERT_NO_FATAL_FAILURE(Start());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UCHAR initial[2] = {0x11, 0x22};
    ULONG count = 2;
    ASSERT_EQ(raw_->WriteRegisterBlock(0x72, initial, &count), STATUS_SUCCESS);
    TakeRequests();
    EXPECT_EQ(access_->RunCommandBlock(AsBlock(c.block)), c.status);
    EXPECT_EQ(TakeRequests(), c.requests);
  }
}

TEST_F(RegisterAccess, CommandBlockSkipsAnEntryWhoseReadFails) {
  ASSERT_NO_FATAL_FAILURE(Start({"fail_register=0x74"}));
  std::vector<UCHAR> block =
      Block({0x40, 0x74, 0x01, 0x0F, 0xC0, 0x74, 0x01, 0x01, 0x0F, 0x00, 0x75, 0x09});
  EXPECT_EQ(access_->RunCommandBlock(AsBlock(block)), STATUS_SUCCESS);
  EXPECT_EQ(TakeRequests(), (Requests{"R 74 !", "R8 74 !", "W 75=09"}));
}

TEST_F(RegisterAccess, RemovedDeviceRunsAListWithoutTrafficAndSucceeds) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_EQ(device_->SurpriseRemove(), STATUS_SUCCESS);
  ASSERT_EQ(context_->removed, 1);
  RegisterListEntry list[20];
  for (UCHAR index = 0; index < 20; ++index) {
    list[index] = {static_cast<UCHAR>(0x30 + index), index, index % 2 ? UCHAR{0xFF} : UCHAR{0x0F}};
  }
  EXPECT_EQ(camera_->RunBridgeList(list, 20), STATUS_SUCCESS);
  EXPECT_EQ(camera_->RunRegisterList(list, 20, FALSE), STATUS_SUCCESS);
  UCHAR value = 0x5E;
  EXPECT_EQ(access_->ReadBridge(0x00, &value, nullptr), STATUS_SUCCESS);
  EXPECT_EQ(value, 0x5E);
  EXPECT_TRUE(TakeRequests().empty());
}

TEST_F(RegisterAccess, ConcurrentSensorAccessesNeverInterleaveOnTheBus) {
  ASSERT_NO_FATAL_FAILURE(Start());
  SelectSensorNow();
  auto writer = [this](UCHAR reg) {
    for (int round = 0; round < 40; ++round) {
      EXPECT_EQ(access_->WriteSensor(reg, static_cast<UCHAR>(round)), STATUS_SUCCESS);
    }
  };
  std::thread first(writer, UCHAR{0x50});
  std::thread second(writer, UCHAR{0x51});
  first.join();
  second.join();
  Requests requests = TakeRequests();
  ASSERT_EQ(requests.size(), 80u * 5);
  for (size_t start = 0; start < requests.size(); start += 5) {
    std::string reg = requests[start].substr(5);
    std::string value = requests[start + 1].substr(5);
    Requests one(requests.begin() + static_cast<long>(start),
                 requests.begin() + static_cast<long>(start + 5));
    EXPECT_EQ(one, SensorWrite(reg, value)) << "at request " << start;
  }
  EXPECT_EQ(KeReadStateSemaphore(camera_->registerState.registerLock), 1);
}

}  // namespace
