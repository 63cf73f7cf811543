#pragma once
// A burn set up on fakes: an in-memory disk service, a recording operator, a
// settings reader with chosen values, and real configuration and pack files
// in a temporary folder. The default configuration is the worked example
// (Boot and Recovery 65,536 sectors, System 524,288, Data 1,048,576, Cache
// 262,144; a card of 482 cylinders = 7,743,330 sectors).
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "burn_inputs.h"
#include "common/debug_log.h"
#include "engine/burn_engine.h"
#include "fake_disk_service.h"
#include "fake_operator.h"
#include "test_support.h"

namespace tarnwick::testing {

class FakeSettings : public ISettingsReader {
 public:
  int ReadInt(const std::string& section, const std::string& key) override {
    reads.push_back(section + "/" + key);
    if (onRead) onRead(key);
    if (throwAt == key) throwError();
    auto it = values.find(key);
    return it == values.end() ? 0 : it->second;
  }
  std::map<std::string, int> values;  // section "Burn"
  std::vector<std::string> reads;
  std::string throwAt;  // a key whose read throws throwError()
  std::function<void()> throwError;
  std::function<void(const std::string& key)> onRead;  // called before every read
};

// Worked-example positions.
inline constexpr uint64_t kExampleCylinders = 482;  // 7,743,330 sectors
inline constexpr uint64_t kX = 5'776'985, kR = 7'612'248, kP = 7'677'784;
inline constexpr uint64_t kL1 = 524'288, kL2 = 1'572'864;

class BurnFixture : public ::testing::Test {
 protected:
  BurnFixture() {
    cfgFile = dir.File("board.ini");
    images[PackSlot::UBootBin] = PatternBytes(1000, 1);
    images[PackSlot::BootImg] = PatternBytes(4096, 2);
    images[PackSlot::BootRes] = PatternBytes(300'000, 3);
    images[PackSlot::BootRecover] = {};
    images[PackSlot::System] = PatternBytes(5000, 4);
    images[PackSlot::Data] = PatternBytes(1024, 5);
    images[PackSlot::Cache] = PatternBytes(700, 6);
    config = {{"PARTITION_SECTORS",
               {{"Partition_Boot", "65536"},
                {"Partition_Recovery", "65536"},
                {"Partition_System", "524288"},
                {"Partition_Data", "1048576"},
                {"Partition_Cache", "262144"},
                {"LABEL", "TARNWICK"}}},
              {"imageStoreInfor", {{"imageStoreNum", "2"}}}};
  }

  // Writes the configuration and the pack, then runs one burn.
  void Run() {
    WriteInputs();
    MakeEngine();
    engine->SetWaitDevice(true);
    LogCapture capture;
    engine->RunBurn();
    log = capture.Text();
  }

  void MakeEngine() {
    LogCapture constructionLines;
    engine = std::make_unique<CBurnEngine>(disks, op, settings);
    engine->SetCfgFile(cfgFile);
    engine->SetPackFile(packFile);
  }

  void WriteInputs() {
    std::ostringstream ini;
    for (const auto& [section, keys] : config) {
      ini << "[" << section << "]\n";
      for (const auto& [key, value] : keys) ini << key << "=" << value << "\n";
    }
    WriteFile(cfgFile, ini.str());
    packFile = WritePack(dir, images);
  }

  // The log split in lines, each with its "\n".
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) lines.push_back(line + "\n");
    return lines;
  }
  size_t Count(const std::string& line) const {
    size_t n = 0;
    for (const std::string& l : LogLines()) n += l == line;
    return n;
  }
  // The image's bytes followed by zeros, over count sectors.
  std::vector<uint8_t> Expected(PackSlot slot, uint64_t count) const {
    std::vector<uint8_t> bytes = images.at(slot);
    bytes.resize(count * 512, 0);
    return bytes;
  }

  TempDir dir;
  std::string cfgFile, packFile;
  std::map<PackSlot, std::vector<uint8_t>> images;
  std::map<std::string, std::map<std::string, std::string>> config;
  FakeDiskService disks;
  FakeOperator op;
  FakeSettings settings;
  std::unique_ptr<CBurnEngine> engine;
  std::string log;
};

}  // namespace tarnwick::testing
