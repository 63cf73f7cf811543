#pragma once
// What lets a burn stop cleanly on Ctrl-C, and watch mode: cards burned as
// they are inserted, until Ctrl-C.
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cli/card_lines.h"
#include "cli/cli_operator.h"
#include "engine/burn_engine.h"
#include "platform/host.h"

namespace tarnwick::cli {

// The host's disks as a burn sees them: once stop() is true no disk is
// opened and no write starts (the card in hand is flushed and fails after
// its current write), and in watch mode only the cards that have just
// arrived are in the slot table.
class CInterruptibleDisks final : public IDiskService {
 public:
  CInterruptibleDisks(IDiskService& inner, std::function<bool()> stop)
      : m_inner(inner), m_stop(std::move(stop)) {}

  // Only these devices are listed (in the inner table's order); nullopt: all.
  void Admit(std::optional<std::set<std::string>> devices) { m_admitted = std::move(devices); }

  std::vector<DiskSlot> Slots() override;
  std::unique_ptr<IDiskQuery> OpenForQuery(const std::string& path) override {
    return m_inner.OpenForQuery(path);
  }
  SysResult<std::unique_ptr<IDiskWriter>> OpenForWrite(const std::string& path) override;
  std::string DiskInstanceOf(const std::string& path) override {
    return m_inner.DiskInstanceOf(path);
  }

 private:
  IDiskService& m_inner;
  std::function<bool()> m_stop;
  std::optional<std::set<std::string>> m_admitted;
};

// Tracks which cards are in the readers between surveys: a card is new when
// its device was absent (or held another disk) at the survey before.
class CArrivals {
 public:
  // The cards of this survey that were not there at the last one.
  std::vector<CardDescription> Update(
      const std::vector<CardDescription>& present,
      const std::function<std::string(const std::string&)>& instanceOf);

 private:
  std::set<std::pair<std::string, std::string>> m_known;  // device, disk instance
};

struct WatchContext {
  IHost& host;
  CInterruptibleDisks& disks;
  CBurnEngine& engine;
  CCliOperator& op;
  CCardResults& results;
  // Surveys every pollMilliseconds instead of waiting for the host's arrival
  // notices (card image tables, named targets, or no notices to be had).
  bool poll = false;
  int pollMilliseconds = 250;
  // Called before each run (the progress counts the cards of that run).
  std::function<void()> startRun;
  // Called after each run (its report and audit lines).
  std::function<void()> endRun;
};

// Burns each card as it arrives until Ctrl-C; returns the exit status (130).
int RunWatch(WatchContext& context);

// The result of a run stopped by Ctrl-C.
inline constexpr int kInterruptedExitStatus = 130;

}  // namespace tarnwick::cli
