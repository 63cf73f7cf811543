#include "platform/linux/linux_disk_service.h"

#include <filesystem>

#include "platform/linux/disk_instance.h"
#include "platform/linux/disk_open.h"
#include "platform/linux/errno_status.h"

namespace tarnwick {

SurveyOptions MakeSurveyOptions(const LinuxDiskOptions& options) {
  SurveyOptions survey;
  survey.root = options.root;
  survey.protectedPaths = options.protectedPaths;
  std::error_code ec;
  const std::filesystem::path cwd = std::filesystem::current_path(ec);
  if (!ec) survey.protectedPaths.push_back({"working directory", cwd.string()});
  return survey;
}

CardOpenHost MakeCardOpenHost(const LinuxDiskOptions& options, DiskSysCalls& sys,
                              const std::string& path) {
  CardOpenHost host{options.clock ? *options.clock : SystemClock(), options.root, {}};
  host.udisks = options.udisks ? options.udisks : options.sys ? nullptr : &SystemUdisksBus();
  host.mountsNow = [options, &sys, path] {
    const DiskSurvey survey(MakeSurveyOptions(options), sys);
    const std::string name = survey.NodeName(path);
    return name.empty() ? std::vector<DiskMount>{} : survey.Describe(name).mounts;
  };
  return host;
}

std::string TestTreeRefusal(const LinuxDiskOptions& options, const std::string& path) {
  if (options.sys || options.root.empty() || std::filesystem::path(options.root) == "/") return {};
  return path + " belongs to the host described under " + options.root + " and is never opened";
}

LinuxDiskService::LinuxDiskService(LinuxDiskOptions options)
    : m_options(std::move(options)), m_sys(m_options.sys ? *m_options.sys : RealDiskSysCalls()) {}

DiskSurvey LinuxDiskService::Survey() {
  return DiskSurvey(MakeSurveyOptions(m_options), m_sys);
}

std::vector<DiskSlot> LinuxDiskService::Slots() {
  const DiskSurvey survey = Survey();
  std::vector<DiskSlot> slots;
  for (const DiskReport& r : survey.Disks()) {
    if (r.verdict == DiskVerdict::Accepted) slots.push_back({r.devicePath});
  }
  return slots;
}

std::unique_ptr<IDiskQuery> LinuxDiskService::OpenForQuery(const std::string& path) {
  if (!TestTreeRefusal(m_options, path).empty()) return nullptr;
  const DiskSurvey survey = Survey();
  const DiskReport* disk = survey.Find(path);
  if (!disk || disk->verdict == DiskVerdict::SystemDisk) return nullptr;
  return QueryBlockDevice(m_sys, path, disk->removable, disk->sysfsBytes);
}

SysResult<std::unique_ptr<IDiskWriter>> LinuxDiskService::OpenForWrite(const std::string& path) {
  if (std::string refusal = TestTreeRefusal(m_options, path); !refusal.empty()) {
    return Refusal(std::errc::operation_not_permitted, std::move(refusal));
  }
  // The rule is applied afresh: the disk may have changed since discovery.
  const DiskSurvey survey = Survey();
  const DiskReport* disk = survey.Find(path);
  if (!disk) {
    return Refusal(std::errc::no_such_device,
                   path + " is not a card reader or SD card slot of this computer");
  }
  if (disk->verdict != DiskVerdict::Accepted) {
    return Refusal(std::errc::operation_not_permitted, path + " is refused: " + disk->reason);
  }
  return OpenCardForWrite(m_sys, path, disk->mounts, MakeCardOpenHost(m_options, m_sys, path));
}

std::string LinuxDiskService::DiskInstanceOf(const std::string& path) {
  const DiskSurvey survey = Survey();
  const DiskReport* disk = survey.Find(path);
  if (!disk) return {};
  return ReadDiskInstance(
      (std::filesystem::path(m_options.root) / "sys/block" / disk->name).string());
}

std::vector<DiskReport> LinuxDiskService::ListDisks() {
  const DiskSurvey survey = Survey();
  std::vector<DiskReport> disks = survey.Disks();
  // Loop devices are never probed, but an operator who attached one looks for it.
  for (DiskReport& loop : survey.LoopDevices()) disks.push_back(std::move(loop));
  return disks;
}

}  // namespace tarnwick
