// The camlab binary as a new user meets it: bad command lines, unknown models and formats, and an
// output that cannot be written each end with a message naming the problem, the exit status for
// it, and no files left behind.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "cli_options.h"

namespace camlab {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int exit = -1;
  std::string output;  // standard output and error together
};

class ToolErrors : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("camlab-tool-" +
               std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
               std::to_string(getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_ / "models");
    // Two small model files, in the form the installer's setting files take.
    for (const char* variant : {"lynxcam", "ibexcam"}) {
      std::ofstream file(folder_ / "models" / (std::string(variant) + ".settings"));
      file << "[Model.AddReg]\nHKR, %Model%, VersionCheck, 1, 42, 29, FF, 03\n[Strings]\n"
           << "Model = \"CameraSetting\\SupportCamera\\Test_" << variant << "\"\n"
           << "Name = \"Test camera on " << variant << "\"\n";
    }
  }
  void TearDown() override { fs::remove_all(folder_); }

  Outcome Run(const std::string& arguments) const {
    std::string command = "cd '" + folder_.string() + "' && '" CAMLAB_BINARY "' --models models " +
                          arguments + " 2>&1";
    Outcome outcome;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return outcome;
    std::array<char, 512> chunk;
    while (fgets(chunk.data(), chunk.size(), pipe) != nullptr) outcome.output += chunk.data();
    int status = pclose(pipe);
    outcome.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
  }

  fs::path folder_;
};

TEST_F(ToolErrors, EachMistakeIsNamedWithItsExitStatus) {
  const struct {
    const char* arguments;
    int exit;
    const char* message;
  } cases[] = {
      {"--bogus", kExitUsage, "unknown option '--bogus'"},
      {"shoot", kExitUsage, "unknown command 'shoot'"},
      {"capture --frames lots", kExitUsage, "--frames"},
      {"capture --format 640by480", kExitUsage, "--format needs"},
      {"capture --device no_such_knob=1", kExitUsage, "unknown device knob 'no_such_knob'"},
      {"capture --model NoSuchCamera", kExitNotFound, "unknown model 'NoSuchCamera'"},
      {"formats --model NoSuchCamera", kExitNotFound, "unknown model 'NoSuchCamera'"},
      {"--models ./absent models", kExitNotFound, "cannot read the models folder './absent'"},
      {"capture --output /proc/camlab/", kExitOutput,
       "cannot create the output folder '/proc/camlab'"},
  };
  for (const auto& test : cases) {
    Outcome outcome = Run(test.arguments);
    EXPECT_EQ(outcome.exit, test.exit) << test.arguments << "\n" << outcome.output;
    EXPECT_NE(outcome.output.find(test.message), std::string::npos)
        << test.arguments << " said: " << outcome.output;
  }
  // Nothing was written where the commands ran, not even an empty output folder.
  EXPECT_FALSE(fs::exists(folder_ / "captures"));
}

TEST_F(ToolErrors, HelpAndModelsAnswerWithoutACamera) {
  Outcome help = Run("--help");
  EXPECT_EQ(help.exit, kExitOk);
  EXPECT_NE(help.output.find("capture"), std::string::npos);
  Outcome models = Run("--json models");
  EXPECT_EQ(models.exit, kExitOk);
  EXPECT_NE(models.output.find("{\"name\": \"Test_lynxcam\", \"driver\": \"lynxcam\", "
                               "\"description\": \"Test camera on lynxcam\"}"),
            std::string::npos)
      << models.output;
  EXPECT_NE(models.output.find("\"name\": \"Test_ibexcam\""), std::string::npos) << models.output;
}

}  // namespace
}  // namespace camlab
