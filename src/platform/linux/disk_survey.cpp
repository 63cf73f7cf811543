#include "platform/linux/disk_survey.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/disk_service.h"

namespace fs = std::filesystem;

namespace tarnwick {

namespace {

// File systems whose disk is the running system's.
const char* const kSystemMountPoints[] = {"/",    "/boot", "/boot/efi", "/efi",
                                          "/usr", "/var",  "/home"};

// Kernel devices that are never cards: virtual disks, optical drives, network disks.
const char* const kVirtualFamilies[] = {"loop", "ram", "zram", "dm-", "md", "sr", "nbd"};

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

bool AllDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsSdName(const std::string& name) {
  return name.size() > 2 && StartsWith(name, "sd") &&
         std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

bool IsMmcName(const std::string& name) {
  return StartsWith(name, "mmcblk") && AllDigits(name.substr(6));
}

// mmcblkNbootM and mmcblkNrpmb: the hardware areas of an eMMC, never listed.
bool IsMmcHardwareArea(const std::string& name) {
  return StartsWith(name, "mmcblk") &&
         (name.find("boot") != std::string::npos || name.find("rpmb") != std::string::npos);
}

// Disk names sort by family, then by length, then by name, which is the
// kernel's own order: mmcblk2 before mmcblk10, sdz before sdaa.
std::string Family(const std::string& name) {
  if (StartsWith(name, "sd")) return "sd";
  size_t n = 0;
  while (n < name.size() && name[n] >= 'a' && name[n] <= 'z') ++n;
  return name.substr(0, n);
}

bool DiskOrder(const DiskReport& a, const DiskReport& b) {
  const std::string fa = Family(a.name);
  const std::string fb = Family(b.name);
  if (fa != fb) return fa < fb;
  if (a.name.size() != b.name.size()) return a.name.size() < b.name.size();
  return a.name < b.name;
}

// Mount tables escape blanks, tabs, newlines and backslashes as octal.
std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    const auto octal = [&](size_t k) { return k < s.size() && s[k] >= '0' && s[k] <= '7'; };
    if (s[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      out +=
          static_cast<char>(((s[i + 1] - '0') << 6) | ((s[i + 2] - '0') << 3) | (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::string DevNum(uint32_t major, uint32_t minor) {
  return std::to_string(major) + ":" + std::to_string(minor);
}

std::string Join(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : ", ") + item;
  return out;
}

// The absolute, normalised form of a path, with symbolic links resolved
// where the path exists.
std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
  if (ec) p = fs::absolute(path, ec).lexically_normal();
  std::string s = p.string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

}  // namespace

bool IsVirtualDiskName(const std::string& name) {
  return std::any_of(std::begin(kVirtualFamilies), std::end(kVirtualFamilies),
                     [&](const char* family) { return StartsWith(name, family); });
}

bool IsAutomountPoint(const std::string& mountPoint) {
  return StartsWith(mountPoint, "/media/") || StartsWith(mountPoint, "/run/media/");
}

const char* VerdictText(DiskVerdict verdict) {
  switch (verdict) {
    case DiskVerdict::Accepted:
      return "accepted";
    case DiskVerdict::SystemDisk:
      return "system disk";
    case DiskVerdict::NotCardType:
      return "not a card";
    case DiskVerdict::Emmc:
      return "eMMC";
    case DiskVerdict::Fixed:
      return "fixed";
    case DiskVerdict::Empty:
      return "empty";
    case DiskVerdict::BeyondSlots:
      return "beyond slots";
  }
  return "";
}

DiskSurvey::DiskSurvey(const SurveyOptions& options, DiskSysCalls& sys)
    : m_sys(sys), m_root(options.root.empty() ? "/" : options.root) {
  ReadBlockTree();
  ReadMounts();
  ReadSwaps();
  ResolveProtected(options.protectedPaths);
  BuildReports();
}

std::string DiskSurvey::ReadAttr(const std::string& relPath) const {
  std::ifstream in(fs::path(m_root) / relPath);
  std::stringstream ss;
  ss << in.rdbuf();
  return Trim(ss.str());
}

void DiskSurvey::ReadBlockTree() {
  std::error_code ec;
  const fs::path blockDir = fs::path(m_root) / "sys/block";
  for (const fs::directory_entry& entry : fs::directory_iterator(blockDir, ec)) {
    const std::string disk = entry.path().filename().string();
    Node& node = m_nodes[disk];
    node.disk = disk;
    m_byDevNum[ReadAttr("sys/block/" + disk + "/dev")] = disk;
    std::error_code ec2;
    for (const fs::directory_entry& slave : fs::directory_iterator(entry.path() / "slaves", ec2)) {
      node.slaves.push_back(slave.path().filename().string());
    }
    std::sort(node.slaves.begin(), node.slaves.end());
    const std::string dmName = ReadAttr("sys/block/" + disk + "/dm/name");
    if (!dmName.empty()) m_dmByName[dmName] = disk;
    for (const fs::directory_entry& sub : fs::directory_iterator(entry.path(), ec2)) {
      if (!fs::exists(sub.path() / "partition", ec2)) continue;
      const std::string part = sub.path().filename().string();
      m_nodes[part].disk = disk;
      m_byDevNum[ReadAttr("sys/block/" + disk + "/" + part + "/dev")] = part;
    }
  }
  m_byDevNum.erase("");
}

void DiskSurvey::ReadMounts() {
  std::ifstream in(fs::path(m_root) / "proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::vector<std::string> f;
    for (std::string field; fields >> field;) f.push_back(field);
    // id parent major:minor root mount-point options [optional...] - type source ...
    if (f.size() < 6) continue;
    const auto dash = std::find(f.begin() + 6, f.end(), "-");
    if (dash == f.end()) continue;
    Mount mount;
    mount.devNum = f[2];
    mount.mountPoint = Unescape(f[4]);
    if (f.end() - dash > 2) mount.source = Unescape(*(dash + 2));
    m_mounts.push_back(mount);
  }
  for (const Mount& mount : m_mounts) {
    const bool system = std::any_of(std::begin(kSystemMountPoints), std::end(kSystemMountPoints),
                                    [&](const char* mp) { return mount.mountPoint == mp; });
    if (!system) continue;
    MarkSystem(NameOfMount(mount), mount.mountPoint);
  }
}

void DiskSurvey::ReadSwaps() {
  std::ifstream in(fs::path(m_root) / "proc/swaps");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string file, type;
    if (!(fields >> file >> type) || file == "Filename") continue;
    file = Unescape(file);
    const std::string name = (type == "partition" || StartsWith(file, "/dev/"))
                                 ? NameOfSource(file)
                                 : NameOfMountHolding(file);
    MarkSystem(name, "swap " + file);
  }
}

void DiskSurvey::ResolveProtected(const std::vector<ProtectedPath>& paths) {
  for (const ProtectedPath& p : paths) {
    if (p.path.empty()) continue;
    const std::string use = p.label + " " + p.path;
    DiskFileInfo info;
    if (m_sys.Stat(p.path, info) == 0) {
      const auto byNum = m_byDevNum.find(DevNum(info.devMajor, info.devMinor));
      if (byNum != m_byDevNum.end()) MarkSystem(byNum->second, use);
    }
    // Some file systems (btrfs) report a device number of their own; the
    // mount table still names the device.
    MarkSystem(NameOfMountHolding(AbsolutePath(p.path)), use);
  }
}

std::string DiskSurvey::NameOfSource(const std::string& source) const {
  if (StartsWith(source, "/dev/mapper/")) {
    const auto dm = m_dmByName.find(source.substr(12));
    return dm != m_dmByName.end() ? dm->second : std::string();
  }
  if (!StartsWith(source, "/dev/")) return {};
  const std::string name = fs::path(source).filename().string();
  return m_nodes.count(name) ? name : std::string();
}

std::string DiskSurvey::NameOfMount(const Mount& mount) const {
  const auto byNum = m_byDevNum.find(mount.devNum);
  return byNum != m_byDevNum.end() ? byNum->second : NameOfSource(mount.source);
}

std::string DiskSurvey::NameOfMountHolding(const std::string& path) const {
  const Mount* best = nullptr;
  for (const Mount& mount : m_mounts) {
    const std::string& mp = mount.mountPoint;
    const bool holds = mp == "/" || path == mp || StartsWith(path, mp + "/");
    // A later mount on the same point hides the earlier one.
    if (holds && (!best || mp.size() >= best->mountPoint.size())) best = &mount;
  }
  return best ? NameOfMount(*best) : std::string();
}

std::vector<std::string> DiskSurvey::DisksUnder(const std::string& name, int depth) const {
  const auto node = m_nodes.find(name);
  if (node == m_nodes.end() || depth > 16) return {};
  const Node& disk = m_nodes.at(node->second.disk);
  if (disk.slaves.empty()) return {node->second.disk};
  std::vector<std::string> out;
  for (const std::string& slave : disk.slaves) {
    for (std::string& d : DisksUnder(slave, depth + 1)) {
      if (std::find(out.begin(), out.end(), d) == out.end()) out.push_back(std::move(d));
    }
  }
  return out;
}

void DiskSurvey::MarkSystem(const std::string& name, const std::string& use) {
  // The device itself (a loop device, say) and the disks beneath it.
  std::vector<std::string> disks = DisksUnder(name);
  if (const auto node = m_nodes.find(name); node != m_nodes.end())
    disks.push_back(node->second.disk);
  for (const std::string& disk : disks) {
    std::vector<std::string>& uses = m_systemUses[disk];
    if (std::find(uses.begin(), uses.end(), use) == uses.end()) uses.push_back(use);
  }
}

std::vector<std::string> DiskSurvey::SystemUsesOf(const std::string& name) const {
  const auto node = m_nodes.find(name);
  if (node == m_nodes.end()) return {};
  const auto uses = m_systemUses.find(node->second.disk);
  return uses != m_systemUses.end() ? uses->second : std::vector<std::string>();
}

std::vector<DiskMount> DiskSurvey::MountsOf(const std::string& name) const {
  std::vector<DiskMount> out;
  const auto node = m_nodes.find(name);
  if (node == m_nodes.end()) return out;
  const std::string& disk = node->second.disk;
  for (const Mount& mount : m_mounts) {
    const std::string mounted = NameOfMount(mount);
    if (mounted.empty()) continue;
    const std::vector<std::string> under = DisksUnder(mounted);
    const bool onDisk = m_nodes.at(mounted).disk == disk ||
                        std::find(under.begin(), under.end(), disk) != under.end();
    if (onDisk) out.push_back({"/dev/" + mounted, mount.mountPoint});
  }
  return out;
}

bool DiskSurvey::IsRemovable(const std::string& name) const {
  if (IsMmcName(name)) return ReadAttr("sys/block/" + name + "/device/type") == "SD";
  return ReadAttr("sys/block/" + name + "/removable") == "1";
}

bool DiskSurvey::IsPartition(const std::string& name) const {
  const auto node = m_nodes.find(name);
  return node != m_nodes.end() && node->second.disk != name;
}

DiskReport DiskSurvey::Describe(const std::string& name) const {
  DiskReport r;
  r.name = name;
  r.devicePath = "/dev/" + name;
  r.removable = IsRemovable(name);
  const std::string size = ReadAttr("sys/block/" + name + "/size");
  r.sysfsBytes = AllDigits(size) ? std::stoull(size) * 512 : 0;
  r.systemUses = SystemUsesOf(name);
  r.mounts = MountsOf(name);
  ReadIdentity(r);
  if (!r.systemUses.empty()) {
    r.verdict = DiskVerdict::SystemDisk;
    r.reason = "system disk: holds " + Join(r.systemUses);
  } else if (!IsSdName(name) && !IsMmcName(name)) {
    r.verdict = DiskVerdict::NotCardType;
    r.reason = "not a card reader or SD card slot";
  } else if (IsMmcName(name) && ReadAttr("sys/block/" + name + "/device/type") == "MMC") {
    r.verdict = DiskVerdict::Emmc;
    r.reason = "soldered eMMC, a fixed disk";
  } else if (!r.removable) {
    r.verdict = DiskVerdict::Fixed;
    r.reason = "fixed disk, not removable media";
  } else if (r.sysfsBytes == 0) {
    r.verdict = DiskVerdict::Empty;
    r.reason = "no card in the reader";
  } else {
    r.reason = "removable card";
  }
  return r;
}

void DiskSurvey::ReadIdentity(DiskReport& r) const {
  const std::string device = "sys/block/" + r.name + "/device/";
  if (IsMmcName(r.name)) {
    // The card's own register fields: manufacturer and OEM ids, product name, serial.
    const std::string manfid = ReadAttr(device + "manfid");
    const std::string oemid = ReadAttr(device + "oemid");
    r.vendor = manfid.empty() ? oemid : oemid.empty() ? manfid : manfid + "/" + oemid;
    r.model = ReadAttr(device + "name");
    r.serial = ReadAttr(device + "serial");
    return;
  }
  r.vendor = ReadAttr(device + "vendor");
  r.model = ReadAttr(device + "model");
  // USB readers give their serial number through udev's database only.
  std::ifstream in(fs::path(m_root) / "run/udev/data" /
                   ("b" + ReadAttr("sys/block/" + r.name + "/dev")));
  for (std::string line; std::getline(in, line);) {
    if (StartsWith(line, "E:ID_SERIAL_SHORT=")) r.serial = Trim(line.substr(18));
  }
}

std::vector<DiskReport> DiskSurvey::LoopDevices() const {
  std::vector<DiskReport> loops;
  for (const auto& [name, node] : m_nodes) {
    if (node.disk != name || !StartsWith(name, "loop")) continue;
    const std::string backing = ReadAttr("sys/block/" + name + "/loop/backing_file");
    const std::string size = ReadAttr("sys/block/" + name + "/size");
    const uint64_t bytes = AllDigits(size) ? std::stoull(size) * 512 : 0;
    if (backing.empty() && bytes == 0) continue;  // no file attached
    DiskReport r;
    r.name = name;
    r.devicePath = "/dev/" + name;
    r.sysfsBytes = bytes;
    r.verdict = DiskVerdict::NotCardType;
    r.reason = "loop device" + (backing.empty() ? std::string() : " of " + backing) +
               ": a file seen as a disk, never a card; name it as a target to burn it";
    loops.push_back(std::move(r));
  }
  std::sort(loops.begin(), loops.end(), DiskOrder);
  return loops;
}

void DiskSurvey::BuildReports() {
  for (const auto& [name, node] : m_nodes) {
    if (node.disk != name || IsVirtualDiskName(name) || IsMmcHardwareArea(name)) continue;
    m_disks.push_back(Describe(name));
  }
  std::sort(m_disks.begin(), m_disks.end(), DiskOrder);
  size_t accepted = 0;
  for (DiskReport& r : m_disks) {
    if (r.verdict != DiskVerdict::Accepted) continue;
    if (++accepted > kMaxDiskSlots) {
      r.verdict = DiskVerdict::BeyondSlots;
      r.reason = "removable card beyond the " + std::to_string(kMaxDiskSlots) + " slots of a burn";
      continue;
    }
    for (const DiskMount& m : r.mounts) {
      r.reason += (IsAutomountPoint(m.mountPoint) ? "; unmounted before writing: "
                                                  : "; refused while mounted at ") +
                  m.mountPoint;
    }
  }
}

std::string DiskSurvey::NodeName(const std::string& path) const {
  DiskFileInfo info;
  if (m_sys.Stat(path, info) == 0 && info.isBlockDevice) {
    const auto byNum = m_byDevNum.find(DevNum(info.rdevMajor, info.rdevMinor));
    if (byNum != m_byDevNum.end()) return byNum->second;
  }
  return NameOfSource(path);
}

const DiskReport* DiskSurvey::Find(const std::string& path) const {
  const std::string name = NodeName(path);
  for (const DiskReport& r : m_disks) {
    if (r.devicePath == path || (!name.empty() && r.name == name)) return &r;
  }
  return nullptr;
}

}  // namespace tarnwick
