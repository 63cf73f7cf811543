// What every system's read-only file shares: the read fault of the tests.
#include "platform/fs/read_only_file.h"

#include <utility>

namespace tarnwick {
namespace {

ReadFault& Fault() {
  static ReadFault fault;
  return fault;
}

}  // namespace

ReadFault SetReadFault(ReadFault fault) {
  return std::exchange(Fault(), std::move(fault));
}

SysStatus ReadFaultAt(uint64_t offset, size_t length) {
  const ReadFault& fault = Fault();
  return fault ? fault(offset, length) : SysStatus::Ok();
}

}  // namespace tarnwick
